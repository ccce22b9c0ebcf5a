// dustmaw-cli: the rules of Dustmaw without a desktop.
#include "cli/Cli.h"
#include "services/Version.h"
#include "services/clsFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dm::cli {

void out(const QString& line)
{
    const QByteArray b = line.toUtf8() + '\n';
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stdout);
}

void err(const QString& line)
{
    const QByteArray b = line.toUtf8() + '\n';
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stderr);
}

int usageError(const QString& message)
{
    err(QStringLiteral("dustmaw-cli: ") + message);
    err(QStringLiteral("Try 'dustmaw-cli --help'."));
    return ExitUsage;
}

namespace {

// Qt reads a name as UTF-8 and each byte that is not as U+FFFD: the text of
// such a name would name another file, one with U+FFFD where those bytes are.
bool roundTrips(const QByteArray& name) { return QFile::encodeName(QFile::decodeName(name)) == name; }

// The name for a message, each byte that is not UTF-8 as \xHH.
QString shown(const QByteArray& name)
{
    QString text;
    for (qsizetype i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const qsizetype length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (const QByteArray piece = name.mid(i, length); roundTrips(piece)) {
            text += QString::fromUtf8(piece);
            i += length;
        } else {
            text += QStringLiteral("\\x%1").arg(uint{lead}, 2, 16, QLatin1Char('0'));
            ++i;
        }
    }
    return text;
}

// Says why nothing is done with a name; the usage-error status.
int refused(const QString& name, const QString& why)
{
    err(QStringLiteral("dustmaw-cli: '%1': %2; refused so that no other file is touched").arg(name, why));
    return ExitUsage;
}

// As absolutePath; `folders` keeps what the kernel said of each folder, so
// the many files of one folder ask it once. Bytes throughout: the working
// folder or a link on the way can lead to a name that is not UTF-8.
std::optional<QString> resolve(const QString& arg, QHash<QByteArray, QByteArray>* folders)
{
    QByteArray path = QFile::encodeName(arg);
    if (!path.startsWith('/')) {
        // getcwd, not QDir::currentPath(), Qt's text of the name. A removed
        // working folder has no path, and "a.txt" is not then "/a.txt".
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            std::ignore = refused(arg,
                                  QStringLiteral("the working folder has no path (%1)")
                                      .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return std::nullopt;
        }
        QByteArray base(cwd);
        if (!base.endsWith('/'))
            base += '/';
        path.prepend(base);
    }
    // The folder part is resolved by the kernel, so "./" and "../" mean what
    // they mean on disk; the last part stays as given, so a link stays a link.
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray last = path.mid(slash + 1);
    if (!last.isEmpty() && last != "." && last != "..") {
        const QByteArray folder = slash == 0 ? QByteArray("/") : path.left(slash);
        auto known = folders->find(folder);
        if (known == folders->end()) {
            char resolved[PATH_MAX];
            QByteArray base;
            if (::realpath(folder.constData(), resolved) != nullptr) {
                base = resolved;
                if (!base.endsWith('/'))
                    base += '/';
            }
            known = folders->insert(folder, base);
        }
        if (!known->isEmpty())
            path = *known + last;
    }
    if (!roundTrips(path)) {
        std::ignore = refused(arg, QStringLiteral("on disk it is '%1', which is not valid UTF-8").arg(shown(path)));
        return std::nullopt;
    }
    return QFile::decodeName(path);
}

} // namespace

std::optional<QString> absolutePath(const QString& arg)
{
    QHash<QByteArray, QByteArray> folders;
    return resolve(arg, &folders);
}

std::optional<QStringList> absolutePaths(const QStringList& args)
{
    QHash<QByteArray, QByteArray> folders;
    QStringList paths;
    paths.reserve(args.size());
    for (const QString& arg : args) {
        std::optional<QString> path = resolve(arg, &folders);
        if (!path)
            return std::nullopt;
        paths << *path;
    }
    return paths;
}

QString refusalReason(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return QStringLiteral("no such file");
    if (S_ISLNK(st.st_mode) && ::stat(native.constData(), &st) != 0)
        return QStringLiteral("broken symbolic link");
    if (S_ISDIR(st.st_mode) || path.endsWith(QLatin1Char('/')))
        return QStringLiteral("is a folder");
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QStringLiteral("cannot be read: ") + QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    return QStringLiteral("cannot be read");
}

} // namespace dm::cli

namespace {

using dm::cli::Command;

const Command kCommands[] = {
    {"inspect", "show what files would be as combatants",
     "Usage: dustmaw-cli inspect [--json] PATH...\n"
     "Shows, for each file, what its parameter sheet would show: name, tribe,\n"
     "level, vitality, the four parameters with the item's bonus, experience,\n"
     "next level and item.\n"
     "  --json  one JSON object per line per path, in argument order\n"
     "Exit status: 0 when every path could be read, 1 otherwise.",
     dm::cli::runInspect},
    {"verify", "check character files' headers against their sizes",
     "Usage: dustmaw-cli verify PATH...\n"
     "Says for each character file (.dmf) whether its check header matches\n"
     "its size.\n"
     "Exit status: 0 when every file is valid, 1 otherwise.",
     dm::cli::runVerify},
    {"info", "show everything the file object says about files",
     "Usage: dustmaw-cli info [--json] PATH...\n"
     "Shows, for each path, every property of the program's file object in\n"
     "the class's order: existence, size, attributes, whether it is a program,\n"
     "short path, creation, access and write times, the version resource of a\n"
     "Windows program in words, links, allocated size and the parts of the name.\n"
     "A missing path still gets its answers (those for a missing file).\n"
     "  --json  one JSON object per line per path, keyed by the members' names\n"
     "Exit status: 0 when every path exists, 1 otherwise.",
     dm::cli::runInfo},
    {"file", "copy, move, rename, open, print, trash or delete a file",
     "Usage: dustmaw-cli file OPERATION PATH [DEST]\n"
     "Runs one of the file object's operations:\n"
     "  copy PATH DEST       a copy at DEST, or in DEST when it is a folder\n"
     "  move PATH DEST       moved to DEST, or into DEST when it is a folder;\n"
     "                       across file systems a copy, then the original goes\n"
     "  rename PATH DEST     the same file under the path DEST\n"
     "  firstmove PATH DEST  a plain move within one file system only\n"
     "  open PATH            opened by the desktop's program for it\n"
     "  print PATH           printed with lp\n"
     "  trash PATH           sent to the Trash\n"
     "  delete PATH          deleted for good\n"
     "Nothing existing is ever replaced; a link is moved as the link.\n"
     "Exit status: 0 when done, 1 when refused (the reason is printed).",
     dm::cli::runFile},
    {"settings", "show the settings the program would use",
     "Usage: dustmaw-cli settings [--json]\n"
     "Shows the settings as the program would use them after reading DM.ini\n"
     "(defaults for what is missing, invalid values replaced), the main\n"
     "window's saved position and where DM.ini is.\n"
     "  --json  one JSON object keyed by the settings' names\n"
     "Exit status: 0.",
     dm::cli::runSettings},
    {"new", "make a new character",
     "Usage: dustmaw-cli new [--no-default] NAME\n"
     "Makes the character file NAME.dmf (1000 bytes, level 1) in the home folder\n"
     "and, unless --no-default is given, makes it the default character in\n"
     "DM.ini, as the desktop program does when it ends.\n"
     "Exit status: 0 when made; 1 when refused (the reason is printed).",
     dm::cli::runNew},
    {"fight", "fight files with a character, in the terminal",
     "Usage: dustmaw-cli fight --chara FILE.dmf [OPTIONS] PATH...\n"
     "Fights every acceptable PATH with the character, one message a line,\n"
     "then prints what happened. Beaten files are sent to the Trash (or\n"
     "deleted); a victory grows the character file, a defeat disposes of it.\n"
     "Settings not given below come from DM.ini.\n"
     "  --style 0|1|2   message style: business-like, role-playing, violent\n"
     "  --order 0..4    attack order: entry, lowest Vitarity, highest Strength,\n"
     "                  lowest Defense, at random\n"
     "  --wait SECONDS  pause after every message (0 for none); without it\n"
     "                  the message wait of DM.ini, 2 s for the big moments\n"
     "  --trash         send beaten files to the Trash\n"
     "  --delete        delete beaten files for good\n"
     "  --log           write a battle log to the home folder\n"
     "  --seed N        draw from seed N: the same files, seed and options\n"
     "                  always give the same battle\n"
     "  --dry-run       fight, but remove nothing and leave the character file\n"
     "                  as it is; say what would have happened\n"
     "Every battle but a dry run is recorded in the history ('dustmaw-cli\n"
     "history'); 'dustmaw-cli restore' brings its files back. A beaten file\n"
     "moves only once the history says where it goes: a file the history\n"
     "cannot record (a full disk) is left in place and named. One character\n"
     "fights one battle at a time: a second one is refused while the first runs.\n"
     "Exit status: 0 victory, 2 defeat, 3 nobody could act, 1 error (bad\n"
     "arguments, no character, nothing acceptable to fight, the character\n"
     "busy in another battle).",
     dm::cli::runFight},
    {"history", "list the battles and what each disposed of",
     "Usage: dustmaw-cli history [--json]\n"
     "Lists the battles of the history, newest first, one a line: number,\n"
     "start time, character, outcome, enemies, how many were beaten, sent to\n"
     "the Trash and deleted, and how many are still in the Trash to restore.\n"
     "The history keeps the last 1000 battles, in the home folder's history/.\n"
     "  --json  one JSON object per battle per line, with every file's path,\n"
     "          size, mode, time, fate and where it is now\n"
     "Exit status: 0.",
     dm::cli::runHistory},
    {"restore", "bring a battle's files back from the Trash",
     "Usage: dustmaw-cli restore [--dry-run] [--to FOLDER] [BATTLE]\n"
     "Puts every file of battle BATTLE (the latest when none is given) that is\n"
     "still in the Trash back at its original path, with its bytes, mode and\n"
     "times, and removes its Trash entry. A missing folder on the way is made\n"
     "again. Nothing is ever replaced: where something now stands at a path,\n"
     "it is kept and the file stays in the Trash. A lost battle's character\n"
     "file comes back the same way.\n"
     "  --to FOLDER  put the files into FOLDER under their own names instead\n"
     "  --dry-run    say what would happen, change nothing\n"
     "Exit status: 0 when every file the battle sent to the Trash is back (or\n"
     "would be), 1 otherwise (each reason on its own line).",
     dm::cli::runRestore},
    {"autostart", "start the desktop program at login, or not",
     "Usage: dustmaw-cli autostart on|off|status\n"
     "Switches the desktop's autostart entry for Dustmaw\n"
     "($XDG_CONFIG_HOME/autostart/dustmaw.desktop, ~/.config by default):\n"
     "  on      write the entry, starting the dustmaw program beside this\n"
     "          dustmaw-cli (by name when installed, by its path otherwise)\n"
     "  off     remove the entry\n"
     "  status  say whether it is on and which program it starts; warn when\n"
     "          that program no longer exists, and fail when the desktop\n"
     "          cannot start the entry at all\n"
     "An entry the desktop could not start (a '%' in the program's path) is\n"
     "never written. An entry saying Hidden=true counts as off. The check box\n"
     "at the foot of the settings dialog switches the same entry.\n"
     "Exit status: 0 when done, 1 on an error or an entry that cannot start.",
     dm::cli::runAutostart},
};

void printHelp()
{
    dm::cli::out(QStringLiteral("Usage: dustmaw-cli COMMAND [OPTIONS] [ARGS]\n\nCommands:"));
    for (const Command& c : kCommands)
        dm::cli::out(
            QStringLiteral("  %1  %2").arg(QString::fromLatin1(c.name), -10).arg(QString::fromLatin1(c.summary)));
    dm::cli::out(QStringLiteral("\n'dustmaw-cli COMMAND --help' explains a command; --version shows the version."));
}

} // namespace

int main(int argc, char** argv)
{
    // What the file object tells the user goes to stderr, as the text alone.
    dm::clsFile::setNotifier([](const QString& text, const QString&) { dm::cli::err(text); });
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        // Checked before Qt makes text of it, for every command alike.
        const QByteArray arg(argv[i]);
        if (!dm::cli::roundTrips(arg))
            return dm::cli::refused(dm::cli::shown(arg), QStringLiteral("not valid UTF-8"));
        args << QFile::decodeName(arg);
    }

    if (args.isEmpty())
        return dm::cli::usageError(QStringLiteral("no command given"));
    const QString name = args.takeFirst();
    if (name == QLatin1String("--version")) {
        dm::cli::out(QStringLiteral("dustmaw-cli ") + dm::VersionText());
        return dm::cli::ExitOk;
    }
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        printHelp();
        return dm::cli::ExitOk;
    }
    for (const Command& c : kCommands) {
        if (name != QLatin1String(c.name))
            continue;
        if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
            dm::cli::out(QString::fromLatin1(c.usage));
            return dm::cli::ExitOk;
        }
        return c.run(args);
    }
    return dm::cli::usageError(QStringLiteral("unknown command '%1'").arg(name));
}
