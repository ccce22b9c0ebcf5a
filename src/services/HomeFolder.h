#pragma once
// The program's own folder: DM.ini, DM.rgn, new character files and battle
// logs live here.
#include <QString>

namespace dm {

// $DUSTMAW_HOME when set, else $XDG_DATA_HOME/dustmaw, else
// ~/.local/share/dustmaw; absolute, without a trailing slash.
[[nodiscard]] QString HomeFolder();
// Creates the home folder with its parents; true when it exists afterwards.
[[nodiscard]] bool EnsureHomeFolder();
// The settings file inside the home folder.
[[nodiscard]] QString IniPath();

} // namespace dm
