#include "services/HomeFolder.h"

#include <QDir>
#include <QFileInfo>

namespace dm {
namespace {

QString absoluteFolder(const QString& path)
{
    QString p = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

} // namespace

QString HomeFolder()
{
    const QString own = qEnvironmentVariable("DUSTMAW_HOME");
    if (!own.isEmpty())
        return absoluteFolder(own);
    // XDG says a relative XDG_DATA_HOME is to be ignored.
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.startsWith(QLatin1Char('/')))
        return absoluteFolder(data + QStringLiteral("/dustmaw"));
    return absoluteFolder(QDir::homePath() + QStringLiteral("/.local/share/dustmaw"));
}

bool EnsureHomeFolder()
{
    const QString home = HomeFolder();
    return QDir().mkpath(home) && QFileInfo(home).isDir();
}

QString IniPath() { return HomeFolder() + QStringLiteral("/DM.ini"); }

} // namespace dm
