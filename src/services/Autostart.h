#pragma once
// Starting the program at login: the user's entry in the desktop's autostart
// folder, which every XDG session manager reads.
#include <QString>

namespace dm {

// $XDG_CONFIG_HOME/autostart/dustmaw.desktop; ~/.config stands in for
// XDG_CONFIG_HOME when it is unset or relative.
[[nodiscard]] QString AutostartPath();

// On while the entry exists and does not say Hidden=true.
[[nodiscard]] bool AutostartEnabled();

// The program the entry starts, looked up on PATH when named without a
// folder (as is, when not found there); empty without an entry or Exec.
[[nodiscard]] QString AutostartProgram();

// Whether a desktop session would start the entry: GLib, which session
// managers read it with, finds the programs its TryExec and Exec name. False
// without an entry.
[[nodiscard]] bool AutostartStartable();

// `program` as the first word of an Exec value: quoted where the desktop
// entry format reserves a character, then escaped as a string value.
[[nodiscard]] QString QuoteExecProgram(const QString& program);

struct [[nodiscard]] AutostartResult {
    bool ok = false;
    QString error; // why not, when not ok
};

// Writes an entry that starts `program` (by its bare name when it is the
// installed one) and that sessions skip once it is gone (TryExec, so an entry
// left by a removed package does nothing), aside and renamed into place, so a crash leaves either no
// entry or a whole one. Creates the autostart folder when missing; refuses
// a program that is not an executable file, and an entry that GLib would not
// start (a path that its Exec quoting cannot carry).
AutostartResult EnableAutostart(const QString& program);
// Removes the entry; done at once when there is none.
AutostartResult DisableAutostart();

} // namespace dm
