// The autostart entry: its Exec quoting, and dustmaw-cli switching it.
#include "services/Autostart.h"
#include "support/TestSupport.h"

#include <QStandardPaths>

using namespace dm;
using namespace dm::test;

namespace {

// What GLib makes of the Exec value is what a session manager starts.
TEST(Autostart, ExecQuotesWhatTheFormatReservesAndReadsBack)
{
    const TempHome home{TempHome::OwnTrash};
    ASSERT_TRUE(QDir().mkpath(QFileInfo(AutostartPath()).path()));
    const std::pair<const char*, const char*> rows[] = {{"/usr/lib/dm/dustmaw", "/usr/lib/dm/dustmaw"},
        {"/h/my apps/dm", "\"/h/my apps/dm\""}, {"/h/\"q\"/dm", "\"/h/\\\\\"q\\\\\"/dm\""},
        {"/h/$HOME/dm", "\"/h/\\\\$HOME/dm\""}, {"/h/a\\b/dm", "\"/h/a\\\\\\\\b/dm\""}, {"/h/100%/dm", "/h/100%%/dm"},
        {"/h/1%\n/dm", "\"/h/1%%\\n/dm\""}};
    for (const auto& [program, exec] : rows) {
        EXPECT_EQ(QuoteExecProgram(QString::fromUtf8(program)), QString::fromUtf8(exec));
        writeFile(AutostartPath(), "[Desktop Entry]\nExec=" + QByteArray(exec) + " --flag\n");
        EXPECT_EQ(AutostartProgram(), QString::fromUtf8(program));
    }
}

// Each step: the entry made beforehand (nullptr: as it is), the command, what it prints, whether the entry is there
// afterwards. Looking, and finding the state asked for, change nothing; only an entry the desktop cannot start fails.
TEST(Autostart, CliSwitchesTheEntry)
{
    const TempHome home{TempHome::OwnTrash};
    const QString entry = AutostartPath(), gui = QFileInfo(QStringLiteral(DUSTMAW_GUI)).canonicalFilePath();
    // Refused, leaving no entry: with no desktop program beside the tool, and with one in a folder whose path GLib
    // cannot start a program from (Exec doubles the '%', and GLib looks for that name).
    const QString percent = makeDir(home.file(u"100%"_s));
    const QString stuck = makeFile(percent + u"/dustmaw"_s, "#!/bin/sh\n", 0755);
    for (const QString& folder : {home.path(), percent}) {
        ASSERT_TRUE(QFile::copy(QStringLiteral(DUSTMAW_CLI), folder + u"/dustmaw-cli"_s));
        const int exitCode = runProgram(folder + u"/dustmaw-cli"_s, {u"autostart"_s, u"on"_s}).exitCode;
        EXPECT_EQ(std::pair(exitCode, QFileInfo::exists(entry)), std::pair(1, false)) << folder.toStdString();
    }
    const QString on = u"autostart: on (%1 starts %2)\n"_s.arg(entry, gui), off = u"autostart: off\n"_s;
    const struct { QByteArray made; const char* command; QString says; bool there; } steps[] = {
        {nullptr, "status", off, false}, {nullptr, "on", on, true}, {nullptr, "status", on, true},
        {nullptr, "off", u"autostart: off (removed %1)\n"_s.arg(entry), false},
        {"Hidden=true\nExec=dustmaw\n", "status", off, true}, {nullptr, "off", u"autostart: was already off\n"_s, true},
        {"Exec=" + QuoteExecProgram(stuck).toUtf8() + '\n', "status", // as an older version wrote it
         u"autostart: on, but the desktop cannot start it (%1 starts %2)\n"_s.arg(entry, stuck), true},
        {nullptr, "on", on, true},
        {"Exec=/gone/dustmaw\n", "status", u"autostart: on (%1 starts /gone/dustmaw)\n"_s.arg(entry), true},
        {nullptr, "on", on, true}}; // a lost program is replaced
    const QString validate = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
    for (const auto& s : steps) {
        SCOPED_TRACE(s.command);
        if (!s.made.isNull())
            writeFile(entry, "[Desktop Entry]\nType=Application\nName=Mine\n" + s.made);
        const QByteArray before = readFile(entry);
        const ProcessResult r = runCli({u"autostart"_s, QString::fromLatin1(s.command)});
        EXPECT_EQ(std::tuple(r.exitCode, QString::fromUtf8(r.out), r.err.contains("warning"), QFileInfo::exists(entry)),
                  std::tuple(s.says.contains(u"cannot start"_s) ? 1 : 0, s.says, s.says.contains(u"/gone"), s.there))
            << r.err.toStdString();
        // Valid, and sessions skip an entry whose program is gone, e.g. after the package is removed.
        EXPECT_TRUE(s.says != on || (readFile(entry).contains("\nTryExec=" + native(gui) + '\n')
                                     && (validate.isEmpty() || runProgram(validate, {entry}).exitCode == 0)));
        EXPECT_TRUE((QByteArray(s.command) != "status" && !s.says.contains(u"already")) || readFile(entry) == before);
    }
}

} // namespace
