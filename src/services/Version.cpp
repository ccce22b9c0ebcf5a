#include "services/Version.h"

namespace dm {

ProgramVersion Version() { return {DUSTMAW_VERSION_MAJOR, DUSTMAW_VERSION_MINOR, DUSTMAW_VERSION_PATCH}; }

QString VersionText()
{
    const ProgramVersion v = Version();
    return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.patch);
}

} // namespace dm
