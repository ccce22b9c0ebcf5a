#pragma once
#include <QByteArray>
#include <QStringView>

namespace dm {

// The bytes of a text in code page 932, whatever the locale, so a file yields
// the same combatant on every machine. A character the code page cannot hold
// becomes '?'.
[[nodiscard]] QByteArray toCp932(QStringView text);

} // namespace dm
