#pragma once
// The program's version, from the project's one declaration of it.
#include <QString>

namespace dm {

struct ProgramVersion {
    int major;
    int minor;
    int patch;
};

[[nodiscard]] ProgramVersion Version();
// "1.0.0"
[[nodiscard]] QString VersionText();

} // namespace dm
