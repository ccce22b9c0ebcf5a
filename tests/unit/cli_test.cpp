// dustmaw-cli as a user runs it.
#include "character/CharaFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace dm;
using namespace dm::test;

namespace {

// A home and Trash of the case's own, with three one-byte enemies.
class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(home.file(QStringLiteral("enemies"))));
        for (const QString& p : enemies)
            writeFileOfSize(p, 1);
    }
    // The words of a command line, $home standing for the home folder.
    QStringList words(const char* line) const
    {
        return QString::fromUtf8(line).replace(QStringLiteral("$home"), home.path()).split(u' ', Qt::SkipEmptyParts);
    }
    // Runs `new Hero`, which makes Hero.dmf the default character.
    QString newHero()
    {
        const ProcessResult made = runCli(words("new Hero"));
        EXPECT_EQ(made.out, QFile::encodeName(home.file(QStringLiteral("Hero.dmf"))) + '\n') << made.err.toStdString();
        return home.file(QStringLiteral("Hero.dmf"));
    }

    TempHome home{TempHome::OwnTrash};
    const QStringList enemies{home.file(QStringLiteral("enemies/a.txt")), home.file(QStringLiteral("enemies/b.txt")),
                              home.file(QStringLiteral("enemies/c.txt"))};
};

TEST_F(Cli, InspectJsonKeepsArgumentOrderResolvesFoldersAndEscapes)
{
    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("sub")));
    writeFileOfSize(home.file(QStringLiteral("Hero.dmf")), 1000);
    const QString odd = home.file(QStringLiteral("line\nbreak \"q\".txt"));
    writeFileOfSize(odd, 3000);
    ASSERT_TRUE(QFile::link(home.file(QStringLiteral("Hero.dmf")), home.file(QStringLiteral("link.dmf"))));
    // The folder part is resolved on disk; the last part stays, so a link stays a link.
    const ProcessResult r =
        runCli(words("inspect --json $home/./sub/../Hero.dmf $home/gone $home $home//sub/./../link.dmf") << odd);
    EXPECT_EQ(r.exitCode, 1);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    const QByteArray dir = QFileInfo(home.path()).canonicalFilePath().toUtf8();
    // The values are the derivation cases'; here the keys, their nesting and the resolved paths.
    EXPECT_TRUE(lines[0].startsWith("{\"Name\":\"Hero\",\"Level\":1,\"MaxVitarity\":134,\"Vitarity\":134,")
                && lines[0].contains(",\"LongPath\":\"" + dir + "/\",\"LevelStep\":1179,\"FileName\":\"" + dir
                                     + "/Hero.dmf\",\"ItemPercent\":{\"Strength\":100,\"Defense\":105,")
                && lines[0].endsWith(",\"Effective\":{\"Strength\":150,\"Defense\":45,\"Agility\":169,"
                                     "\"Luck\":11},\"NextLevel\":1179}")) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "{\"FileName\":\"" + dir + "/gone\",\"error\":\"no such file\"}");
    EXPECT_EQ(lines[2], "{\"FileName\":\"" + dir + "\",\"error\":\"is a folder\"}");
    EXPECT_TRUE(lines[3].startsWith("{\"Name\":\"link\",") && lines[3].contains(dir + "/link.dmf\",\"ItemPercent"));
    EXPECT_TRUE(lines[4].startsWith("{\"Name\":\"line\\nbreak \\\"q\\\"\",")) << lines[4].toStdString();
}

TEST_F(Cli, InvocationsAnsweredOrRefused)
{
    EXPECT_TRUE(runCli(words("settings --json")).out.contains("\"IniExists\":false,"));
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("DM.ini")))) << "looking creates nothing";
    const QString hero = newHero();
    EXPECT_EQ(runCli(words("new --no-default Other")).exitCode, 0);
    EXPECT_TRUE(CheckCharaFile(home.file(QStringLiteral("Other.dmf"))));
    const QString ini = home.file(QStringLiteral("DM.ini"));
    EXPECT_TRUE(readFile(ini).contains("DefaultChara=" + QFile::encodeName(hero) + '\n'));
    writeFile(home.file(QStringLiteral("Bad.dmf")), stampedChara(1000) + 'x');
    writeFile(ini, "[Setting]\nMsgWait=13\nFormTop=-1\nLeft=1500\nLog=1\n[Param]\nTop=-45\n");
    const char* const refused = "dustmaw-cli: ";
    const struct { const char* line; int exit; const char* says; } rows[] = { // on stdout, or how stderr begins
        {"inspect $home/Hero.dmf", 0, "Next Level : 1179\n"}, {"verify $home/Bad.dmf", 1, "Bad.dmf: inval"},
        // /proc is a file system of its own; the file object's message says so.
        {"file firstmove $home/enemies/a.txt /proc/a.txt", 1, "移動元と移動先のﾄﾞﾗｲﾌﾞは同じである必用があります\n"},
        {"verify $home/Hero.dmf $home/Bad.dmf", 1, "Hero.dmf: valid\n"},
        {"info --json $home/gone", 1, "\"Size\":-1,"}, // a missing path gets every answer too
        {"settings --json", 0, "\"MsgWait\":1.3,\"AttSr\":0,\"DeadAfter\":0,\"FormTop\":-1,\"MsgType\":0,"},
        {"settings --json", 0, "\"Left\":1500,\"Top\":0,\"EntryLeft\":0,\"EntryTop\":0,\"ParamLeft\":0,"
                               "\"ParamTop\":-45}\n"},
        {"settings extra", 1, refused}, {"new Hero", 1, "dustmaw-cli: すでに存在するキャラです"},
        {"fight --chara $home/none.dmf $home/enemies/a.txt", 1, refused},
        {"fight --chara $home/Hero.dmf --style 3 $home/enemies/a.txt", 1, refused},
        // A folder and the character itself are never fought.
        {"fight --chara $home/Hero.dmf $home $home/Hero.dmf", 1, "dustmaw-cli: nothing acceptable"},
    };
    for (const auto& row : rows) {
        const ProcessResult r = runCli(words(row.line));
        EXPECT_EQ(r.exitCode, row.exit) << row.line;
        EXPECT_TRUE(r.err.startsWith(row.says) || r.out.contains(row.says))
            << row.line << ": " << (r.out + r.err).toStdString();
    }
    EXPECT_TRUE(QFile::exists(enemies[0]) && CheckCharaFile(hero));
}

// Disposal after a real fight is the battle cases' business.
TEST_F(Cli, FightDryRunTouchesNothing)
{
    const QString hero = newHero();
    const QByteArray heroBytes = readFile(hero);
    const QStringList dry = words("fight --chara $home/Hero.dmf --wait 0 --seed 42 --dry-run") + enemies;
    const ProcessResult first = runCli(dry), second = runCli(dry);
    EXPECT_TRUE(first.exitCode == 0 || first.exitCode == 2) << first.err.toStdString();
    EXPECT_EQ(std::tie(first.out, first.exitCode), std::tie(second.out, second.exitCode)) << "same seed, same battle";
    EXPECT_TRUE(first.out.contains("dry run")) << first.out.toStdString();
    EXPECT_EQ(readFile(hero), heroBytes);
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("history")))
                 || QFileInfo::exists(home.file(QStringLiteral("locks"))))
        << "no history, no lock";
    for (const QString& p : enemies)
        EXPECT_TRUE(QFile::exists(p)) << p.toStdString();
}

} // namespace
