#include "character/CharaLock.h"

#include "services/HomeFolder.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <tuple>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dm {

bool CharaLock::acquire(const QString& charaPath)
{
    release();
    m_holder = 0;
    // One character by whatever path it is reached.
    QByteArray real = QFile::encodeName(charaPath);
    char resolved[PATH_MAX];
    if (::realpath(real.constData(), resolved) != nullptr)
        real = resolved;
    const QString folder = HomeFolder() + QStringLiteral("/locks");
    if (!EnsureHomeFolder() || (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST))
        return true;
    const QByteArray name = QCryptographicHash::hash(real, QCryptographicHash::Sha1).toHex();
    const QByteArray path = QFile::encodeName(folder) + '/' + name + ".lock";
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[24] = {};
        if (::pread(fd, text, sizeof text - 1, 0) > 0)
            m_holder = static_cast<pid_t>(std::atol(text));
        ::close(fd);
        return false;
    }
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd, 0) == 0)
        std::ignore = ::pwrite(fd, pid.constData(), static_cast<size_t>(pid.size()), 0);
    m_fd = fd;
    return true;
}

void CharaLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace dm
