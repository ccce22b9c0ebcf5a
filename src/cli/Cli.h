#pragma once
// Shared plumbing of the dustmaw-cli subcommands.
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace dm::cli {

// Exit statuses common to every subcommand.
enum Exit : int { ExitOk = 0, ExitFailure = 1, ExitUsage = 1 };

struct Command {
    const char* name;
    const char* summary;
    const char* usage; // full help text
    int (*run)(const QStringList& args);
};

// Writes one line to stdout / stderr, in UTF-8.
void out(const QString& line);
void err(const QString& line);
// "dustmaw-cli: <message>" on stderr and the usage exit status.
int usageError(const QString& message);

// The path as an absolute one, the way a drop delivers it. nullopt, said on
// stderr, when it is not UTF-8 on disk (the working folder or a link on the
// way) or is relative in a removed working folder: Qt's text of it would
// name another file. The command then does nothing and ends with ExitUsage.
[[nodiscard]] std::optional<QString> absolutePath(const QString& arg);
// The same for many at once, each folder resolved once; nullopt when any is refused.
[[nodiscard]] std::optional<QStringList> absolutePaths(const QStringList& args);
// Why a file cannot be read as a combatant, in a few words.
[[nodiscard]] QString refusalReason(const QString& path);

int runInspect(const QStringList& args);
int runVerify(const QStringList& args);
int runSettings(const QStringList& args);
int runNew(const QStringList& args);
int runFight(const QStringList& args);
int runInfo(const QStringList& args);
int runFile(const QStringList& args);
int runHistory(const QStringList& args);
int runRestore(const QStringList& args);
int runAutostart(const QStringList& args);

} // namespace dm::cli
