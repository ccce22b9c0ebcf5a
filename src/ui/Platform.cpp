#include "ui/Platform.h"

#include "services/Trash.h"
#include "services/clsFile.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QUrl>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <gio/gio.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace dm {

namespace {

// What PrepareApplication put into the environment for Qt's platform plugin
// alone, taken out again once the plugin has read it: the file manager or
// print spooler the hero starts must get the user's environment.
std::vector<const char*> g_setForPlatform;

void setForPlatform(const char* name, const char* value)
{
    qputenv(name, value);
    g_setForPlatform.push_back(name);
}

} // namespace

void PrepareApplication(int argc, char** argv)
{
    bool platformChosen = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            platformChosen = true;
    }
    const bool wayland = qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
        || qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
    if (!platformChosen && wayland && qEnvironmentVariableIsSet("DISPLAY"))
        setForPlatform("QT_QPA_PLATFORM", "xcb");
    // The windows repaint a line of text or a row at a time. Through shared
    // memory, painting where the last image may still be read waits for a
    // round trip to the X server; sent on the connection, a small image costs
    // less than those extra wake-ups (half the context switches of a battle).
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        setForPlatform("QT_XCB_NO_MITSHM", "1");
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Round);
}

QImage Picture(const char* name)
{
    QFile file(QStringLiteral(":/pictures/%1.xpm").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The XPM text is a C array of strings; its lines are what the quotes
    // hold. Handing them to QImage as an array parses them outright, where
    // reading the file would first load every image-format plugin.
    const QByteArray text = file.readAll();
    std::vector<QByteArray> lines;
    for (qsizetype at = text.indexOf('"'); at >= 0; at = text.indexOf('"', at + 1)) {
        const qsizetype end = text.indexOf('"', at + 1);
        if (end < 0)
            break;
        lines.push_back(text.mid(at + 1, end - at - 1));
        at = end;
    }
    // Width, height, colours, characters per pixel: the array must hold the
    // colours and every row, or the parser would read past it.
    const QList<QByteArray> header = lines.empty() ? QList<QByteArray>() : lines.front().simplified().split(' ');
    if (header.size() < 4
        || static_cast<qsizetype>(lines.size()) < 1 + qsizetype{header[1].toInt()} + header[2].toInt())
        return {};
    std::vector<const char*> array;
    array.reserve(lines.size());
    for (const QByteArray& line : lines)
        array.push_back(line.constData());
    return QImage(array.data());
}

QFont JapaneseFont(bool proportional, qreal points)
{
    QFont font;
    font.setFamilies(
        proportional
            ? QStringList{QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                          QStringLiteral("Noto Sans CJK JP"), QStringLiteral("sans-serif")}
            : QStringList{QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"), QStringLiteral("IPAGothic"),
                          QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("monospace")});
    font.setPointSizeF(points);
    return font;
}

void SetUpApplication()
{
    for (const char* name : g_setForPlatform)
        qunsetenv(name);
    g_setForPlatform.clear();
    QApplication::setApplicationName(QString::fromUtf8(kAppTitle));
    QApplication::setDesktopFileName(QStringLiteral("dustmaw"));
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(Picture("dustmaw"))));
    QApplication::setQuitOnLastWindowClosed(false);
    clsFile::setNotifier([](const QString& text, const QString& title) { MsgBox(nullptr, text, title); });
}

namespace {

int g_signalFds[2] = {-1, -1};

void onSignal(int /*signo*/)
{
    const char byte = 1;
    // Nothing to do when the pipe is full: a request is already pending.
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[1], &byte, 1);
}

} // namespace

void OnTerminationRequest(QObject* context, std::function<void()> handler)
{
    if (g_signalFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalFds) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalFds[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler = std::move(handler)] {
        char buf[16];
        while (::read(g_signalFds[0], buf, sizeof buf) > 0) {
        }
        handler();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int signo : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signo, &sa, nullptr);
}

namespace {

// A message box knows its size only as it is shown: centred then, before it
// is on the screen.
class CentredBox final : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        CentreOnOwnersScreen(*this);
    }
};

} // namespace

void MsgBox(QWidget* parent, const QString& text, const QString& title, QMessageBox::Icon icon)
{
    CentredBox box(icon, title.isEmpty() ? QString::fromUtf8(kAppTitle) : title, text, QMessageBox::Ok, parent);
    NeverMinimised(box);
    box.exec();
}

void Beep() { QApplication::beep(); }

namespace {

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    if (reply == nullptr)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

// A property's bytes; empty when the window has none of that type.
QByteArray propertyOf(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    const xcb_get_property_cookie_t cookie = xcb_get_property(c, 0, window, name, type, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (reply == nullptr)
        return {};
    QByteArray value(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

// Adds atoms to a window's list property, before or after what it holds
// (what Qt or anyone else put there stays).
void addAtoms(xcb_connection_t* c, xcb_window_t window, const char* name, std::initializer_list<const char*> added,
              bool inFront)
{
    const xcb_atom_t property = internAtom(c, name);
    if (property == XCB_ATOM_NONE)
        return;
    const QByteArray held = propertyOf(c, window, property, XCB_ATOM_ATOM);
    std::vector<xcb_atom_t> atoms(static_cast<size_t>(held.size()) / sizeof(xcb_atom_t));
    if (!atoms.empty())
        std::memcpy(atoms.data(), held.constData(), atoms.size() * sizeof(xcb_atom_t));
    for (const char* a : added) {
        const xcb_atom_t atom = internAtom(c, a);
        if (atom != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
            atoms.insert(inFront ? atoms.begin() : atoms.end(), atom);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());
    xcb_flush(c);
}

// The program's windows live on the display's first screen.
xcb_window_t rootWindow(xcb_connection_t* c) { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }

bool managedByOpenbox(xcb_connection_t* c)
{
    const QByteArray check = propertyOf(c, rootWindow(c), internAtom(c, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW);
    xcb_window_t wm = XCB_WINDOW_NONE;
    if (check.size() != sizeof wm)
        return false;
    std::memcpy(&wm, check.constData(), sizeof wm);
    return propertyOf(c, wm, internAtom(c, "_NET_WM_NAME"), internAtom(c, "UTF8_STRING")) == "Openbox";
}

} // namespace

void SkipTaskbar(QWidget& window)
{
    if (xcb_connection_t* c = x11Connection())
        addAtoms(c, static_cast<xcb_window_t>(window.winId()), "_NET_WM_STATE",
                 {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}, false);
}

void NeverMinimised(QWidget& dialog)
{
    // Openbox reads the Motif hints only for moving and resizing; by type it
    // takes minimising and maximising from toolbars alone. The dialog's own
    // types stay behind for whoever reads further.
    xcb_connection_t* c = x11Connection();
    if (c != nullptr && managedByOpenbox(c))
        addAtoms(c, static_cast<xcb_window_t>(dialog.winId()), "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_TOOLBAR"},
                 true);
}

bool TranslucencyAvailable()
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return true;
    xcb_connection_t* c = x11Connection();
    if (c == nullptr)
        return false;
    const xcb_get_selection_owner_cookie_t cookie = xcb_get_selection_owner(c, internAtom(c, "_NET_WM_CM_S0"));
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(c, cookie, nullptr);
    const bool composited = reply != nullptr && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return composited;
}

bool OpenTrash()
{
    // GIO knows trash:/// where gvfs runs and says so with an error where it
    // does not; QDesktopServices would report success for any started
    // process and may hand the URL to a web browser.
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri("trash:///", nullptr, &error) != FALSE)
        return true;
    g_clear_error(&error);
    const QString trash = homeTrashPath();
    const QString files = trash + QStringLiteral("/files");
    if (!QFileInfo(files).isDir()) {
        // As the trash's own clients make it: for the user's eyes only.
        if (!QDir().mkpath(files))
            return false;
        const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        QFile::setPermissions(trash, owner);
        QFile::setPermissions(files, owner);
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(files));
}

} // namespace dm
