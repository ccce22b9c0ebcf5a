#pragma once
// Shared plumbing of the dustmaw-cli subcommands.
#include <QString>
#include <QStringList>

#include <cstdio>

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

// The path as an absolute one, the way a drop delivers it.
[[nodiscard]] QString absolutePath(const QString& arg);
// The same for many at once, each folder resolved once.
[[nodiscard]] QStringList absolutePaths(const QStringList& args);
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
