#include "services/Autostart.h"

#include "services/AtomicFile.h"
#include "services/GLibPtr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gio/gdesktopappinfo.h>
#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace dm {
namespace {

constexpr const char* kGroup = "Desktop Entry";

struct Entry {
    bool exists = false;
    bool hidden = false;
    bool startable = false;
    QString exec;
};

// Session managers load autostart entries through GLib, which drops one whose
// TryExec or Exec names no program it finds. Exec's first word is looked up
// as the shell parses it, with no field codes undone: a path with a '%',
// doubled in Exec as the format asks, is never found. GLib is asked rather
// than its rules copied, so every such case shows.
bool startable(GKeyFile* file)
{
    const GLibPtr<GDesktopAppInfo, g_object_unref> info(g_desktop_app_info_new_from_keyfile(file));
    return info != nullptr;
}

Entry readEntry()
{
    Entry e;
    const QString path = AutostartPath();
    e.exists = QFileInfo(path).isFile();
    if (!e.exists)
        return e;
    const GLibPtr<GKeyFile, g_key_file_free> file(g_key_file_new());
    if (!g_key_file_load_from_file(file.get(), QFile::encodeName(path).constData(), G_KEY_FILE_NONE, nullptr))
        return e;
    e.hidden = g_key_file_get_boolean(file.get(), kGroup, "Hidden", nullptr) != FALSE;
    e.startable = startable(file.get());
    const GLibPtr<char, g_free> exec(g_key_file_get_string(file.get(), kGroup, "Exec", nullptr));
    if (exec)
        e.exec = QString::fromUtf8(exec.get());
    return e;
}

// A desktop entry's string value: its own escapes.
QString stringValue(const QString& text)
{
    QString value;
    for (const QChar c : text) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

// The installed program is started by name, as its menu entry does; any
// other copy (a build tree's) by its own path.
QString programFor(const QString& program)
{
    const QFileInfo info(program);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    const QString bindir = QFileInfo(QStringLiteral(DUSTMAW_BINDIR)).canonicalFilePath();
    if (!folder.isEmpty() && folder == bindir)
        return info.fileName();
    return info.absoluteFilePath();
}

AutostartResult failed(const QString& error) { return {false, error}; }

} // namespace

QString AutostartPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.startsWith(QLatin1Char('/')))
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(config + QStringLiteral("/autostart/dustmaw.desktop"));
}

bool AutostartEnabled()
{
    const Entry e = readEntry();
    return e.exists && !e.hidden;
}

QString AutostartProgram()
{
    const Entry e = readEntry();
    char** words = nullptr;
    if (e.exec.isEmpty() || !g_shell_parse_argv(e.exec.toUtf8().constData(), nullptr, &words, nullptr))
        return {};
    const GLibPtr<char*, g_strfreev> argv(words);
    QString program = QString::fromUtf8(argv.get()[0]).replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (program.contains(QLatin1Char('/')))
        return program;
    const QString found = QStandardPaths::findExecutable(program);
    return found.isEmpty() ? program : found;
}

bool AutostartStartable() { return readEntry().startable; }

QString QuoteExecProgram(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString word = program;
    word.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (std::any_of(word.cbegin(), word.cend(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : word) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        word = quoted + QLatin1Char('"');
    }
    // The Exec value is a string: its own escapes come on top.
    return stringValue(word);
}

AutostartResult EnableAutostart(const QString& program)
{
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable())
        return failed(QStringLiteral("%1 is not an executable program").arg(program));
    const QString started = programFor(program);
    const QByteArray entry = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Dustmaw\n"
                                            "Comment=A tiny hero on the desktop who fights the files you drop on it\n"
                                            "TryExec=%1\n"
                                            "Exec=%2\n"
                                            "Icon=dustmaw\n"
                                            "Terminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(stringValue(started), QuoteExecProgram(started))
                                 .toUtf8();
    // An entry the session would skip is worse than none: it looks on and does nothing.
    const GLibPtr<GKeyFile, g_key_file_free> check(g_key_file_new());
    if (!g_key_file_load_from_data(check.get(), entry.constData(), entry.size(), G_KEY_FILE_NONE, nullptr)
        || !startable(check.get())) {
        if (!started.contains(QLatin1Char('/')))
            return failed(
                QStringLiteral("desktop sessions cannot start %1 at login: its folder is not on PATH").arg(program));
        return failed(QStringLiteral("desktop sessions cannot start %1 at login: its path holds a character they "
                                     "cannot start a program from. Move it to another folder, or use the installed "
                                     "dustmaw.")
                          .arg(program));
    }
    const QString path = AutostartPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return failed(QStringLiteral("cannot create the folder %1").arg(folder));
    QString error;
    if (!writeFileAtomically(path, entry, &error))
        return failed(error);
    return {true, {}};
}

AutostartResult DisableAutostart()
{
    const QString path = AutostartPath();
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        return failed(path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)));
    return {true, {}};
}

} // namespace dm
