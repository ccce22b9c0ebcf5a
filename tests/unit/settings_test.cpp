// The process-wide settings: defaults, conversion and validation of DM.ini, what is written back, hand edits, and
// the home folder.
#include "services/HomeFolder.h"
#include "services/Settings.h"
#include "support/TestSupport.h"

#include <QRegularExpression>

#include <cmath>

using namespace dm;
namespace {

class SettingsTest : public ::testing::Test {
protected:
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
QString state(const SavedPosition& p)
{
    return u"MsgWait=%1 AttSr=%2 DeadAfter=%3 FormTop=%4 MsgType=%5 Log=%6 Minimize=%7 Left=%8 Top=%9 EntryLeft=%10 "
           u"EntryTop=%11 ParamLeft=%12 ParamTop=%13 CharaPath=%14"_s.arg(static_cast<double>(MsgWait)).arg(AttSr)
               .arg(DeadAfter).arg(FormTop).arg(MsgType).arg(Log).arg(Minimize).arg(p.Left).arg(p.Top).arg(EntryLeft)
               .arg(EntryTop).arg(ParamLeft).arg(ParamTop).arg(CharaPath);
}

TEST_F(SettingsTest, ConvertsValidatesAndWritesBack)
{
    test::writeFile(home.file(u"hero.dmf"_s), "hero");
    test::writeFile(ini, "[Other]\n");
    const QString empty = state(startUp());
    // The words with the one named like `word` replaced by it.
    const auto with = [](QString words, const QString& word) {
        return words.replace(QRegularExpression(u"(^| )"_s + word.section(u'=', 0, 0) + u"=\\S*"_s), u"\\1"_s + word);
    };
    // Each DM.ini ($home the home folder) changes the one setting named from an empty file's, and so it stays when
    // written back and read again.
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
        {"DefaultChara=/a\nAttSr=2", "AttSr=2"}}; // after a long line, below
    for (const auto& row : rows) {
        QByteArray contents = QByteArray("[Setting]\n").append(row.ini).append('\n');
        contents.replace("$home", test::native(home.path())).replace("/a\n", "/" + QByteArray(100000, 'a') + '\n');
        test::writeFile(ini, contents);
        const QString expected = with(empty, QString::fromUtf8(row.reads).replace(u"$home"_s, home.path()));
        EXPECT_EQ(state(startUp()), expected) << row.ini;
        ASSERT_TRUE(WriteSettings(45.0F, 60.0F));
        EXPECT_EQ(state(startUp()), with(with(expected, u"Left=45"_s), u"Top=60"_s)) << row.ini;
    }
}

TEST(Val, LongestLeadingDecimalNumber)
{
    // Blanks, tabs and line feeds count nowhere; E and D take an exponent.
    const struct { const char* text; double value; } rows[] = {{".", 0}, {"-.5", -0.5}, {"1.5.2", 1.5}, {"12e+", 12},
        {"0.02D2", 2}, {"--5", 0}, {"+ 1 6s", 16}, {"&H2", 0}, {"inf", 0}, {"-1e400", -HUGE_VAL}};
    for (const auto& row : rows)
        EXPECT_EQ(Val(QString::fromUtf8(row.text)), row.value) << row.text;
}

// No DM.ini yet: the defaults, and a FormTop of 0 stored. Then hand edits survive runs and failed writes.
TEST_F(SettingsTest, FirstRunThenHandEditsSurviveRunsAndFailedWrites)
{
    EntryLeft = 99;
    EXPECT_EQ(state(startUp()), u"MsgWait=1 AttSr=0 DeadAfter=0 FormTop=0 MsgType=0 Log=0 Minimize=0 Left=0 Top=0 "
                                u"EntryLeft=0 EntryTop=0 ParamLeft=0 ParamTop=0 CharaPath="_s);
    EXPECT_TRUE(WriteSettings(0, 0) && test::readFile(ini).contains("\nMsgWait=10\nAttSr=0\nDeadAfter=0\nFormTop=0\n"));
    test::writeFile(ini, "; mine\r\n[Setting]\r\nMsgWait=13\r\nLog=1\r\nMine=keep\r\n\r\n[Other]\r\nx=1\r\n");
    const QByteArray expected = "; mine\r\n[Setting]\r\nMsgWait=13\r\nLog=1\r\nMine=keep\r\n"
                                "AttSr=0\r\nDeadAfter=0\r\nFormTop=-2\r\nMsgType=0\r\nLeft=1234567\r\nTop=0\r\n"
                                "DefaultChara=\r\nMinimize=0\r\n\r\n[Other]\r\nx=1\r\n"; // no window placed yet
    for (int run = 0; run < 2; ++run) {
        startUp();
        ASSERT_TRUE(WriteSettings(1234567.0F, -0.0F)); // seven significant digits, never an exponent nor "-0"
        EXPECT_EQ(test::readFile(ini), expected) << "run " << run;
    }
    EXPECT_EQ(startUp(), (SavedPosition{1234567, 0}));
    test::chmodded(ini, 0444);
    EXPECT_EQ(std::pair(WriteSettings(5.0F, 5.0F), test::readFile(ini)), std::pair(false, expected));
}

TEST(HomeFolder, ChosenByVariable)
{
    const struct { std::optional<QByteArray> own, xdg; const char* expected; } rows[] = {
        {"/srv/dm/", "/data", "/srv/dm"}, {"", "/data", "/data/dustmaw"},
        {std::nullopt, "relative", "/home/u/.local/share/dustmaw"}};
    const test::ScopedEnv homeVar("HOME", QByteArray("/home/u"));
    for (const auto& row : rows) {
        const test::ScopedEnv own("DUSTMAW_HOME", row.own), xdg("XDG_DATA_HOME", row.xdg);
        EXPECT_EQ(IniPath(), QString::fromLatin1(row.expected) + u"/DM.ini"_s);
    }
}

} // namespace
