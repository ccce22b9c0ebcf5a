// The process-wide settings: defaults, conversion and validation of DM.ini,
// what is written back, and files users leave behind.
#include "character/CharaRecord.h"
#include "services/Settings.h"
#include "services/HomeFolder.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <random>
#include <sys/stat.h>

namespace dm {
namespace {

using test::CaseName;
using test::PrintTo;

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() { ResetSettings(); }
    ~SettingsTest() override { ResetSettings(); }

    // What the main window does at start-up.
    static SavedPosition startUp()
    {
        ResetSettings();
        return ReadSettings();
    }

    test::TempHome home;
    QString ini = home.file(QStringLiteral("DM.ini"));
};

TEST_F(SettingsTest, FirstRunWithoutFile)
{
    EntryLeft = 99;
    EXPECT_EQ(startUp(), (SavedPosition{0, 0}));
    EXPECT_EQ(MsgWait, 1.0F);
    EXPECT_EQ(FormTop, 0); // raised once, not made topmost
    EXPECT_EQ(AttSr | DeadAfter | MsgType | Log | Minimize | EntryLeft, 0);

    ASSERT_TRUE(WriteSettings(0.0F, 0.0F));
    EXPECT_EQ(test::readFile(ini), QByteArray("[Setting]\nMsgWait=10\nAttSr=0\nDeadAfter=0\nFormTop=0\nMsgType=0\n"
                                              "Left=0\nTop=0\nDefaultChara=\nMinimize=0\n"
                                              "[Entry]\nLeft=0\nTop=0\n[Param]\nLeft=0\nTop=0\n"));
    startUp();
    EXPECT_EQ(FormTop, -2); // the stored 0 now means "not topmost"
}

enum class Field { MsgWait, AttSr, DeadAfter, FormTop, MsgType, Log, Minimize, Left, Top, EntryTop, ParamLeft };

double valueOf(Field f, const SavedPosition& p)
{
    switch (f) {
    case Field::MsgWait: return MsgWait;
    case Field::AttSr: return AttSr;
    case Field::DeadAfter: return DeadAfter;
    case Field::FormTop: return FormTop;
    case Field::MsgType: return MsgType;
    case Field::Log: return Log;
    case Field::Minimize: return Minimize;
    case Field::Left: return p.Left;
    case Field::Top: return p.Top;
    case Field::EntryTop: return EntryTop;
    case Field::ParamLeft: return ParamLeft;
    }
    return std::nan("");
}

struct ReadCase {
    const char* name;
    const char* line; // "[Section]" and one "Key=value" line
    Field field;
    double expected;
};
class SettingsRead : public SettingsTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(SettingsRead, ConvertsAndValidates)
{
    test::writeFile(ini, GetParam().line);
    const SavedPosition pos = startUp();
    EXPECT_EQ(valueOf(GetParam().field, pos), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, SettingsRead, ::testing::Values(
    ReadCase{"MsgWaitTenths", "[Setting]\nMsgWait=16", Field::MsgWait, 1.6F},
    ReadCase{"MsgWaitNotInSet", "[Setting]\nMsgWait=12", Field::MsgWait, 1.0F},
    ReadCase{"MsgWaitNotANumber", "[Setting]\nMsgWait=fast", Field::MsgWait, 1.0F},
    ReadCase{"MsgWaitExponent", "[Setting]\nMsgWait=1.3e1", Field::MsgWait, 1.3F},
    ReadCase{"MsgWaitQuotedBlanksLetters", "[Setting]\nMsgWait=\"+ 1 6s\"", Field::MsgWait, 1.6F},
    ReadCase{"MsgWaitBeyondSingle", "[Setting]\nMsgWait=1e39", Field::MsgWait, 1.0F},
    ReadCase{"AttSrOutOfRange", "[Setting]\nAttSr=7", Field::AttSr, 0},
    ReadCase{"AttSrHalfToEvenDown", "[Setting]\nAttSr=2.5", Field::AttSr, 2},
    ReadCase{"AttSrDoubleExponent", "[Setting]\nAttSr=0.02D2", Field::AttSr, 2},
    ReadCase{"AttSrHexIsNotDecimal", "[Setting]\nAttSr=&H2", Field::AttSr, 0},
    ReadCase{"AttSrBeyondInteger", "[Setting]\nAttSr=65538", Field::AttSr, 0},
    ReadCase{"DeadAfterRoundsOutOfRange", "[Setting]\nDeadAfter=1.5", Field::DeadAfter, 0},
    ReadCase{"FormTopStoredZero", "[Setting]\nFormTop=0", Field::FormTop, -2},
    ReadCase{"FormTopBlankAfterSign", "[Setting]\nFormTop=- 1", Field::FormTop, -1},
    ReadCase{"FormTopBeyondInteger", "[Setting]\nFormTop=-65537", Field::FormTop, -2},
    ReadCase{"MsgTypeOutOfRange", "[Setting]\nMsgType=3", Field::MsgType, 0},
    ReadCase{"LogRounded", "[Setting]\nLog=1.4", Field::Log, 1},
    ReadCase{"MinimizeNegative", "[Setting]\nMinimize=-1", Field::Minimize, 0},
    ReadCase{"LeftHalfToEven", "[Setting]\nLeft=1501.5", Field::Left, 1502},
    ReadCase{"LeftTrailingLetters", "[Setting]\nLeft=12abc", Field::Left, 12},
    ReadCase{"LeftLargestLong", "[Setting]\nLeft=2147483647", Field::Left, 2147483647},
    ReadCase{"LeftBeyondLong", "[Setting]\nLeft=2147483648", Field::Left, 0},
    ReadCase{"TopHugeExponent", "[Setting]\nTop=1e400", Field::Top, 0},
    ReadCase{"EntryTop", "[Entry]\nTop=7.5", Field::EntryTop, 8},
    ReadCase{"ParamLeft", "[Param]\nLeft=-4500", Field::ParamLeft, -4500}), CaseName());

TEST(Val, LongestLeadingDecimalNumber)
{
    const struct {
        const char* text;
        double value;
    } cases[] = {{"", 0},    {".", 0},       {"-.5", -0.5},  {"1.5.2", 1.5}, {"1,5", 1},   {"12e+", 12},
                 {"1d2", 100}, {"--5", 0},   {"\t 7 \n", 7}, {"0x10", 0},    {"1e-400", 0}, {"inf", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(Val(QString::fromUtf8(c.text)), c.value) << c.text;
    EXPECT_EQ(Val(u"-1e400"), -std::numeric_limits<double>::infinity());
}

TEST_F(SettingsTest, DefaultCharaMustStillBeAReadableFile)
{
    const QString hero = home.file(QStringLiteral("hero.dmf"));
    test::writeFile(hero, QByteArray(20, 'x'));
    const struct {
        QString stored;
        bool kept;
    } cases[] = {{hero, true},
                 {home.file(QStringLiteral("deleted.dmf")), false},
                 {home.path(), false},
                 {QStringLiteral("hero.dmf"), false}};
    for (const auto& c : cases) {
        test::writeFile(ini, "[Setting]\nDefaultChara=" + c.stored.toUtf8() + '\n');
        startUp();
        EXPECT_EQ(CharaPath, c.kept ? c.stored : QString()) << c.stored.toStdString();
        ASSERT_TRUE(WriteSettings(0.0F, 0.0F));
        EXPECT_TRUE(test::readFile(ini).contains("\nDefaultChara=" + CharaPath.toUtf8() + '\n'));
    }
}

TEST_F(SettingsTest, NumbersWrittenAsUsersReadThem)
{
    const struct {
        float msgWait, left, top;
        const char* lines;
        SavedPosition readBack;
    } cases[] = {{0.2F, 1500.0F, -0.0F, "MsgWait=2\n", {1500, 0}},
                 {1.0F, 12.5F, -15.0F, "Left=12.5\nTop=-15\n", {12, -15}},
                 {1.3F, 1234567.0F, 7.25F, "MsgWait=13\n", {1234567, 7}},
                 {1.6F, 0.0F, 14400.0F, "Left=0\nTop=14400\n", {0, 14400}}};
    for (const auto& c : cases) {
        ResetSettings();
        MsgWait = c.msgWait;
        ASSERT_TRUE(WriteSettings(c.left, c.top));
        EXPECT_TRUE(test::readFile(ini).contains(QByteArray("\n") + c.lines)) << test::readFile(ini).constData();
        EXPECT_EQ(startUp(), c.readBack);
        EXPECT_EQ(MsgWait, c.msgWait);
    }
}

TEST_F(SettingsTest, HandEditsSurviveRuns)
{
    test::writeFile(ini, "; mine\r\n[Setting]\r\nMsgWait=16\r\nLog=1\r\nMine=keep\r\n\r\n[Other]\r\nx=1\r\n");
    const QByteArray expected = "; mine\r\n[Setting]\r\nMsgWait=16\r\nLog=1\r\nMine=keep\r\n"
                                "AttSr=0\r\nDeadAfter=0\r\nFormTop=-2\r\nMsgType=0\r\nLeft=1500\r\nTop=300\r\n"
                                "DefaultChara=\r\nMinimize=0\r\n\r\n[Other]\r\nx=1\r\n"
                                "[Entry]\r\nLeft=0\r\nTop=0\r\n[Param]\r\nLeft=0\r\nTop=0\r\n";
    for (int run = 0; run < 2; ++run) {
        startUp();
        EXPECT_EQ(Log, 1);
        ASSERT_TRUE(WriteSettings(1500.0F, 300.0F));
        EXPECT_EQ(test::readFile(ini), expected) << "run " << run;
    }
}

TEST_F(SettingsTest, FailedWriteKeepsOldFile)
{
    const QByteArray before = "[Setting]\nAttSr=1\n";
    test::writeFile(ini, before);
    ASSERT_EQ(::chmod(QFile::encodeName(ini).constData(), 0444), 0);
    AttSr = 3;
    EXPECT_FALSE(WriteSettings(0.0F, 0.0F));
    EXPECT_EQ(test::readFile(ini), before);
}

struct DamagedCase {
    const char* name;
    std::function<QByteArray()> contents;
    std::int16_t attSr; // what the file's "AttSr" reads as
};
class SettingsDamaged : public SettingsTest, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(SettingsDamaged, StartsSaneAndWritesBack)
{
    test::writeFile(ini, GetParam().contents());
    startUp();
    EXPECT_EQ(AttSr, GetParam().attSr);
    EXPECT_EQ(MsgWait, 1.0F);
    EXPECT_EQ(FormTop, -2);
    EXPECT_TRUE(CharaPath.isEmpty());
    AttSr = 3;
    ASSERT_TRUE(WriteSettings(45.0F, 60.0F));
    EXPECT_EQ(startUp(), (SavedPosition{45, 60}));
    EXPECT_EQ(AttSr, 3);
}

QByteArray garbage()
{
    std::mt19937 gen(1);
    QByteArray b(65536, '\0');
    for (char& c : b)
        c = static_cast<char>(gen() & 0xFF);
    return b;
}

QByteArray tenMegabytes()
{
    QByteArray b = "[Setting]\nAttSr=2\n";
    while (b.size() < 10 * 1024 * 1024)
        b += "filler=" + QByteArray(56, 'f') + '\n';
    return b;
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsDamaged, ::testing::Values(
    DamagedCase{"Empty", [] { return QByteArray(); }, 0},
    DamagedCase{"BinaryGarbage", garbage, 0},
    DamagedCase{"TenMegabytes", tenMegabytes, 2},
    DamagedCase{"LongLines", [] { return "[Setting]\nDefaultChara=/" + QByteArray(100000, 'a') + "\nAttSr=2\n"; }, 2},
    DamagedCase{"CrLineEnds", [] { return QByteArray("[Setting]\rAttSr=2\r"); }, 2},
    DamagedCase{"ByteOrderMarkSkipped", [] { return QByteArray("\xEF\xBB\xBF[Setting]\nAttSr=2\n"); }, 2},
    DamagedCase{"DuplicatedSections", [] { return QByteArray("[Setting]\nAttSr=2\n[Setting]\nAttSr=1\n"); }, 2},
    DamagedCase{"KeysOutsideAnySection", [] { return QByteArray("AttSr=2\n[Setting]\n"); }, 0}), CaseName());

// Sets or unsets an environment variable while alive.
class EnvVar {
public:
    EnvVar(const char* name, std::optional<QByteArray> value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~EnvVar() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

TEST(HomeFolder, OwnVariableThenXdgThenHome)
{
    const struct {
        std::optional<QByteArray> own, xdg;
        QString expected;
    } cases[] = {{QByteArray("/srv/dm/"), QByteArray("/data"), QStringLiteral("/srv/dm")},
                 {QByteArray(""), QByteArray("/data"), QStringLiteral("/data/dustmaw")},
                 {std::nullopt, QByteArray("relative"), QStringLiteral("/home/u/.local/share/dustmaw")},
                 {std::nullopt, std::nullopt, QStringLiteral("/home/u/.local/share/dustmaw")}};
    const EnvVar homeVar("HOME", QByteArray("/home/u"));
    for (const auto& c : cases) {
        const EnvVar own("DUSTMAW_HOME", c.own);
        const EnvVar xdg("XDG_DATA_HOME", c.xdg);
        EXPECT_EQ(IniPath(), c.expected + QStringLiteral("/DM.ini"));
    }
}

TEST(HomeFolder, CreatedWithParents)
{
    test::TempHome base;
    const QString nested = base.file(QStringLiteral("a/b/c"));
    {
        const EnvVar own("DUSTMAW_HOME", QFile::encodeName(nested));
        EXPECT_TRUE(EnsureHomeFolder());
        EXPECT_TRUE(QFileInfo(nested).isDir());
    }
    test::writeFile(base.file(QStringLiteral("plain")), "x");
    const EnvVar own("DUSTMAW_HOME", QFile::encodeName(base.file(QStringLiteral("plain"))));
    EXPECT_FALSE(EnsureHomeFolder());
}

TEST_F(SettingsTest, CliShowsEffectiveSettings)
{
    const auto run = [](const QStringList& args) {
        return test::runProgram(QStringLiteral(DUSTMAW_CLI), QStringList{QStringLiteral("settings")} + args);
    };
    const QStringList json{QStringLiteral("--json")};
    test::ProcessResult r = run(json);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    QJsonObject o = QJsonDocument::fromJson(r.out).object();
    EXPECT_FALSE(o.value(QStringLiteral("IniExists")).toBool(true));
    EXPECT_EQ(o.value(QStringLiteral("FormTop")).toInt(-9), 0);
    EXPECT_FALSE(QFile::exists(ini)); // looking creates nothing

    test::writeFile(ini, "[Setting]\nMsgWait=13\nAttSr=9\nFormTop=-1\nLeft=1500\nLog=1\n[Param]\nTop=-45\n");
    r = run(json);
    o = QJsonDocument::fromJson(r.out).object();
    EXPECT_EQ(o.value(QStringLiteral("IniPath")).toString(), ini);
    EXPECT_EQ(o.value(QStringLiteral("MsgWait")).toDouble(), 1.3);
    EXPECT_EQ(o.value(QStringLiteral("AttSr")).toInt(-1), 0);
    EXPECT_EQ(o.value(QStringLiteral("FormTop")).toInt(), -1);
    EXPECT_EQ(o.value(QStringLiteral("Log")).toInt(), 1);
    EXPECT_EQ(o.value(QStringLiteral("Left")).toInt(), 1500);
    EXPECT_EQ(o.value(QStringLiteral("ParamTop")).toInt(), -45);
    EXPECT_EQ(o.size(), 16); // every global, the main window's position and the file

    r = run({});
    EXPECT_TRUE(r.out.contains(ini.toUtf8()) && r.out.contains("FormTop:    -1\n")) << r.out.constData();
    r = run({QStringLiteral("extra")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty());
}

} // namespace
} // namespace dm
