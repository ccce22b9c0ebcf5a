// dustmaw-cli as a user runs it.
#include "character/CharaFile.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QScopeGuard>

#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace dm;
using namespace dm::test;

namespace {

// The words of a command line, $home standing for the home folder.
QStringList words(const TempHome& home, const char* line)
{
    return QString::fromUtf8(line).replace(u"$home"_s, home.path()).split(u' ', Qt::SkipEmptyParts);
}

using Cli = CliHome;

// dustmaw-cli run in the folder `cwd` with `args`, both as bytes: a QString
// cannot carry a name that is not UTF-8, so the child execs with them itself.
// `removeCwd`: the folder is removed once entered, as under a shell.
ProcessResult runCliBytes(const QByteArray& cwd, QByteArrayList args, bool removeCwd = false)
{
    args.prepend(DUSTMAW_CLI);
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QProcess p;
    p.setProgram(QStringLiteral(DUSTMAW_CLI));
    p.setChildProcessModifier([&] {
        if (::chdir(cwd.constData()) == 0 && (!removeCwd || ::rmdir(cwd.constData()) == 0))
            ::execv(argv[0], argv.data());
        ::_exit(127);
    });
    p.start();
    return finished(p);
}

TEST_F(Cli, InspectJsonKeepsArgumentOrderResolvesFoldersAndEscapes)
{
    makeDir(home.file(u"sub"_s));
    const QString odd = makeFile(home.file(u"line\nbreak \"q\".txt"_s), QByteArray(3000, 'x'));
    makeLink(hero, home.file(u"link.dmf"_s));
    // The folder part is resolved on disk; the last part stays, so a link stays a link.
    const ProcessResult r =
        runCli(words(home, "inspect --json $home/./sub/../Hero.dmf $home/gone $home $home//sub/./../link.dmf") << odd);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(std::pair(r.exitCode, lines.size()), std::pair(1, qsizetype{5})) << r.out.toStdString();
    const QByteArray dir = QFileInfo(home.path()).canonicalFilePath().toUtf8();
    // The values are the derivation cases'; here the keys, their nesting and the resolved paths.
    EXPECT_TRUE(lines[0].startsWith("{\"Name\":\"Hero\",\"Level\":1,\"MaxVitarity\":134,")
                && lines[0].contains(",\"FileName\":\"" + dir + "/Hero.dmf\",\"ItemPercent\":{\"Strength\":100,")
                && lines[0].endsWith(",\"Luck\":11},\"NextLevel\":1179}")) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "{\"FileName\":\"" + dir + "/gone\",\"error\":\"no such file\"}");
    EXPECT_EQ(lines[2], "{\"FileName\":\"" + dir + "\",\"error\":\"is a folder\"}");
    EXPECT_TRUE(lines[3].startsWith("{\"Name\":\"link\",") && lines[3].contains(dir + "/link.dmf\",\"ItemPercent"));
    EXPECT_TRUE(lines[4].startsWith("{\"Name\":\"line\\nbreak \\\"q\\\"\",")) << lines[4].toStdString();
}

// Dry runs touch nothing and leave no history or lock; disposal after a real fight is the battle cases' business.
TEST_F(Cli, InvocationsAnsweredOrRefused)
{
    const QString ini = home.file(u"DM.ini"_s);
    EXPECT_EQ(runCli(words(home, "new --no-default Other")).exitCode, 0);
    EXPECT_TRUE(CheckCharaFile(home.file(u"Other.dmf"_s)));
    EXPECT_TRUE(readFile(ini).contains("DefaultChara=" + native(hero) + '\n')) << "only the first new is the default";
    QFile::remove(ini);
    EXPECT_TRUE(runCli(words(home, "settings --json")).out.contains("\"IniExists\":false,") && !QFile::exists(ini))
        << "looking creates nothing";
    writeFile(home.file(u"Bad.dmf"_s), stampedChara(1000) + 'x');
    writeFile(ini, "[Setting]\nMsgWait=13\nFormTop=-1\nLeft=1500\nLog=1\n[Param]\nTop=-45\n");
    const QByteArray heroBytes = readFile(hero);
    const ProcessResult dry = runCli(words(home, "fight --chara $home/Hero.dmf --wait 0 --seed 1 --dry-run") + enemies);
    EXPECT_TRUE(dry.exitCode == 0 && dry.out.contains("dry run")) << dry.err.toStdString();
    EXPECT_TRUE(std::ranges::all_of(enemies, [](const QString& p) { return QFile::exists(p); })
                && readFile(hero) == heroBytes);
    EXPECT_FALSE(QFileInfo::exists(home.file(u"history"_s)) || QFileInfo::exists(home.file(u"locks"_s)));
    // What stdout holds, or how stderr begins.
    const std::tuple<const char*, int, const char*> rows[] = {
        {"inspect $home/Hero.dmf", 0, "Next Level : 1179\n"}, {"verify $home/Bad.dmf", 1, "Bad.dmf: inval"},
        // /proc is a file system of its own; the file object's message says so.
        {"file firstmove $home/enemies/a.txt /proc/a.txt", 1, "移動元と移動先のﾄﾞﾗｲﾌﾞは同じである必用があります\n"},
        {"verify $home/Hero.dmf $home/Bad.dmf", 1, "Hero.dmf: valid\n"},
        {"info --json $home/gone", 1, "\"Size\":-1,"}, // a missing path gets every answer too
        {"settings --json", 0, "\"MsgWait\":1.3,\"AttSr\":0,\"DeadAfter\":0,\"FormTop\":-1,\"MsgType\":0,\"Log\":1,"
                               "\"Minimize\":0,\"CharaPath\":\"\",\"Left\":1500,\"Top\":0,\"EntryLeft\":0,"
                               "\"EntryTop\":0,\"ParamLeft\":0,\"ParamTop\":-45}\n"},
        {"settings extra", 1, "dustmaw-cli: "}, {"new Hero", 1, "dustmaw-cli: すでに存在するキャラです"},
        {"fight --chara $home/none.dmf $home/enemies/a.txt", 1, "dustmaw-cli: "},
        {"fight --chara $home/Hero.dmf --style 3 $home/enemies/a.txt", 1, "dustmaw-cli: "},
        // A folder and the character itself are never fought.
        {"fight --chara $home/Hero.dmf $home $home/Hero.dmf", 1, "dustmaw-cli: nothing acceptable"}};
    for (const auto& [line, exit, says] : rows) {
        const ProcessResult r = runCli(words(home, line));
        EXPECT_TRUE(r.exitCode == exit && (r.err.startsWith(says) || r.out.contains(says)))
            << line << " exit " << r.exitCode << ": " << (r.out + r.err).toStdString();
    }
    EXPECT_TRUE(QFile::exists(enemies[0]) && CheckCharaFile(hero));
}

// Qt reads a name that is not UTF-8 with U+FFFD for each bad byte; acted upon, that text named the file beside it.
TEST_F(Cli, NamesThatAreNotUtf8AreRefusedAndNothingIsTouched)
{
    const QByteArray h = native(home.path());
    const QByteArray bad = h + "/\xFF", twin = h + "/\uFFFD"; // a bad byte, and what Qt makes of it
    // Each holds its own name.
    const QByteArrayList files{h + "/enemies/\xFF\xFE.txt", h + "/enemies/\uFFFD\uFFFD.txt", bad + "/a.txt",
                               twin + "/a.txt"};
    // QTemporaryDir cannot remove what it cannot name.
    const auto cleanUp = qScopeGuard([&] {
        ::unlink(files[0]);
        ::unlink(files[2]);
        ::rmdir(bad);
    });
    ASSERT_TRUE(::mkdir(bad, 0755) == 0 && ::mkdir(twin, 0755) == 0 && ::symlink("\xFF", h + "/via") == 0);
    const auto contents = [](const QByteArray& path) {
        std::ifstream in(path.constData());
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    for (const QByteArray& f : files) {
        std::ofstream(f.constData()) << f.constData();
        ASSERT_EQ(contents(f), f.toStdString());
    }
    const QByteArray heroBytes = readFile(hero);
    // Where it runs, the command ($home: the home folder's bytes), how stderr shows the name.
    const std::tuple<QByteArray, const char*, const char*> rows[] = {
        {h, "fight --chara $home/Hero.dmf --wait 0 --seed 1 $home/enemies/\xFF\xFE.txt", "/enemies/\\xff\\xfe.txt'"},
        {h, "file trash $home/\xFF/a.txt", "/\\xff/a.txt'"},
        // A link to a folder whose name is not UTF-8, and a working folder of that name.
        {h, "file trash $home/via/a.txt", "/\\xff/a.txt'"},
        {bad, "file delete a.txt", "/\\xff/a.txt'"}};
    for (const auto& [cwd, line, shown] : rows) {
        const ProcessResult r = runCliBytes(cwd, QByteArray(line).replace("$home", h).split(' '));
        EXPECT_TRUE(r.exitCode == 1 && r.err.contains(shown) && r.err.contains("not valid UTF-8"))
            << line << " exit " << r.exitCode << ": " << (r.out + r.err).toStdString();
        for (const QByteArray& f : files)
            EXPECT_EQ(contents(f), f.toStdString()) << line;
    }
    EXPECT_TRUE(trash("files").isEmpty() && readFile(hero) == heroBytes && !QFileInfo::exists(home.file(u"history"_s)));
    // A removed working folder has no path: "etc" there is not "/etc".
    const ProcessResult gone = runCliBytes(native(makeDir(home.file(u"gone"_s))), {"info", "etc"}, true);
    EXPECT_TRUE(gone.exitCode == 1 && gone.out.isEmpty() && gone.err.contains("'etc': the working folder has no path"))
        << (gone.out + gone.err).toStdString();
}

} // namespace
