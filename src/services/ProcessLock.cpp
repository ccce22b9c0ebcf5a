#include "services/ProcessLock.h"

#include <QFile>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <tuple>
#include <unistd.h>

namespace dm {

ProcessLock::Result ProcessLock::acquire(const QString& path)
{
    release();
    m_holder = 0;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Result::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[24] = {};
        if (::pread(fd, text, sizeof text - 1, 0) > 0)
            m_holder = static_cast<pid_t>(std::atol(text));
        ::close(fd);
        return Result::Busy;
    }
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd, 0) == 0)
        std::ignore = ::pwrite(fd, pid.constData(), static_cast<size_t>(pid.size()), 0);
    m_fd = fd;
    return Result::Held;
}

void ProcessLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace dm
