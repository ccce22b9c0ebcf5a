#include "ui/Platform.h"

#include "services/Trash.h"
#include "services/clsFile.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
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
        qputenv("QT_QPA_PLATFORM", "xcb");
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

void MsgBox(QWidget* parent, const QString& text, const QString& title, QMessageBox::Icon icon)
{
    QMessageBox box(icon, title.isEmpty() ? QString::fromUtf8(kAppTitle) : title, text, QMessageBox::Ok, parent);
    box.exec();
}

void Beep() { QApplication::beep(); }

namespace {

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

} // namespace

void SkipTaskbar(QWidget& window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 != nullptr ? x11->connection() : nullptr;
    if (c == nullptr)
        return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t state = internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t wanted[]
        = {internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR"), internAtom(c, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE)
        return;

    // Keep what is there already; Qt merges its own states in the same way
    // when it maps the window.
    std::vector<xcb_atom_t> atoms;
    const xcb_get_property_cookie_t cookie = xcb_get_property(c, 0, id, state, XCB_ATOM_ATOM, 0, 1024);
    if (xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr)) {
        if (reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
            const auto* v = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
            atoms.assign(v, v + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
    }
    for (const xcb_atom_t a : wanted) {
        if (a != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), a) == atoms.end())
            atoms.push_back(a);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, static_cast<uint32_t>(atoms.size()),
                        atoms.data());
    xcb_flush(c);
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
