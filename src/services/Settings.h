#pragma once
// The process-wide settings and shared state. Every subsystem reads these
// directly; the settings dialog assigns them; DM.ini persists them.
// The current character's records (Chara, CharaItem) live with the
// character code, which resets them together with these
// (ResetSharedState); only its path is a setting.
#include <QString>
#include <QStringView>

#include <cstdint>

namespace dm {

class clsFile;
class clsIniFile;

// Boolean kept in 16 bits, true = -1.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

extern float MsgWait; // seconds after each battle message: 0.2, 0.5, 1.0, 1.3, 1.6
extern std::int16_t AttSr; // attack order 0..4
extern std::int16_t DeadAfter; // 0 Trash, 1 delete
extern std::int16_t FormTop; // -1 topmost, -2 not topmost, 0 raise once (no DM.ini at start)
extern std::int16_t MsgType; // message style 0..2
extern std::int16_t Log; // 1 writes a battle log; set by hand in DM.ini only
extern std::int16_t Minimize; // minimised caption: 0 message, 1 vitality and enemies left
extern std::int32_t EntryLeft, EntryTop; // battle list window, twips
extern std::int32_t ParamLeft, ParamTop; // parameter sheet, twips
// Whether those positions hold a place: read from DM.ini, or taken by the
// window since. A window without one opens beside the hero.
extern bool EntryPlaced, ParamPlaced;
extern std::int16_t Idle; // kTrue while no battle and no open sheet runs
extern QString CharaPath; // the current character file, "" for none; DM.ini's DefaultChara
extern QString CharaPathBackup; // what Cancel in the open sheet restores

// The shared service objects; ResetSettings gives both fresh state.
clsFile& FileObj();
clsIniFile& IniObj();

// The main window's position as DM.ini keeps it, twips.
struct SavedPosition {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    bool operator==(const SavedPosition&) const = default;
};

// Every global above and the two service objects to their start values.
void ResetSettings();

// Whether DM.ini is there to be read (a file, not a folder).
[[nodiscard]] bool SettingsFileExists();

// Reads and validates DM.ini when it exists; a missing file leaves every
// setting at its reset value (FormTop 0). Yields the main window's saved
// position. Never fails: what cannot be used takes its default.
[[nodiscard]] SavedPosition ReadSettings();

// Writes every setting but Log to DM.ini, creating the file when missing (a
// window's position only once it has one);
// left and top are the main window's position in twips. False when any
// write failed (the file then keeps what it had before that write).
[[nodiscard]] bool WriteSettings(float left, float top);

// A setting's text as a number: the longest leading decimal number
// ([+-]digits[.digits][E|D[+-]digits]), with blanks, tabs and line feeds
// anywhere ignored; 0 when there is none. Too large a number gives an
// infinity.
[[nodiscard]] double Val(QStringView text);

} // namespace dm
