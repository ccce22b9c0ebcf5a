#include "character/CharaLock.h"

#include "services/HomeFolder.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace dm {

bool CharaLock::acquire(const QString& charaPath)
{
    release();
    // One character by whatever path it is reached.
    QByteArray real = QFile::encodeName(charaPath);
    char resolved[PATH_MAX];
    if (::realpath(real.constData(), resolved) != nullptr)
        real = resolved;
    const QString folder = HomeFolder() + QStringLiteral("/locks");
    if (!EnsureHomeFolder() || (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST))
        return true;
    const QByteArray name = QCryptographicHash::hash(real, QCryptographicHash::Sha1).toHex();
    // A lock that cannot be made does not stand in the way of a battle.
    return m_lock.acquire(folder + u'/' + QLatin1String(name) + QStringLiteral(".lock")) != ProcessLock::Result::Busy;
}

} // namespace dm
