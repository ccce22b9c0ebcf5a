#include "services/AtomicFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dm {

namespace {

bool g_linkForNoReplace = false;

// Temporary files are named after their target and the process writing
// them, so a later run can tell a leftover of a killed process from the
// work of a live one.
QByteArray tempPrefix(const QByteArray& base) { return '.' + base + ".dustmaw-"; }

// Removes the leftovers of killed writers from a folder: ".<name>.dustmaw-
// <pid>-XXXXXX" whose process is gone, whatever file they were meant for.
void removeStaleTemps(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return;
    const QByteArray marker = ".dustmaw-";
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const qsizetype at = name.lastIndexOf(marker);
        if (!name.startsWith('.') || at <= 0)
            continue;
        const QList<QByteArray> parts = name.mid(at + marker.size()).split('-');
        bool isNumber = false;
        const pid_t pid = parts.front().toInt(&isNumber);
        if (parts.size() == 2 && parts.back().size() == 6 && isNumber && pid > 0 && ::kill(pid, 0) != 0
            && errno == ESRCH)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// renameat2 without replacing; file systems that lack it (NFS, CIFS) get a
// hard link, which fails on an existing name just the same, and the
// temporary name goes afterwards.
bool moveNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (!g_linkForNoReplace) {
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return false;
    }
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

} // namespace

void AtomicFile::setLinkForNoReplace(bool on) { g_linkForNoReplace = on; }

AtomicFile::AtomicFile(QString path) : m_path(std::move(path)) {}

AtomicFile::~AtomicFile() { cancel(); }

bool AtomicFile::fail(const QString& what, int err)
{
    m_error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
    cancel();
    return false;
}

bool AtomicFile::open()
{
    cancel();
    m_error.clear();
    m_target = QFile::encodeName(m_path);
    if (m_target.isEmpty())
        return fail(QStringLiteral("empty path"), ENOENT);

    // Write through a link to its target, so that the link survives.
    char resolved[PATH_MAX];
    struct stat linkSt {};
    if (::lstat(m_target.constData(), &linkSt) == 0 && S_ISLNK(linkSt.st_mode)) {
        if (::realpath(m_target.constData(), resolved) == nullptr)
            return fail(m_path, errno);
        m_target = resolved;
    }

    struct stat old {};
    const bool exists = ::stat(m_target.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return fail(m_path, EINVAL);
    // A file that may not be written must stay as it is, even though the
    // folder would let a new file be renamed over it (and root may do both).
    if (exists && ((old.st_mode & S_IWUSR) == 0 || ::access(m_target.constData(), W_OK) != 0))
        return fail(m_path, EACCES);

    const qsizetype slash = m_target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : m_target.left(slash + 1);
    const QByteArray base = slash < 0 ? m_target : m_target.mid(slash + 1);
    // A folder without any write bit is read-only to the program, for root
    // too, as the file object's read-only attribute says.
    struct stat dirSt {};
    if (::stat(folder.constData(), &dirSt) != 0)
        return fail(m_path, errno);
    if ((dirSt.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return fail(m_path, EACCES);
    removeStaleTemps(folder);
    m_temp = folder + tempPrefix(base) + QByteArray::number(::getpid()) + "-XXXXXX";
    m_end = 0;
    m_fd = ::mkostemp(m_temp.data(), O_CLOEXEC);
    if (m_fd < 0) {
        const int err = errno;
        m_temp.clear();
        return fail(m_path, err);
    }
    if (exists) {
        if (::fchmod(m_fd, old.st_mode & 07777) != 0)
            return fail(m_path, errno);
        if (::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; anyone else keeps the new file
            // as their own, as any editor's save would.
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(m_fd, 0666 & ~mask) != 0)
            return fail(m_path, errno);
    }
    return true;
}

bool AtomicFile::write(const char* data, qsizetype size)
{
    if (!writeAt(m_end, data, size))
        return false;
    m_end += size;
    return true;
}

bool AtomicFile::writeAt(qint64 offset, const QByteArray& data)
{
    if (!writeAt(offset, data.constData(), data.size()))
        return false;
    m_end = std::max(m_end, offset + data.size());
    return true;
}

bool AtomicFile::writeAt(qint64 offset, const char* data, qsizetype size)
{
    if (m_fd < 0)
        return fail(m_path, EBADF);
    auto at = static_cast<off_t>(offset);
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, data, static_cast<size_t>(size), at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(m_path, errno);
        }
        data += n;
        size -= n;
        at += n;
    }
    return true;
}

bool AtomicFile::commit(CommitMode mode)
{
    if (m_fd < 0)
        return fail(m_path, EBADF);
    if (::fsync(m_fd) != 0)
        return fail(m_path, errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail(m_path, errno);
    const bool placed
        = mode == NoReplace ? moveNoReplace(m_temp, m_target) : ::rename(m_temp.constData(), m_target.constData()) == 0;
    if (!placed)
        return fail(m_path, errno);
    m_temp.clear();
    // Make the rename itself durable.
    const qsizetype slash = m_target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : m_target.left(slash + 1);
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void AtomicFile::cancel()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.isEmpty()) {
        ::unlink(m_temp.constData());
        m_temp.clear();
    }
}

bool writeFileAtomically(const QString& path, const QByteArray& contents, QString* error)
{
    AtomicFile file(path);
    const bool ok = file.open() && file.write(contents) && file.commit();
    if (!ok && error != nullptr)
        *error = file.errorString();
    return ok;
}

} // namespace dm
