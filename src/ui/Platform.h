#pragma once
// What the windows need of the desktop beyond Qt's widgets: message boxes
// with the program's texts, the beep, keeping the hero off the taskbar, and
// opening the Trash.
#include <QFont>
#include <QImage>
#include <QMessageBox>
#include <QString>

#include <functional>

class QObject;
class QWidget;

namespace dm {

inline constexpr const char* kAppTitle = "Dustmaw";

// Before the application object exists: X11 under a Wayland session unless
// the user chose a platform (so positions and z-order work), images sent to
// the X server without shared memory, and whole-number scale factors (so the
// pixel art stays crisp).
void PrepareApplication(int argc, char** argv);

// One of the program's pictures ("hero" and its frames such as
// "hero-swing", "dustmaw", "dead"). Read as XPM outright: guessing the
// format would load every image plugin first.
[[nodiscard]] QImage Picture(const char* name);

// The Japanese system fonts the windows were designed with, or what
// fontconfig offers in their place: "ＭＳ ゴシック" (fixed pitch) or
// "ＭＳ Ｐゴシック" (proportional).
[[nodiscard]] QFont JapaneseFont(bool proportional, qreal points);

// The application's name, icon and desktop entry; the program ends only by
// its own Quit, never because its last window closed. What the file object
// tells the user appears in a message box. The environment is the user's
// again: what PrepareApplication set for Qt alone is gone.
void SetUpApplication();

// Runs `handler` from the event loop when the process is asked to end
// (SIGTERM, SIGINT, SIGHUP: a logout, a kill, Ctrl+C in a terminal).
void OnTerminationRequest(QObject* context, std::function<void()> handler);

// A modal message box with an OK button; without a title it carries the
// program's. It belongs to `parent`, centred on the screen `parent` is on.
void MsgBox(QWidget* parent, const QString& text, const QString& title = {},
            QMessageBox::Icon icon = QMessageBox::NoIcon);

// For a dialog about to be shown, transient for the hero or one of its
// windows. Openbox shows minimise and maximise buttons on dialogs whatever
// their Motif hints say, and minimising a transient minimises its whole
// family: the hero too, which has no taskbar entry to come back from. Under
// Openbox the dialog gets a window type it neither minimises nor gives more
// than a close button.
void NeverMinimised(QWidget& dialog);

// Whether a top-level window's transparent pixels show what lies beneath:
// always under Wayland, under X11 while a compositing manager runs.
[[nodiscard]] bool TranslucencyAvailable();

void Beep();

// Asks the window manager to leave the window off the taskbar and the pager.
// The state must be on the native window before it is mapped, and window
// managers drop it when the window is withdrawn: call it before every show.
// Does nothing off X11.
void SkipTaskbar(QWidget& window);

// Opens the Trash in the desktop's file manager without waiting for it,
// falling back to the home trash's files folder. False when nothing could be
// opened.
bool OpenTrash();

} // namespace dm
