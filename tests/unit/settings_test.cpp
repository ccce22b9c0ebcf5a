// The process-wide settings: defaults, conversion and validation of DM.ini, what is written back, hand edits, and
// the home folder.
#include "services/HomeFolder.h"
#include "services/Settings.h"
#include "support/TestSupport.h"

#include <limits>
#include <sys/stat.h>

namespace dm {
namespace {

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
    QString ini = home.file(u"DM.ini"_s);
};

// Every setting start-up reads, one "Name=value" word each.
QStringList state(const SavedPosition& p)
{
    return u"MsgWait=%1 AttSr=%2 DeadAfter=%3 FormTop=%4 MsgType=%5 Log=%6 Minimize=%7 Left=%8 Top=%9"_s
               .arg(static_cast<double>(MsgWait)).arg(AttSr).arg(DeadAfter).arg(FormTop).arg(MsgType).arg(Log)
               .arg(Minimize).arg(p.Left).arg(p.Top).split(u' ')
        + u"EntryLeft=%1 EntryTop=%2 ParamLeft=%3 ParamTop=%4 CharaPath=%5"_s
              .arg(EntryLeft).arg(EntryTop).arg(ParamLeft).arg(ParamTop).arg(CharaPath).split(u' ');
}

// The words with the one named like `word` replaced by it.
QStringList with(QStringList words, const QString& word)
{
    for (QString& w : words)
        if (w.section(u'=', 0, 0) == word.section(u'=', 0, 0))
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
    // Seven significant digits, never an exponent nor "-0"; the whole layout is the hand-edit case's.
    EXPECT_TRUE(test::readFile(ini).contains("\nMsgWait=13\nAttSr=0\nDeadAfter=0\nFormTop=0\nMsgType=0\n"
                                             "Left=1234567\nTop=0\n"));
    EXPECT_EQ(startUp(), (SavedPosition{1234567, 0}));
}

TEST_F(SettingsTest, ConvertsValidatesAndWritesBack)
{
    test::writeFile(home.file(u"hero.dmf"_s), "hero");
    test::writeFile(ini, "[Other]\n");
    const QStringList empty = state(startUp());
    // Each DM.ini ($home the home folder) changes the one setting named from an empty file's.
    const struct { const char* ini; const char* reads; } rows[] = {
        {"MsgWait=16", "MsgWait=1.6"}, {"MsgWait=12", "MsgWait=1"}, {"MsgWait=1e39", "MsgWait=1"},
        {"AttSr=4", "AttSr=4"}, {"AttSr=7", "AttSr=0"}, {"AttSr=2.5", "AttSr=2"}, {"AttSr=65538", "AttSr=0"},
        {"DeadAfter=1.5", "DeadAfter=0"}, {"FormTop=0", "FormTop=-2"}, {"FormTop=-1", "FormTop=-1"},
        {"MsgType=3", "MsgType=0"}, {"Log=1.4", "Log=1"}, {"Minimize=-1", "Minimize=0"}, {"Left=1501.5", "Left=1502"},
        {"Left=2147483647", "Left=2147483647"}, {"Left=2147483648", "Left=0"}, {"[Entry]\nTop=7.5", "EntryTop=8"},
        {"[Param]\nLeft=-4500", "ParamLeft=-4500"},
        // The default character must still be there, readable, and named absolutely.
        {"DefaultChara=$home/hero.dmf", "CharaPath=$home/hero.dmf"}, {"DefaultChara=$home/deleted.dmf", "CharaPath="},
        {"DefaultChara=$home", "CharaPath="}, {"DefaultChara=hero.dmf", "CharaPath="},
        {"DefaultChara=/a\nAttSr=2", "AttSr=2"}, // after a long line, below
    };
    for (const auto& row : rows) {
        QByteArray contents = QByteArray("[Setting]\n") + row.ini + '\n';
        contents.replace("$home", test::native(home.path())).replace("/a\n", "/" + QByteArray(100000, 'a') + '\n');
        test::writeFile(ini, contents);
        const QString reads = QString::fromUtf8(row.reads).replace(u"$home"_s, home.path());
        const QStringList expected = with(empty, reads);
        EXPECT_EQ(state(startUp()), expected) << row.ini;
        // Written back and read again, every setting keeps its value.
        ASSERT_TRUE(WriteSettings(45.0F, 60.0F));
        EXPECT_EQ(state(startUp()), with(with(expected, u"Left=45"_s), u"Top=60"_s))
            << row.ini;
    }
}

TEST(Val, LongestLeadingDecimalNumber)
{
    // Blanks, tabs and line feeds count nowhere; E and D take an exponent.
    const double inf = std::numeric_limits<double>::infinity();
    const struct { const char* text; double value; } rows[] = {{".", 0}, {"-.5", -0.5}, {"1.5.2", 1.5}, {"12e+", 12},
        {"0.02D2", 2}, {"--5", 0}, {"+ 1 6s", 16}, {"&H2", 0}, {"inf", 0}, {"-1e400", -inf}};
    for (const auto& row : rows)
        EXPECT_EQ(Val(QString::fromUtf8(row.text)), row.value) << row.text;
}

TEST_F(SettingsTest, HandEditsSurviveRunsAndFailedWrites)
{
    test::writeFile(ini, "; mine\r\n[Setting]\r\nMsgWait=16\r\nLog=1\r\nMine=keep\r\n\r\n[Other]\r\nx=1\r\n");
    const QByteArray expected = "; mine\r\n[Setting]\r\nMsgWait=16\r\nLog=1\r\nMine=keep\r\n"
                                "AttSr=0\r\nDeadAfter=0\r\nFormTop=-2\r\nMsgType=0\r\nLeft=12.5\r\nTop=-15\r\n"
                                "DefaultChara=\r\nMinimize=0\r\n\r\n[Other]\r\nx=1\r\n"; // no window placed yet
    for (int run = 0; run < 2; ++run) {
        startUp();
        EXPECT_EQ(Log, 1);
        ASSERT_TRUE(WriteSettings(12.5F, -15.0F));
        EXPECT_EQ(test::readFile(ini), expected) << "run " << run;
    }
    EXPECT_EQ(startUp(), (SavedPosition{12, -15})); // 12.5 rounds to even
    // A write that fails leaves the file as it was.
    test::chmodded(ini, 0444);
    AttSr = 3;
    EXPECT_FALSE(WriteSettings(0.0F, 0.0F));
    EXPECT_EQ(test::readFile(ini), expected);
}

TEST(HomeFolder, ChosenByVariable)
{
    using V = std::optional<QByteArray>;
    const struct { V own, xdg; const char* expected; } rows[] = {
        {QByteArray("/srv/dm/"), QByteArray("/data"), "/srv/dm"}, {"", QByteArray("/data"), "/data/dustmaw"},
        {std::nullopt, QByteArray("relative"), "/home/u/.local/share/dustmaw"}};
    const test::ScopedEnv homeVar("HOME", QByteArray("/home/u"));
    for (const auto& row : rows) {
        const test::ScopedEnv own("DUSTMAW_HOME", row.own), xdg("XDG_DATA_HOME", row.xdg);
        EXPECT_EQ(IniPath(), QString::fromLatin1(row.expected) + u"/DM.ini"_s);
    }
}

} // namespace
} // namespace dm
