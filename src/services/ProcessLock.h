#pragma once
// A lock one process holds on a file: an flock, so the kernel drops it with
// the process, however that ends, and taking it writes nothing that must
// reach the disk. The holder's process id is in the file, for messages.
#include <QString>

#include <sys/types.h>

namespace dm {

class ProcessLock {
public:
    enum class Result {
        Held, // this object holds the lock
        Busy, // another process, or another lock in this one, holds it
        Failed, // the file could not be opened
    };

    ProcessLock() = default;
    ~ProcessLock() { release(); }
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

    [[nodiscard]] Result acquire(const QString& path);
    void release();
    // The holder named in the file when acquire answered Busy, or 0.
    [[nodiscard]] pid_t holder() const { return m_holder; }

private:
    int m_fd = -1;
    pid_t m_holder = 0;
};

} // namespace dm
