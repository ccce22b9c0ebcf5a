#include "services/Trash.h"

#include "services/GLibPtr.h"

#include <QDir>
#include <QFile>

#include <gio/gio.h>
#include <gio/gunixmounts.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace dm {
namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}
QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }
QString shown(const QByteArray& path) { return QFile::decodeName(path); }

// Why `path` is not one the disposal functions accept; empty when it is.
// GIO resolved "." and ".." by text and dropped a trailing slash, so through
// a symbolic link such a path could name another entry than the kernel's;
// the program still refuses them as it did then.
QString pathProblem(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("No file name given");
    if (path.contains(QChar(u'\0')))
        return QStringLiteral("The file name contains a NUL character");
    if (!path.startsWith(QLatin1Char('/')))
        return QStringLiteral("%1 is not an absolute path").arg(path);
    if (path.endsWith(QLatin1Char('/')))
        return QStringLiteral("%1 ends in a slash").arg(path);
    // A "." or ".." part: a dot or two between slashes, or after the last.
    const QChar* const begin = path.constData();
    const QChar* const end = begin + path.size();
    for (const QChar* p = begin; p != end;) {
        const QChar* const part = ++p; // just after a slash
        while (p != end && *p != QLatin1Char('/'))
            ++p;
        const auto size = p - part;
        if ((size == 1 || size == 2) && part[0] == QLatin1Char('.') && part[size - 1] == QLatin1Char('.'))
            return QStringLiteral("%1 has a \".\" or \"..\" part").arg(path);
    }
    return {};
}

// Paths here are absolute without a trailing slash, so there is always one.
QByteArray dirName(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}
QByteArray baseName(const QByteArray& path) { return path.mid(path.lastIndexOf('/') + 1); }
QByteArray join(const QByteArray& dir, const QByteArray& name)
{
    return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

FileId idOf(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// Returns 0 or the errno of the failure.
int writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return errno;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return 0;
}

// renameat2 without replacing; file systems that lack it get a hard link,
// which fails on an existing name just the same. Returns 0 or errno.
int moveNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return errno;
    ::unlinkat(fromDir, from, 0);
    return 0;
}

// A descriptor closed with its scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    [[nodiscard]] int get() const { return m_fd; }
    [[nodiscard]] bool valid() const { return m_fd >= 0; }
    [[nodiscard]] int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// The user's own, or the system's: nobody else can swap what lies in it.
bool trusted(const struct stat& st) { return st.st_uid == ::geteuid() || st.st_uid == 0; }

// The folder `dir` (absolute, plain) opened one part at a time from the
// root, for the *at calls: every part must be a folder of the user's or
// root's, and a symbolic link counts only when the user or root made it and
// it leads to such a folder. Missing parts are made, private (0700), and
// never through a link. Invalid, with *error set, when the way is not safe.
Fd openTrustedFolder(const QByteArray& dir, QString* error)
{
    const auto refuse = [&](const QByteArray& at, const QString& why) {
        setError(error, QStringLiteral("%1 %2").arg(shown(at), why));
        return Fd();
    };
    Fd fd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    QByteArray at = "/";
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !trusted(st))
        return refuse(at, QStringLiteral("cannot be opened as the user's or the system's folder"));
    for (const QByteArray& part : dir.split('/')) {
        if (part.isEmpty())
            continue;
        at = join(at, part);
        if (::fstatat(fd.get(), part.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || (::mkdirat(fd.get(), part.constData(), 0700) != 0 && errno != EEXIST)
                || ::fstatat(fd.get(), part.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                const int err = errno;
                return refuse(at, QStringLiteral("cannot be made: %1").arg(errnoText(err)));
            }
        }
        if (S_ISLNK(st.st_mode) && !trusted(st))
            return refuse(at, QStringLiteral("is a symbolic link another user made"));
        if (!S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode))
            return refuse(at, QStringLiteral("is not a folder"));
        Fd next(::openat(fd.get(), part.constData(),
                         O_PATH | O_DIRECTORY | O_CLOEXEC | (S_ISLNK(st.st_mode) ? 0 : O_NOFOLLOW)));
        if (!next.valid() || ::fstat(next.get(), &st) != 0) {
            const int err = errno;
            return refuse(at, QStringLiteral("cannot be opened: %1").arg(errnoText(err)));
        }
        if (!trusted(st))
            return refuse(at, QStringLiteral("belongs to another user"));
        fd = std::move(next);
    }
    return fd;
}

// Makes info/ and files/ (0700); returns 0 or errno.
int makeSubfolders(const QByteArray& trashDir)
{
    for (const char* sub : {"/info", "/files"}) {
        if (::mkdir((trashDir + sub).constData(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

// GIO leaves mounts it does not know, system mounts (which nothing shows as
// a trash) and read-only ones alone.
bool mountTakesTrash(const QByteArray& topdir)
{
    const GLibPtr<GUnixMountEntry, g_unix_mount_free> mount(g_unix_mount_at(topdir.constData(), nullptr));
    return mount && !g_unix_mount_is_system_internal(mount.get()) && !g_unix_mount_is_readonly(mount.get());
}

// The top of the file system `dir` (no links in it) lies on.
QByteArray topdirOf(QByteArray dir)
{
    struct stat st {};
    if (::lstat(dir.constData(), &st) != 0)
        return {};
    while (dir != "/") {
        const QByteArray parent = dirName(dir);
        struct stat up {};
        if (::lstat(parent.constData(), &up) != 0 || up.st_dev != st.st_dev)
            break;
        dir = parent;
    }
    return dir;
}

// $topdir/.Trash/$uid when the administrator made a sticky .Trash, else
// $topdir/.Trash-$uid; either must be a folder of the user's own, not a
// link. Empty when neither will do.
QByteArray topdirTrash(const QByteArray& topdir)
{
    const uid_t uid = ::geteuid();
    const QByteArray shared = join(topdir, ".Trash");
    struct stat st {};
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
        QByteArray own = shared + '/' + QByteArray::number(uid);
        if (::lstat(own.constData(), &st) == 0 ? S_ISDIR(st.st_mode) && st.st_uid == uid
                                               : ::mkdir(own.constData(), 0700) == 0)
            return own;
    }
    QByteArray own = join(topdir, ".Trash-" + QByteArray::number(uid));
    bool made = false;
    if (::lstat(own.constData(), &st) != 0) {
        if (::mkdir(own.constData(), 0700) != 0 || ::lstat(own.constData(), &st) != 0)
            return {};
        made = true;
    }
    if (S_ISDIR(st.st_mode) && st.st_uid == uid)
        return own;
    // A file system without owners (FAT) gives the new folder to someone else.
    if (made)
        ::rmdir(own.constData());
    return {};
}

// "a.tar.gz", "a.2.tar.gz", "a.3.tar.gz" …; ".hidden", ".2.hidden"; "README", "README.2".
QByteArray uniqueName(const QByteArray& base, int id)
{
    if (id == 1)
        return base;
    const QByteArray number = '.' + QByteArray::number(id);
    const qsizetype dot = base.indexOf('.');
    return dot < 0 ? base + number : base.left(dot) + number + base.mid(dot);
}

bool g_infoByRename = false;

// A new file `path` in `folder` holding `text`, whole from the moment it is
// there: written unnamed, then linked in, which fails on a taken name.
// Returns 0 or errno (EEXIST: the name is taken).
int linkNew(const QByteArray& folder, const QByteArray& path, const QByteArray& text)
{
    const int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int err = writeAll(fd, text.constData(), static_cast<std::size_t>(text.size()));
    // Through /proc: linking by descriptor (AT_EMPTY_PATH) needs privileges.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (err == 0 && ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) != 0)
        err = errno;
    ::close(fd);
    return err;
}

// GIO's way, for file systems without unnamed files: an empty file reserves
// the name, and the text is written aside and renamed over it. Returns 0 or
// errno (EEXIST: the name is taken).
int reserveAndWrite(const QByteArray& path, const QByteArray& text)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    QByteArray temp = path + ".XXXXXX";
    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        const int err = errno;
        ::unlink(path.constData());
        return err;
    }
    int err = writeAll(out, text.constData(), static_cast<std::size_t>(text.size()));
    if (::close(out) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(temp.constData(), path.constData()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.constData());
        ::unlink(path.constData());
    }
    return err;
}

QByteArray trashInfo(const QByteArray& original)
{
    const GLibPtr<char, g_free> escaped(g_uri_escape_string(original.constData(), "/", FALSE));
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    std::array<char, 32> date{};
    const bool dated = ::localtime_r(&now, &local) != nullptr
        && std::strftime(date.data(), date.size(), "%Y-%m-%dT%H:%M:%S", &local) != 0;
    return "[Trash Info]\nPath=" + QByteArray(escaped.get())
        + "\nDeletionDate=" + (dated ? QByteArray(date.data()) : QByteArray("9999-12-31T23:59:59")) + '\n';
}

int copyBytes(int in, int out)
{
    std::array<char, 1 << 16> buffer{};
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0 ? 0 : errno;
        if (const int err = writeAll(out, buffer.data(), static_cast<std::size_t>(got)); err != 0)
            return err;
    }
}

// A copy of the regular file files/<name> as <to> in the folder `toDir`,
// with its bytes, mode and times, written beside it first so that it
// appears whole or not at all. Returns 0 or errno (EEXIST: something is there).
int copyFile(int filesDir, const QByteArray& name, const struct stat& st, int toDir, const QByteArray& to)
{
    const Fd in(::openat(filesDir, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.valid())
        return errno;
    // Named as the program's other temporary files, so a killed run's leftover is known as one.
    const QByteArray stem = '.' + to + ".dustmaw-" + QByteArray::number(::getpid()) + '-';
    QByteArray temp;
    Fd out;
    for (int tries = 0; !out.valid() && tries < 100; ++tries) {
        temp = stem + QByteArray::number(static_cast<quint64>(g_random_int()), 36);
        out.reset(::openat(toDir, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.valid() && errno != EEXIST)
            return errno;
    }
    if (!out.valid())
        return EEXIST;
    int err = copyBytes(in.get(), out.get());
    const std::array<timespec, 2> times{st.st_atim, st.st_mtim};
    // On disk before the trash's copy, the only other one, goes.
    if (err == 0
        && (::fchmod(out.get(), st.st_mode & 07777) != 0 || ::futimens(out.get(), times.data()) != 0
            || ::fsync(out.get()) != 0))
        err = errno;
    if (::close(out.release()) != 0 && err == 0)
        err = errno;
    if (err == 0)
        err = moveNoReplace(toDir, temp.constData(), toDir, to.constData());
    if (err != 0)
        ::unlinkat(toDir, temp.constData(), 0);
    return err;
}

// A symbolic link again as a link to the same target. Returns 0 or errno.
int copyLink(int filesDir, const QByteArray& name, const struct stat& st, int toDir, const QByteArray& to)
{
    std::array<char, PATH_MAX> value{};
    const ssize_t size = ::readlinkat(filesDir, name.constData(), value.data(), value.size());
    if (size < 0)
        return errno;
    if (static_cast<std::size_t>(size) >= value.size())
        return ENAMETOOLONG;
    if (::symlinkat(QByteArray(value.data(), size).constData(), toDir, to.constData()) != 0)
        return errno;
    const std::array<timespec, 2> times{st.st_atim, st.st_mtim};
    ::utimensat(toDir, to.constData(), times.data(), AT_SYMLINK_NOFOLLOW); // cosmetic; the link is back
    return 0;
}

RestoreResult copyAcross(int filesDir, const QByteArray& name, const struct stat& st, int toDir, const QByteArray& to,
                         const QString& target, QString* error)
{
    // renameat2 says EXDEV before it looks at the target.
    struct stat there {};
    if (::fstatat(toDir, to.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0)
        return RestoreResult::Occupied;
    int err = 0;
    if (S_ISREG(st.st_mode))
        err = copyFile(filesDir, name, st, toDir, to);
    else if (S_ISLNK(st.st_mode))
        err = copyLink(filesDir, name, st, toDir, to);
    else {
        setError(
            error,
            QStringLiteral("Cannot restore %1 to another file system: it is neither a file nor a link").arg(target));
        return RestoreResult::Failed;
    }
    if (err == EEXIST)
        return RestoreResult::Occupied;
    if (err == 0 && ::unlinkat(filesDir, name.constData(), 0) != 0) {
        err = errno;
        ::unlinkat(toDir, to.constData(), 0); // one copy only: the one in the trash stays
    }
    if (err != 0) {
        setError(error, QStringLiteral("Cannot restore %1: %2").arg(target, errnoText(err)));
        return RestoreResult::Failed;
    }
    return RestoreResult::Restored;
}

// Why `dir` is no trash folder this user's entries may lie in; empty when it
// is one: the home trash, or on another mount $topdir/.Trash-$uid of the
// user's own or $topdir/.Trash/$uid in a sticky .Trash, neither a link.
QString trashFolderProblem(const QString& trashDir)
{
    if (QString problem = pathProblem(trashDir); !problem.isEmpty())
        return problem;
    if (trashDir == homeTrashPath())
        return {};
    const QByteArray dir = QFile::encodeName(trashDir);
    QString notOne = QStringLiteral("%1 is not a trash folder").arg(trashDir);
    const QByteArray uid = QByteArray::number(::geteuid()), parent = dirName(dir);
    struct stat st {};
    QByteArray topdir;
    if (baseName(dir) == ".Trash-" + uid) {
        topdir = parent;
    } else if (baseName(dir) == uid && baseName(parent) == ".Trash") {
        topdir = dirName(parent);
        if (::lstat(parent.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & S_ISVTX) == 0)
            return notOne;
    } else {
        return notOne;
    }
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()
        || topdirOf(topdir) != topdir)
        return notOne;
    return {};
}

// Why `name` names no entry of a trash folder; empty when it does.
QString slotNameProblem(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QChar(u'\0')) || name == QLatin1String(".")
        || name == QLatin1String(".."))
        return QStringLiteral("\"%1\" names no entry of a trash").arg(name);
    return {};
}

// The trash folder's files/ and info/, opened without following links.
struct TrashFolders {
    Fd files, info;
};
std::optional<TrashFolders> openTrashFolders(const QString& trashDir, QString* error)
{
    if (QString problem = trashFolderProblem(trashDir); !problem.isEmpty()) {
        setError(error, problem);
        return std::nullopt;
    }
    const Fd top(::open(QFile::encodeName(trashDir).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    TrashFolders folders;
    if (top.valid()) {
        folders.files.reset(::openat(top.get(), "files", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        folders.info.reset(::openat(top.get(), "info", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!folders.files.valid() || !folders.info.valid()) {
        const int err = errno;
        setError(error, QStringLiteral("Cannot open the trash folder %1: %2").arg(trashDir, errnoText(err)));
        return std::nullopt;
    }
    return folders;
}

// The Path= value of an info file, unescaped; empty when there is none.
QByteArray infoOriginal(int infoDir, const QByteArray& infoName)
{
    const Fd fd(::openat(infoDir, infoName.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return {};
    std::array<char, 16384> text{};
    const ssize_t size = ::read(fd.get(), text.data(), text.size());
    if (size <= 0)
        return {};
    for (const QByteArray& line : QByteArray(text.data(), size).split('\n')) {
        if (line.startsWith("Path=")) {
            const GLibPtr<char, g_free> value(g_uri_unescape_string(line.constData() + 5, nullptr));
            return value ? QByteArray(value.get()) : QByteArray();
        }
    }
    return {};
}

} // namespace

void setTrashInfoByRename(bool on) { g_infoByRename = on; }

FileId fileIdAt(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? idOf(st) : FileId{};
}

bool TrashMove::prepare(const QString& path, QString* error)
{
    m_prepared = false;
    if (const QString problem = pathProblem(path); !problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    // GIO's paths had repeated slashes collapsed; so has the Path= line.
    const QByteArray file = QFile::encodeName(QDir::cleanPath(path));
    const auto fail = [error](int err, const QString& what) {
        setError(error, err == 0 ? what : QStringLiteral("%1: %2").arg(what, errnoText(err)));
        return false;
    };
    // On overlayfs an entry's device is not its folder's; the folder's is the
    // one a rename sees. Links in the folder's path are followed for the same reason.
    struct stat st {};
    struct stat folder {};
    struct stat home {};
    if (::lstat(file.constData(), &st) != 0
        || ::stat(S_ISDIR(st.st_mode) ? file.constData() : dirName(file).constData(), &folder) != 0) {
        const int err = errno; // before the text is made, which may allocate
        return fail(err, QStringLiteral("Error trashing file %1").arg(path));
    }
    // Its file system decides between the home trash and another.
    if (::stat(g_get_home_dir(), &home) != 0) {
        const int err = errno;
        return fail(err,
                    QStringLiteral("Unable to find the home folder %1 to trash %2")
                        .arg(QFile::decodeName(g_get_home_dir()), path));
    }

    QByteArray trashDir, original;
    if (folder.st_dev == home.st_dev) {
        trashDir = QByteArray(g_get_user_data_dir()) + "/Trash";
        // Two mkdirs in the usual case, where the trash is there already.
        if (makeSubfolders(trashDir) != 0) {
            if (g_mkdir_with_parents(trashDir.constData(), 0700) != 0) {
                const int err = errno;
                return fail(
                    err, QStringLiteral("Unable to create trash directory %1 to trash %2").arg(shown(trashDir), path));
            }
            if (const int err = makeSubfolders(trashDir); err != 0)
                return fail(err,
                            QStringLiteral("Unable to find or create trash directory %1 to trash %2")
                                .arg(shown(trashDir), path));
        }
        original = file;
    } else {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(dirName(file).constData(), nullptr), &std::free);
        const QByteArray parent = real ? QByteArray(real.get()) : QByteArray();
        const QByteArray topdir = parent.isEmpty() ? QByteArray() : topdirOf(parent);
        if (topdir.isEmpty())
            return fail(0, QStringLiteral("Unable to find toplevel directory to trash %1").arg(path));
        if (!mountTakesTrash(topdir))
            return fail(0, QStringLiteral("Trashing on system internal mounts is not supported (%1)").arg(path));
        trashDir = topdirTrash(topdir);
        if (trashDir.isEmpty())
            return fail(0, QStringLiteral("Unable to find or create trash directory for %1").arg(path));
        if (const int err = makeSubfolders(trashDir); err != 0)
            return fail(
                err,
                QStringLiteral("Unable to find or create trash directory %1 to trash %2").arg(shown(trashDir), path));
        // Relative to the top of its file system, so the entry can be put
        // back wherever that is mounted next.
        const QByteArray full = join(parent, baseName(file));
        const bool under = topdir == "/" || full.startsWith(topdir + '/');
        original = under ? full.mid(topdir.size() + (topdir == "/" ? 0 : 1)) : file;
    }

    // A free name: neither its entry nor its info file is there. A files/
    // entry without an info file (left by a crash) is stepped over rather
    // than replaced. The info file is written by commit(), after the caller
    // has recorded the name.
    const QByteArray base = baseName(file);
    QByteArray name;
    for (int id = 1;; ++id) {
        name = uniqueName(base, id);
        struct stat taken {};
        if (::lstat((trashDir + "/files/" + name).constData(), &taken) != 0
            && ::lstat((trashDir + "/info/" + name + ".trashinfo").constData(), &taken) != 0)
            break;
    }
    m_path = path;
    m_slot = {QFile::decodeName(trashDir), QFile::decodeName(name)};
    m_info = trashInfo(original);
    m_id = idOf(st);
    m_stat = st;
    m_prepared = true;
    return true;
}

bool TrashMove::commit(QString* error)
{
    if (!m_prepared) {
        setError(error, QStringLiteral("Nothing was prepared for the trash"));
        return false;
    }
    m_prepared = false;
    const QByteArray from = QFile::encodeName(m_path), to = QFile::encodeName(m_slot.filesPath());
    // The recorded id must be the trashed file's.
    if (fileIdAt(m_path) != m_id) {
        setError(error, QStringLiteral("Unable to trash file %1: it changed after it was prepared").arg(m_path));
        return false;
    }
    // The info file first: it reserves the name, and no reader ever sees it
    // half written.
    const QByteArray info = QFile::encodeName(m_slot.infoPath());
    int err = g_infoByRename ? EOPNOTSUPP : linkNew(QFile::encodeName(m_slot.trashDir) + "/info", info, m_info);
    if (err != 0 && err != EEXIST)
        err = reserveAndWrite(info, m_info);
    if (err != 0) {
        setError(error,
                 err == EEXIST
                     ? QStringLiteral("Unable to trash file %1: its name in the trash was taken "
                                      "meanwhile")
                           .arg(m_path)
                     : QStringLiteral("Unable to create trashing info file for %1: %2").arg(m_path, errnoText(err)));
        return false;
    }
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0) {
        err = errno;
        // Where the file system cannot refuse to replace, the name was seen free.
        if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP)
            err = ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
    }
    if (err != 0) {
        ::unlink(info.constData());
        // The same device mounted twice, or a bind mount, can put the trash on "another" file system.
        setError(error,
                 err == EXDEV ? QStringLiteral("Unable to trash file %1 across filesystem boundaries").arg(m_path)
                              : QStringLiteral("Unable to trash file %1: %2").arg(m_path, errnoText(err)));
        return false;
    }
    return true;
}

bool moveToTrash(const QString& path, QString* error) { return moveToTrash(path, error, nullptr); }

bool moveToTrash(const QString& path, QString* error, TrashSlot* slot)
{
    TrashMove move;
    if (!move.prepare(path, error) || !move.commit(error))
        return false;
    if (slot)
        *slot = move.slot();
    return true;
}

bool deleteFile(const QString& path, QString* error)
{
    if (const QString problem = pathProblem(path); !problem.isEmpty()) {
        setError(error, problem);
        return false;
    }
    if (::unlink(QFile::encodeName(path).constData()) != 0) {
        const int err = errno;
        setError(error, QStringLiteral("Cannot delete %1: %2").arg(path, errnoText(err)));
        return false;
    }
    return true;
}

// What one restore of many files opens once: the trash folder and the
// target folder of the file before, and why either was refused.
struct TrashRestore::Open {
    bool opened = false;
    QString trashDir;
    std::optional<TrashFolders> trash;
    QString trashError;
    QByteArray folderPath;
    Fd folder;
    QString folderError;
};

TrashRestore::TrashRestore() : m_open(std::make_unique<Open>()) {}
TrashRestore::~TrashRestore() = default;

RestoreResult TrashRestore::restore(const TrashSlot& slot, const QString& target, const FileId& expected,
                                    QString* error)
{
    if (const QString problem = pathProblem(target); !problem.isEmpty()) {
        setError(error, problem);
        return RestoreResult::Failed;
    }
    if (!expected.valid()) {
        setError(error, QStringLiteral("The record does not say which file went to %1").arg(slot.filesPath()));
        return RestoreResult::Failed;
    }
    Open& open = *m_open;
    if (!open.opened || open.trashDir != slot.trashDir) {
        open.opened = true;
        open.trashDir = slot.trashDir;
        open.trashError.clear();
        open.trash = openTrashFolders(slot.trashDir, &open.trashError);
    }
    if (!open.trash) {
        setError(error, open.trashError);
        return RestoreResult::Failed;
    }
    if (const QString problem = slotNameProblem(slot.name); !problem.isEmpty()) {
        setError(error, problem);
        return RestoreResult::Failed;
    }
    const int files = open.trash->files.get();
    const QByteArray name = QFile::encodeName(slot.name);
    struct stat st {};
    const bool there = ::fstatat(files, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (const int err = there ? 0 : errno; err != 0 && err != ENOENT) {
        setError(error, QStringLiteral("Cannot restore %1: %2").arg(slot.filesPath(), errnoText(err)));
        return RestoreResult::Failed;
    }
    if (!there || idOf(st) != expected) {
        setError(error, QStringLiteral("%1 is no longer in the trash").arg(slot.filesPath()));
        return RestoreResult::NotInTrash;
    }
    const QByteArray to = QFile::encodeName(target), dir = dirName(to);
    // The folder opened for the file before is the one that was checked.
    if (dir != open.folderPath) {
        open.folderPath = dir;
        open.folderError.clear();
        open.folder = openTrustedFolder(dir, &open.folderError);
    }
    if (!open.folder.valid()) {
        setError(error, open.folderError);
        return RestoreResult::Failed;
    }
    const int folder = open.folder.get();
    const QByteArray base = baseName(to);
    const int moved = moveNoReplace(files, name.constData(), folder, base.constData());
    if (moved == EEXIST)
        return RestoreResult::Occupied;
    if (moved == EXDEV) {
        if (const RestoreResult r = copyAcross(files, name, st, folder, base, target, error);
            r != RestoreResult::Restored)
            return r;
    } else if (moved != 0) {
        setError(error, QStringLiteral("Cannot restore %1 to %2: %3").arg(slot.filesPath(), target, errnoText(moved)));
        return RestoreResult::Failed;
    }
    const QByteArray info = name + ".trashinfo";
    if (const int err = ::unlinkat(open.trash->info.get(), info.constData(), 0) == 0 ? 0 : errno;
        err != 0 && err != ENOENT)
        setError(error, QStringLiteral("%1 stays behind: %2").arg(slot.infoPath(), errnoText(err)));
    return RestoreResult::Restored;
}

RestoreResult restoreFromTrash(const TrashSlot& slot, const QString& target, const FileId& expected, QString* error)
{
    return TrashRestore().restore(slot, target, expected, error);
}

bool dropStaleTrashInfo(const TrashSlot& slot, const QString& original)
{
    const std::optional<TrashFolders> trash = openTrashFolders(slot.trashDir, nullptr);
    if (!trash || !slotNameProblem(slot.name).isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(slot.name), info = name + ".trashinfo";
    struct stat st {};
    if (::fstatat(trash->files.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return false;
    // Relative to its mount's top on another file system.
    const QByteArray said = infoOriginal(trash->info.get(), info), path = QFile::encodeName(original);
    if (said.isEmpty() || !(said == path || (!said.startsWith('/') && path.endsWith('/' + said))))
        return false;
    return ::unlinkat(trash->info.get(), info.constData(), 0) == 0;
}

QString homeTrashPath() { return QFile::decodeName(g_get_user_data_dir()) + QLatin1String("/Trash"); }

} // namespace dm
