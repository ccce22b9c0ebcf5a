#pragma once
// One battle at a time per character: two battles on one character file
// would each grow it from the size it had when they began, and one battle's
// experience would be lost. The lock is an flock on a file in the home
// folder named after the character file's real path, so the kernel drops it
// with the process that held it, killed or not.
#include "services/ProcessLock.h"

#include <QString>

#include <sys/types.h>

namespace dm {

class CharaLock {
public:
    CharaLock() = default;

    // False while another process (or another lock in this one) holds the
    // character; holder() then names that process when it is known.
    // A lock that cannot be made at all (no home folder) does not stand in
    // the way of a battle.
    [[nodiscard]] bool acquire(const QString& charaPath);
    void release() { m_lock.release(); }
    [[nodiscard]] pid_t holder() const { return m_lock.holder(); }

private:
    ProcessLock m_lock;
};

} // namespace dm
