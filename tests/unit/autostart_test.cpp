// The autostart entry: its Exec quoting, and dustmaw-cli switching it.
#include "services/Autostart.h"
#include "support/TestSupport.h"

#include <QStandardPaths>

using namespace dm;
using namespace dm::test;

namespace {

using dm::test::PrintTo;

struct QuoteCase { std::string name; const char* program; const char* exec; /* after "Exec=" */ };
class ExecQuoting : public ::testing::TestWithParam<QuoteCase> {};

// What GLib makes of the Exec value is what a session manager starts.
TEST_P(ExecQuoting, QuotesWhatTheFormatReservesAndReadsBack)
{
    const QuoteCase& c = GetParam();
    EXPECT_EQ(QuoteExecProgram(QString::fromUtf8(c.program)), QString::fromUtf8(c.exec));
    const TempHome home{TempHome::OwnTrash};
    ASSERT_TRUE(QDir().mkpath(QFileInfo(AutostartPath()).path()));
    writeFile(AutostartPath(), "[Desktop Entry]\nExec=" + QByteArray(c.exec) + " --flag\n");
    EXPECT_EQ(AutostartProgram(), QString::fromUtf8(c.program));
}

INSTANTIATE_TEST_SUITE_P(Paths, ExecQuoting, ::testing::Values(
    QuoteCase{"Plain", "/usr/lib/dm/dustmaw", "/usr/lib/dm/dustmaw"},
    QuoteCase{"Space", "/home/me/my apps/dustmaw", "\"/home/me/my apps/dustmaw\""},
    QuoteCase{"Quote", "/home/me/\"q\"/dustmaw", "\"/home/me/\\\\\"q\\\\\"/dustmaw\""},
    QuoteCase{"Dollar", "/home/me/$HOME/dustmaw", "\"/home/me/\\\\$HOME/dustmaw\""},
    QuoteCase{"Backslash", "/home/me/a\\b/dustmaw", "\"/home/me/a\\\\\\\\b/dustmaw\""},
    QuoteCase{"Percent", "/home/me/100%/dustmaw", "/home/me/100%%/dustmaw"},
    QuoteCase{"PercentAndNewline", "/home/me/1%\n/dustmaw", "\"/home/me/1%%\\n/dustmaw\""}),
    CaseName());

// Each step: the entry made beforehand (nullptr: as it is), the command, what
// it prints, whether the entry is there afterwards. Looking, and finding the
// state asked for, change nothing.
TEST(Autostart, CliSwitchesTheEntry)
{
    const TempHome home{TempHome::OwnTrash};
    const QString entry = AutostartPath(), gui = QFileInfo(QStringLiteral(DUSTMAW_GUI)).canonicalFilePath();
    const QString lone = home.file(u"dustmaw-cli"_s); // with no desktop program beside it
    ASSERT_TRUE(QFile::copy(QStringLiteral(DUSTMAW_CLI), lone));
    EXPECT_EQ(runProgram(lone, {u"autostart"_s, u"on"_s}).exitCode, 1);
    const QString on = u"autostart: on (%1 starts %2)\n"_s.arg(entry, gui);
    const QString off = u"autostart: off\n"_s;
    const struct { const char* made; const char* command; QString says; bool there; } steps[] = {
        {nullptr, "status", off, false}, {nullptr, "on", on, true}, {nullptr, "status", on, true},
        {nullptr, "off", u"autostart: off (removed %1)\n"_s.arg(entry), false},
        {"Hidden=true\nExec=dustmaw\n", "status", off, true},
        {nullptr, "off", u"autostart: was already off\n"_s, true},
        {"Exec=/gone/dustmaw\n", "status", u"autostart: on (%1 starts /gone/dustmaw)\n"_s.arg(entry),
         true},
        {nullptr, "on", on, true}, // a lost program is replaced
    };
    const QString validate = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
    for (const auto& s : steps) {
        SCOPED_TRACE(s.command);
        if (s.made != nullptr)
            writeFile(entry, "[Desktop Entry]\nType=Application\nName=Mine\n" + QByteArray(s.made));
        const QByteArray before = readFile(entry);
        const ProcessResult r = runCli({u"autostart"_s, QString::fromLatin1(s.command)});
        EXPECT_EQ(QString::number(r.exitCode) + QString::fromUtf8(r.out), u'0' + s.says)
            << r.err.toStdString();
        EXPECT_EQ(r.err.contains("warning"), s.says.contains(u"/gone"));
        EXPECT_EQ(QFileInfo::exists(entry), s.there);
        EXPECT_TRUE(s.says != on || validate.isEmpty() || runProgram(validate, {entry}).exitCode == 0);
        // Sessions skip an entry whose program is gone, e.g. after the package is removed.
        EXPECT_TRUE(s.says != on || readFile(entry).contains("\nTryExec=" + native(gui) + '\n'));
        EXPECT_TRUE((QByteArray(s.command) != "status" && !s.says.contains(u"already")) || readFile(entry) == before);
    }
}

} // namespace
