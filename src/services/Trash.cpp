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
#include <sys/stat.h>
#include <unistd.h>

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
int moveNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
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

// A copy of the regular file `from` at `to` with its bytes, mode and times,
// written beside `to` first so that `to` appears whole or not at all.
// Returns 0 or errno (EEXIST: something is at `to`).
int copyFile(const QByteArray& from, const struct stat& st, const QByteArray& to)
{
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return errno;
    // Named as the program's other temporary files, so a killed run's leftover is known as one.
    QByteArray temp = join(dirName(to), '.' + baseName(to) + ".dustmaw-" + QByteArray::number(::getpid()) + "-XXXXXX");
    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    int err = copyBytes(in, out);
    const std::array<timespec, 2> times{st.st_atim, st.st_mtim};
    // On disk before the trash's copy, the only other one, goes.
    if (err == 0 && (::fchmod(out, st.st_mode & 07777) != 0 || ::futimens(out, times.data()) != 0 || ::fsync(out) != 0))
        err = errno;
    if (::close(out) != 0 && err == 0)
        err = errno;
    ::close(in);
    if (err == 0)
        err = moveNoReplace(temp, to);
    if (err != 0)
        ::unlink(temp.constData());
    return err;
}

// A symbolic link again as a link to the same target. Returns 0 or errno.
int copyLink(const QByteArray& from, const struct stat& st, const QByteArray& to)
{
    std::array<char, PATH_MAX> value{};
    const ssize_t size = ::readlink(from.constData(), value.data(), value.size());
    if (size < 0)
        return errno;
    if (static_cast<std::size_t>(size) >= value.size())
        return ENAMETOOLONG;
    if (::symlink(QByteArray(value.data(), size).constData(), to.constData()) != 0)
        return errno;
    const std::array<timespec, 2> times{st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, to.constData(), times.data(), AT_SYMLINK_NOFOLLOW); // cosmetic; the link is back
    return 0;
}

RestoreResult copyAcross(const QByteArray& from, const struct stat& st, const QByteArray& to, QString* error)
{
    // renameat2 says EXDEV before it looks at the target.
    struct stat there {};
    if (::lstat(to.constData(), &there) == 0)
        return RestoreResult::Occupied;
    int err = 0;
    if (S_ISREG(st.st_mode))
        err = copyFile(from, st, to);
    else if (S_ISLNK(st.st_mode))
        err = copyLink(from, st, to);
    else {
        setError(error,
                 QStringLiteral("Cannot restore %1 to another file system: it is neither a file nor a link")
                     .arg(shown(from)));
        return RestoreResult::Failed;
    }
    if (err == EEXIST)
        return RestoreResult::Occupied;
    if (err == 0 && ::unlink(from.constData()) != 0) {
        err = errno;
        ::unlink(to.constData()); // one copy only: the one in the trash stays
    }
    if (err != 0) {
        setError(error, QStringLiteral("Cannot restore %1 to %2: %3").arg(shown(from), shown(to), errnoText(err)));
        return RestoreResult::Failed;
    }
    return RestoreResult::Restored;
}

} // namespace

void setTrashInfoByRename(bool on) { g_infoByRename = on; }

FileId fileIdAt(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? idOf(st) : FileId{};
}

TrashMove::~TrashMove() { cancel(); }

void TrashMove::cancel()
{
    if (m_prepared)
        ::unlink(QFile::encodeName(m_slot.infoPath()).constData());
    m_prepared = false;
}

bool TrashMove::prepare(const QString& path, QString* error)
{
    cancel();
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
        || ::stat(S_ISDIR(st.st_mode) ? file.constData() : dirName(file).constData(), &folder) != 0
        || ::stat(g_get_home_dir(), &home) != 0) {
        const int err = errno; // before the text is made, which may allocate
        return fail(err, QStringLiteral("Error trashing file %1").arg(path));
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

    // The .trashinfo reserves the name, and no reader ever sees it half
    // written. A files/ entry without one (left by a crash) is skipped over
    // rather than replaced.
    const QByteArray text = trashInfo(original), base = baseName(file);
    QByteArray name;
    for (int id = 1;; ++id) {
        name = uniqueName(base, id);
        struct stat taken {};
        if (::lstat((trashDir + "/files/" + name).constData(), &taken) == 0)
            continue;
        const QByteArray info = trashDir + "/info/" + name + ".trashinfo";
        int err = g_infoByRename ? EOPNOTSUPP : linkNew(trashDir + "/info", info, text);
        if (err != 0 && err != EEXIST)
            err = reserveAndWrite(info, text);
        if (err == 0)
            break;
        if (err != EEXIST)
            return fail(err, QStringLiteral("Unable to create trashing info file for %1").arg(path));
    }
    m_path = path;
    m_slot = {QFile::decodeName(trashDir), QFile::decodeName(name)};
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
    const QByteArray from = QFile::encodeName(m_path), to = QFile::encodeName(m_slot.filesPath());
    // The recorded id must be the trashed file's.
    if (fileIdAt(m_path) != m_id) {
        cancel();
        setError(error, QStringLiteral("Unable to trash file %1: it changed after it was prepared").arg(m_path));
        return false;
    }
    int err = 0;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0) {
        err = errno;
        // Where the file system cannot refuse to replace, prepare() has seen the name free.
        if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP)
            err = ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
    }
    if (err != 0) {
        cancel();
        // The same device mounted twice, or a bind mount, can put the trash on "another" file system.
        setError(error,
                 err == EXDEV ? QStringLiteral("Unable to trash file %1 across filesystem boundaries").arg(m_path)
                              : QStringLiteral("Unable to trash file %1: %2").arg(m_path, errnoText(err)));
        return false;
    }
    m_prepared = false;
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

RestoreResult restoreFromTrash(const TrashSlot& slot, const QString& target, const FileId& expected, QString* error)
{
    if (const QString problem = pathProblem(target); !problem.isEmpty()) {
        setError(error, problem);
        return RestoreResult::Failed;
    }
    if (slot.name.isEmpty() || slot.name.contains(QLatin1Char('/')) || slot.name == QLatin1String(".")
        || slot.name == QLatin1String("..")) {
        setError(error, QStringLiteral("\"%1\" names no entry of a trash").arg(slot.name));
        return RestoreResult::Failed;
    }
    const QByteArray from = QFile::encodeName(slot.filesPath()), to = QFile::encodeName(target);
    struct stat st {};
    const bool there = ::lstat(from.constData(), &st) == 0;
    if (const int err = there ? 0 : errno; err != 0 && err != ENOENT) {
        setError(error, QStringLiteral("Cannot restore %1: %2").arg(shown(from), errnoText(err)));
        return RestoreResult::Failed;
    }
    if (!there || (expected.valid() && idOf(st) != expected)) {
        setError(error, QStringLiteral("%1 is no longer in the trash").arg(shown(from)));
        return RestoreResult::NotInTrash;
    }
    int moved = moveNoReplace(from, to);
    // A folder on the way is missing: made again, as file managers do.
    if (moved == ENOENT) {
        if (g_mkdir_with_parents(dirName(to).constData(), 0777) != 0) {
            const int err = errno;
            setError(error, QStringLiteral("Cannot make the folder %1: %2").arg(shown(dirName(to)), errnoText(err)));
            return RestoreResult::Failed;
        }
        moved = moveNoReplace(from, to);
    }
    if (moved == EEXIST)
        return RestoreResult::Occupied;
    if (moved == EXDEV) {
        if (const RestoreResult r = copyAcross(from, st, to, error); r != RestoreResult::Restored)
            return r;
    } else if (moved != 0) {
        setError(error, QStringLiteral("Cannot restore %1 to %2: %3").arg(shown(from), target, errnoText(moved)));
        return RestoreResult::Failed;
    }
    if (const int err = ::unlink(QFile::encodeName(slot.infoPath()).constData()) == 0 ? 0 : errno;
        err != 0 && err != ENOENT)
        setError(error, QStringLiteral("%1 stays behind: %2").arg(slot.infoPath(), errnoText(err)));
    return RestoreResult::Restored;
}

QString homeTrashPath() { return QFile::decodeName(g_get_user_data_dir()) + QLatin1String("/Trash"); }

} // namespace dm
