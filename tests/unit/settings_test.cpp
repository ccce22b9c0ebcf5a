// The process-wide settings: defaults, conversion and validation of DM.ini,
// what is written back, files users leave behind, and the home folder.
#include "character/CharaRecord.h"
#include "services/HomeFolder.h"
#include "services/Settings.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <limits>
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

// Every setting start-up reads, one "Name=value" word each.
QStringList state(const SavedPosition& p)
{
    return QStringLiteral("MsgWait=%1 AttSr=%2 DeadAfter=%3 FormTop=%4 MsgType=%5 Log=%6 Minimize=%7 Left=%8 Top=%9")
               .arg(static_cast<double>(MsgWait)).arg(AttSr).arg(DeadAfter).arg(FormTop).arg(MsgType).arg(Log)
               .arg(Minimize).arg(p.Left).arg(p.Top).split(QLatin1Char(' '))
        + QStringLiteral("EntryLeft=%1 EntryTop=%2 ParamLeft=%3 ParamTop=%4 CharaPath=%5")
              .arg(EntryLeft).arg(EntryTop).arg(ParamLeft).arg(ParamTop).arg(CharaPath).split(QLatin1Char(' '));
}

// The words with the one named like `word` replaced by it.
QStringList with(QStringList words, const QString& word)
{
    for (QString& w : words)
        if (w.section(QLatin1Char('='), 0, 0) == word.section(QLatin1Char('='), 0, 0))
            w = word;
    return words;
}

TEST_F(SettingsTest, FirstRunWithoutFile)
{
    EntryLeft = 99;
    EXPECT_EQ(state(startUp()).join(u' '), QStringLiteral("MsgWait=1 AttSr=0 DeadAfter=0 FormTop=0 MsgType=0 Log=0 "
                                                          "Minimize=0 Left=0 Top=0 EntryLeft=0 EntryTop=0 ParamLeft=0 "
                                                          "ParamTop=0 CharaPath="));
    MsgWait = 1.3F;
    ASSERT_TRUE(WriteSettings(1234567.0F, -0.0F));
    EXPECT_EQ(test::readFile(ini), QByteArray("[Setting]\nMsgWait=13\nAttSr=0\nDeadAfter=0\nFormTop=0\nMsgType=0\n"
                                              "Left=1234567\nTop=0\nDefaultChara=\nMinimize=0\n"
                                              "[Entry]\nLeft=0\nTop=0\n[Param]\nLeft=0\nTop=0\n"));
    EXPECT_EQ(startUp(), (SavedPosition{1234567, 0}));
    EXPECT_EQ(FormTop, -2); // the stored 0 now means "not topmost"
}

struct ReadCase {
    const char* name;
    QByteArray contents; // of DM.ini; $home stands for the home folder
    const char* reads;   // the one setting that differs from an empty file's
};
class SettingsRead : public SettingsTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(SettingsRead, ConvertsValidatesAndWritesBack)
{
    test::writeFile(home.file(QStringLiteral("hero.dmf")), "hero");
    test::writeFile(ini, "[Other]\n");
    const QString reads = QString::fromUtf8(GetParam().reads).replace(QStringLiteral("$home"), home.path());
    const QStringList expected = with(state(startUp()), reads);
    test::writeFile(ini, QByteArray(GetParam().contents).replace("$home", QFile::encodeName(home.path())));
    EXPECT_EQ(state(startUp()), expected);
    // Written back and read again, every setting keeps its value.
    AttSr = 3;
    ASSERT_TRUE(WriteSettings(45.0F, 60.0F));
    const QByteArray written = test::readFile(ini), chara = "DefaultChara=" + QFile::encodeName(CharaPath);
    EXPECT_TRUE(written.contains(chara + '\n') || written.contains(chara + '\r')) << "the default character as read";
    const QStringList rewritten = with(with(with(expected, QStringLiteral("AttSr=3")), QStringLiteral("Left=45")),
                                       QStringLiteral("Top=60"));
    EXPECT_EQ(state(startUp()), rewritten);
}

INSTANTIATE_TEST_SUITE_P(Rules, SettingsRead, ::testing::Values(
    ReadCase{"MsgWaitTenths", "[Setting]\nMsgWait=16", "MsgWait=1.6"},
    ReadCase{"MsgWaitNotInSet", "[Setting]\nMsgWait=12", "MsgWait=1"},
    ReadCase{"MsgWaitBeyondSingle", "[Setting]\nMsgWait=1e39", "MsgWait=1"},
    ReadCase{"AttSrLargest", "[Setting]\nAttSr=4", "AttSr=4"},
    ReadCase{"AttSrOutOfRange", "[Setting]\nAttSr=7", "AttSr=0"},
    ReadCase{"AttSrHalfToEvenDown", "[Setting]\nAttSr=2.5", "AttSr=2"},
    ReadCase{"AttSrBeyondInteger", "[Setting]\nAttSr=65538", "AttSr=0"},
    ReadCase{"DeadAfterRoundsOutOfRange", "[Setting]\nDeadAfter=1.5", "DeadAfter=0"},
    ReadCase{"FormTopStoredZero", "[Setting]\nFormTop=0", "FormTop=-2"},
    ReadCase{"FormTopTopmost", "[Setting]\nFormTop=-1", "FormTop=-1"},
    ReadCase{"FormTopBeyondInteger", "[Setting]\nFormTop=-65537", "FormTop=-2"},
    ReadCase{"MsgTypeOutOfRange", "[Setting]\nMsgType=3", "MsgType=0"},
    ReadCase{"LogRounded", "[Setting]\nLog=1.4", "Log=1"},
    ReadCase{"MinimizeNegative", "[Setting]\nMinimize=-1", "Minimize=0"},
    ReadCase{"LeftHalfToEven", "[Setting]\nLeft=1501.5", "Left=1502"},
    ReadCase{"LeftLargestLong", "[Setting]\nLeft=2147483647", "Left=2147483647"},
    ReadCase{"LeftBeyondLong", "[Setting]\nLeft=2147483648", "Left=0"},
    ReadCase{"TopHugeExponent", "[Setting]\nTop=1e400", "Top=0"},
    ReadCase{"EntryTop", "[Entry]\nTop=7.5", "EntryTop=8"},
    ReadCase{"ParamLeft", "[Param]\nLeft=-4500", "ParamLeft=-4500"},
    // The default character must still be there, readable, and named absolutely.
    ReadCase{"DefaultChara", "[Setting]\nDefaultChara=$home/hero.dmf\n", "CharaPath=$home/hero.dmf"},
    ReadCase{"DefaultCharaDeleted", "[Setting]\nDefaultChara=$home/deleted.dmf\n", "CharaPath="},
    ReadCase{"DefaultCharaFolder", "[Setting]\nDefaultChara=$home\n", "CharaPath="},
    ReadCase{"DefaultCharaRelative", "[Setting]\nDefaultChara=hero.dmf\n", "CharaPath="},
    // Files users leave behind.
    ReadCase{"Empty", "", "AttSr=0"},
    ReadCase{"BinaryGarbage", [] {
        std::mt19937 gen(1);
        QByteArray b(65536, '\0');
        for (char& c : b)
            c = static_cast<char>(gen());
        return b;
    }(), "AttSr=0"},
    ReadCase{"TenMebibytes",
             "[Setting]\nAttSr=2\n" + QByteArray("filler=" + QByteArray(56, 'f') + '\n').repeated(10 << 14), "AttSr=2"},
    ReadCase{"LongLines", "[Setting]\nDefaultChara=/" + QByteArray(100000, 'a') + "\nAttSr=2\n", "AttSr=2"},
    ReadCase{"CrLineEnds", "[Setting]\rAttSr=2\r", "AttSr=2"},
    ReadCase{"ByteOrderMarkSkipped", "\xEF\xBB\xBF[Setting]\nAttSr=2\n", "AttSr=2"},
    ReadCase{"DuplicatedSections", "[Setting]\nAttSr=2\n[Setting]\nAttSr=1\n", "AttSr=2"},
    ReadCase{"KeysOutsideAnySection", "AttSr=2\n[Setting]\n", "AttSr=0"}), CaseName());

TEST(Val, LongestLeadingDecimalNumber)
{
    // Blanks, tabs and line feeds count nowhere; E and D take an exponent.
    const double inf = std::numeric_limits<double>::infinity();
    const struct { const char* text; double value; } rows[] = {{"", 0}, {".", 0}, {"-.5", -0.5}, {"1.5.2", 1.5},
        {"1,5", 1}, {"12e+", 12}, {"1.3e1", 13}, {"0.02D2", 2}, {"--5", 0}, {"\t 7 \n", 7}, {"+ 1 6s", 16}, {"- 1", -1},
        {"0x10", 0}, {"&H2", 0}, {"12abc", 12}, {"1e-400", 0}, {"inf", 0}, {"-1e400", -inf}};
    for (const auto& row : rows)
        EXPECT_EQ(Val(QString::fromUtf8(row.text)), row.value) << row.text;
}

TEST_F(SettingsTest, HandEditsSurviveRunsAndFailedWrites)
{
    test::writeFile(ini, "; mine\r\n[Setting]\r\nMsgWait=16\r\nLog=1\r\nMine=keep\r\n\r\n[Other]\r\nx=1\r\n");
    const QByteArray expected = "; mine\r\n[Setting]\r\nMsgWait=16\r\nLog=1\r\nMine=keep\r\n"
                                "AttSr=0\r\nDeadAfter=0\r\nFormTop=-2\r\nMsgType=0\r\nLeft=12.5\r\nTop=-15\r\n"
                                "DefaultChara=\r\nMinimize=0\r\n\r\n[Other]\r\nx=1\r\n"
                                "[Entry]\r\nLeft=0\r\nTop=0\r\n[Param]\r\nLeft=0\r\nTop=0\r\n";
    for (int run = 0; run < 2; ++run) {
        startUp();
        EXPECT_EQ(Log, 1);
        ASSERT_TRUE(WriteSettings(12.5F, -15.0F));
        EXPECT_EQ(test::readFile(ini), expected) << "run " << run;
    }
    EXPECT_EQ(startUp(), (SavedPosition{12, -15})); // 12.5 rounds to even
    // A write that fails leaves the file as it was.
    ASSERT_EQ(::chmod(QFile::encodeName(ini).constData(), 0444), 0);
    AttSr = 3;
    EXPECT_FALSE(WriteSettings(0.0F, 0.0F));
    EXPECT_EQ(test::readFile(ini), expected);
}

TEST(HomeFolder, OwnVariableThenXdgThenHome)
{
    using V = std::optional<QByteArray>;
    const struct { V own, xdg; const char* expected; } rows[] = {
        {QByteArray("/srv/dm/"), QByteArray("/data"), "/srv/dm"},
        {QByteArray(""), QByteArray("/data"), "/data/dustmaw"},
        {std::nullopt, QByteArray("relative"), "/home/u/.local/share/dustmaw"},
        {std::nullopt, std::nullopt, "/home/u/.local/share/dustmaw"}};
    const test::ScopedEnv homeVar("HOME", QByteArray("/home/u"));
    for (const auto& row : rows) {
        const test::ScopedEnv own("DUSTMAW_HOME", row.own), xdg("XDG_DATA_HOME", row.xdg);
        EXPECT_EQ(IniPath(), QString::fromLatin1(row.expected) + QStringLiteral("/DM.ini"));
    }
}

TEST(HomeFolder, CreatedWithParents)
{
    test::TempHome base;
    test::writeFile(base.file(QStringLiteral("plain")), "x");
    using Case = std::pair<QString, bool>;
    for (const auto& [path, made] : {Case{QStringLiteral("a/b/c"), true}, Case{QStringLiteral("plain"), false}}) {
        const test::ScopedEnv own("DUSTMAW_HOME", QFile::encodeName(base.file(path)));
        EXPECT_EQ(EnsureHomeFolder(), made) << path.toStdString();
        EXPECT_EQ(QFileInfo(base.file(path)).isDir(), made) << path.toStdString();
    }
}

} // namespace
} // namespace dm
