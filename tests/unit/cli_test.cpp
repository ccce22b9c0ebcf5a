// dustmaw-cli as a user runs it.
#include "character/CharaFile.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace dm;
using namespace dm::test;

namespace {

ProcessResult cli(const QStringList& args) { return runProgram(QStringLiteral(DUSTMAW_CLI), args); }

TEST(Cli, InspectJsonKeepsArgumentOrderAndReportsRefusals)
{
    QTemporaryDir dir;
    const QString hero = dir.filePath(QStringLiteral("Hero.dmf"));
    writeFileOfSize(hero, 1000);
    const ProcessResult r = cli({QStringLiteral("inspect"), QStringLiteral("--json"), hero,
                                 dir.filePath(QStringLiteral("missing.txt")), dir.path()});
    EXPECT_EQ(r.exitCode, 1);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    const QByteArray expected =
        "{\"Name\":\"Hero\",\"Level\":1,\"MaxVitarity\":134,\"Vitarity\":134,\"Strength\":150,"
        "\"Defense\":43,\"Agility\":169,\"Luck\":11,\"ItemNo\":999,\"Item\":\"Cape\",\"Tribe\":\"DMF\","
        "\"Experience\":1000,\"LongPath\":\"" + dir.path().toUtf8() + "/\",\"LevelStep\":1179,"
        "\"FileName\":\"" + hero.toUtf8() + "\","
        "\"ItemPercent\":{\"Strength\":100,\"Defense\":105,\"Agility\":100,\"Luck\":100},"
        "\"Effective\":{\"Strength\":150,\"Defense\":45,\"Agility\":169,\"Luck\":11},\"NextLevel\":1179}";
    EXPECT_EQ(lines[0], expected);
    EXPECT_EQ(lines[1], "{\"FileName\":\"" + dir.filePath(QStringLiteral("missing.txt")).toUtf8()
                            + "\",\"error\":\"no such file\"}");
    EXPECT_EQ(lines[2], "{\"FileName\":\"" + dir.path().toUtf8() + "\",\"error\":\"is a folder\"}");
}

TEST(Cli, InspectShowsTheSheetAndEscapesOddNames)
{
    QTemporaryDir dir;
    const QString odd = dir.filePath(QStringLiteral("line\nbreak \"q\".txt"));
    writeFileOfSize(odd, 3000);
    const ProcessResult text = cli({QStringLiteral("inspect"), odd});
    EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains("Tribe : TXT")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("Next Level :")) << text.out.toStdString();

    const ProcessResult json = cli({QStringLiteral("inspect"), QStringLiteral("--json"), odd});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out.count('\n'), 1);
    EXPECT_TRUE(json.out.contains("\"Name\":\"line\\nbreak \\\"q\\\"\"")) << json.out.toStdString();
}

TEST(Cli, VerifyExitStatus)
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("Good.dmf"));
    const QString bad = dir.filePath(QStringLiteral("Bad.dmf"));
    writeFile(good, CheckHeader(1000) + QByteArray(990, 'x'));
    writeFile(bad, CheckHeader(1000) + QByteArray(991, 'x'));
    const struct {
        QStringList args;
        int exit;
    } cases[] = {
        {{good}, 0},
        {{bad}, 1},
        {{good, bad}, 1},
        {{dir.filePath(QStringLiteral("missing.dmf"))}, 1},
    };
    for (const auto& c : cases) {
        const ProcessResult r = cli(QStringList{QStringLiteral("verify")} + c.args);
        EXPECT_EQ(r.exitCode, c.exit) << c.args.join(QLatin1Char(' ')).toStdString();
    }
}

TEST(Cli, InfoAnswersEveryMemberAlsoForAMissingPath)
{
    TempHome home;
    const QString file = home.file(QStringLiteral("a.txt"));
    writeFile(file, "abc");
    const ProcessResult r = cli({QStringLiteral("info"), QStringLiteral("--json"), file, home.file(QStringLiteral("gone"))});
    EXPECT_EQ(r.exitCode, 1);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    const QJsonObject present = QJsonDocument::fromJson(lines[0]).object();
    const QJsonObject missing = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_TRUE(lines[0].startsWith("{\"FileName\":") && lines[0].contains("\"LongPathName\""));
    EXPECT_EQ(present.keys(), missing.keys());
    EXPECT_EQ(present.value(QStringLiteral("Size")).toInt(), 3);
    EXPECT_EQ(present.value(QStringLiteral("Extension")).toString(), QStringLiteral("TXT"));
    EXPECT_EQ(missing.value(QStringLiteral("Size")).toInt(), -1);
    EXPECT_TRUE(missing.value(QStringLiteral("Directory")).toBool());
    EXPECT_EQ(missing.value(QStringLiteral("FileType")).toString(), QStringLiteral("不明"));
}

TEST(Cli, BadInvocationsFailCleanly)
{
    const struct {
        QStringList args;
        bool ok;
    } cases[] = {
        {{}, false},
        {{QStringLiteral("frobnicate")}, false},
        {{QStringLiteral("inspect")}, false},
        {{QStringLiteral("inspect"), QStringLiteral("--bogus"), QStringLiteral("x")}, false},
        {{QStringLiteral("verify")}, false},
        {{QStringLiteral("--help")}, true},
        {{QStringLiteral("--version")}, true},
        {{QStringLiteral("inspect"), QStringLiteral("--help")}, true},
        {{QStringLiteral("verify"), QStringLiteral("--help")}, true},
    };
    for (const auto& c : cases) {
        const ProcessResult r = cli(c.args);
        const std::string what = c.args.join(QLatin1Char(' ')).toStdString();
        if (c.ok) {
            EXPECT_EQ(r.exitCode, 0) << what;
            EXPECT_FALSE(r.out.isEmpty()) << what;
        } else {
            EXPECT_GT(r.exitCode, 0) << what;
            EXPECT_TRUE(r.err.startsWith("dustmaw-cli: ")) << what << ": " << r.err.toStdString();
        }
    }
}

} // namespace

namespace {

class CliBattle : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.file(QStringLiteral("xdg"))));
        enemies = home.file(QStringLiteral("enemies"));
        ASSERT_TRUE(QDir().mkpath(enemies));
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFileOfSize(enemies + QLatin1Char('/') + QLatin1String(name), 1);
    }
    QStringList enemyPaths() const
    {
        return {enemies + QStringLiteral("/a.txt"), enemies + QStringLiteral("/b.txt"), enemies + QStringLiteral("/c.txt")};
    }
    TempHome home;
    QString enemies;
};

TEST_F(CliBattle, NewMakesTheDefaultCharacter)
{
    const ProcessResult made = cli({QStringLiteral("new"), QStringLiteral("Hero")});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const QString path = home.file(QStringLiteral("Hero.dmf"));
    EXPECT_EQ(made.out.trimmed(), QFile::encodeName(path));
    EXPECT_TRUE(CheckCharaFile(path));
    EXPECT_TRUE(readFile(home.file(QStringLiteral("DM.ini"))).contains("DefaultChara=" + QFile::encodeName(path)));

    const ProcessResult again = cli({QStringLiteral("new"), QStringLiteral("Hero")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.contains("すでに存在するキャラです")) << again.err.toStdString();

    const ProcessResult other = cli({QStringLiteral("new"), QStringLiteral("--no-default"), QStringLiteral("Other")});
    EXPECT_EQ(other.exitCode, 0);
    EXPECT_TRUE(readFile(home.file(QStringLiteral("DM.ini"))).contains("DefaultChara=" + QFile::encodeName(path)));
}

TEST_F(CliBattle, DryRunIsRepeatableAndTouchesNothing)
{
    ASSERT_EQ(cli({QStringLiteral("new"), QStringLiteral("Hero")}).exitCode, 0);
    const QString hero = home.file(QStringLiteral("Hero.dmf"));
    const QByteArray heroBytes = readFile(hero);
    const QStringList args = QStringList{QStringLiteral("fight"), QStringLiteral("--chara"), hero, QStringLiteral("--wait"),
                                         QStringLiteral("0"), QStringLiteral("--seed"), QStringLiteral("42"),
                                         QStringLiteral("--dry-run")}
        + enemyPaths();
    const ProcessResult first = cli(args);
    const ProcessResult second = cli(args);
    EXPECT_TRUE(first.exitCode == 0 || first.exitCode == 2) << first.err.toStdString();
    EXPECT_EQ(first.out, second.out);
    EXPECT_EQ(first.exitCode, second.exitCode);
    EXPECT_TRUE(first.out.contains("dry run")) << first.out.toStdString();
    EXPECT_EQ(readFile(hero), heroBytes);
    for (const QString& p : enemyPaths())
        EXPECT_TRUE(QFile::exists(p)) << p.toStdString();
}

TEST_F(CliBattle, RealFightDisposesOfWhatItBeat)
{
    ASSERT_EQ(cli({QStringLiteral("new"), QStringLiteral("Hero")}).exitCode, 0);
    const QString hero = home.file(QStringLiteral("Hero.dmf"));
    const ProcessResult r = cli(QStringList{QStringLiteral("fight"), QStringLiteral("--chara"), hero, QStringLiteral("--wait"),
                                            QStringLiteral("0"), QStringLiteral("--seed"), QStringLiteral("3"),
                                            QStringLiteral("--style"), QStringLiteral("1")}
                                + enemyPaths());
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("## !!戦闘開始!! ##\n")) << r.out.toStdString();
    // Every file the summary calls trashed is in the trash; the others stay.
    for (const QString& p : enemyPaths()) {
        const bool trashed = r.out.contains("  trashed: " + QFile::encodeName(p) + "\n");
        EXPECT_EQ(QFile::exists(p), !trashed) << p.toStdString();
        EXPECT_EQ(QFile::exists(home.file(QStringLiteral("xdg/Trash/files/")) + QFileInfo(p).fileName()), trashed);
    }
    if (r.exitCode == 0)
        EXPECT_TRUE(CheckCharaFile(hero));
    else
        EXPECT_FALSE(QFile::exists(hero));
}

TEST_F(CliBattle, FightRefusesBadInput)
{
    ASSERT_EQ(cli({QStringLiteral("new"), QStringLiteral("Hero")}).exitCode, 0);
    const QString hero = home.file(QStringLiteral("Hero.dmf"));
    const QString a = enemyPaths().first();
    const struct {
        QStringList args;
    } cases[] = {
        {{QStringLiteral("fight"), a}},
        {{QStringLiteral("fight"), QStringLiteral("--chara"), hero}},
        {{QStringLiteral("fight"), QStringLiteral("--chara"), home.file(QStringLiteral("none.dmf")), a}},
        {{QStringLiteral("fight"), QStringLiteral("--chara"), hero, QStringLiteral("--style"), QStringLiteral("3"), a}},
        {{QStringLiteral("fight"), QStringLiteral("--chara"), hero, QStringLiteral("--order"), QStringLiteral("x"), a}},
        {{QStringLiteral("fight"), QStringLiteral("--chara"), hero, QStringLiteral("--wait"), QStringLiteral("-1"), a}},
        {{QStringLiteral("fight"), QStringLiteral("--chara"), hero, QStringLiteral("--bogus"), a}},
        {{QStringLiteral("fight"), QStringLiteral("--chara"), hero, home.path(), hero}},
        {{QStringLiteral("new")}},
        {{QStringLiteral("new"), QStringLiteral("a/b")}},
    };
    for (const auto& c : cases) {
        const ProcessResult r = cli(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.startsWith("dustmaw-cli: ")) << r.err.toStdString();
    }
    EXPECT_TRUE(QFile::exists(a));
    EXPECT_TRUE(CheckCharaFile(hero));
}

} // namespace

namespace {

TEST(Cli, FolderPartOfAPathIsResolvedAndALinkStaysALink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    writeFileOfSize(dir.filePath(QStringLiteral("Hero.dmf")), 1000);
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("Hero.dmf")), dir.filePath(QStringLiteral("link.dmf"))));
    const QString real = QFileInfo(dir.path()).canonicalFilePath();
    const struct {
        QString given, fileName;
    } cases[] = {
        {dir.path() + QStringLiteral("/./sub/../Hero.dmf"), real + QStringLiteral("/Hero.dmf")},
        {dir.path() + QStringLiteral("//sub/./../link.dmf"), real + QStringLiteral("/link.dmf")},
    };
    for (const auto& c : cases) {
        const ProcessResult r = cli({QStringLiteral("inspect"), QStringLiteral("--json"), c.given});
        EXPECT_EQ(r.exitCode, 0) << c.given.toStdString();
        EXPECT_TRUE(r.out.contains("\"FileName\":\"" + c.fileName.toUtf8() + "\"")) << r.out.toStdString();
    }
}

} // namespace

namespace {

TEST_F(CliBattle, FullDiskLeavesTheCharacterFileAsItWas)
{
    // A small file system of its own, in a mount namespace of its own, holds
    // the character file and fills up; the enemy lies elsewhere.
    if (runProgram(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("true")}).exitCode != 0)
        GTEST_SKIP() << "cannot make a mount namespace here";
    ASSERT_EQ(cli({QStringLiteral("new"), QStringLiteral("Hero")}).exitCode, 0);
    const QString hero = home.file(QStringLiteral("Hero.dmf"));
    const QString mount = home.file(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mount));
    const QString enemy = home.file(QStringLiteral("enemies/a.txt"));
    writeFile(enemy, QByteArray());

    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 100\n"
        "cp \"$2\" \"$1/Hero.dmf\"\n"
        "head -c 1000000 /dev/zero > \"$1/fill\" 2>/dev/null\n"
        "\"$3\" fight --chara \"$1/Hero.dmf\" --wait 0 --seed 1 \"$4\"; rc=$?\n"
        "cmp -s \"$2\" \"$1/Hero.dmf\" && echo UNCHANGED\n"
        "ls -A \"$1\"\n"
        "exit $rc\n");
    const ProcessResult r = runProgram(QStringLiteral("unshare"),
                                       {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), script,
                                        QStringLiteral("sh"), mount, hero, QStringLiteral(DUSTMAW_CLI), enemy});
    if (r.exitCode == 100)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("could not be grown")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("UNCHANGED\n")) << r.out.toStdString();
    EXPECT_TRUE(r.out.endsWith("Hero.dmf\nfill\n")) << "no temporary file is left: " << r.out.toStdString();
    EXPECT_FALSE(QFile::exists(enemy)) << "the beaten enemy is still disposed of";
}

} // namespace
