// dustmaw-cli as a user runs it.
#include "character/CharaFile.h"
#include "support/TestSupport.h"

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
