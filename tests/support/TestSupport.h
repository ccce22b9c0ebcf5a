#pragma once
// Shared fixtures: a fresh home folder per test, chosen random draws, entries
// with exact modes, the command-line tool.
#include "services/Random.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <sys/types.h>

class QProcess;

using namespace Qt::StringLiterals;

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) { *os << l.join(QLatin1Char('|')).toStdString(); }

namespace dm::test {

// Names parameterised cases after their `name` field, in test lists and
// failure messages alike.
struct CaseName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P>& p) const { return p.param.name; }
};
template <class Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// Fails the test and throws OffScript, to end code under test that has gone
// off its script (draws ran out, a battle that never ends).
struct OffScript : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void failOffScript(const std::string& why);

// Feeds chosen draws to the program-wide random source while alive. Once
// they run out it returns `fallback`, if given, up to kMaxDraws in all;
// otherwise it calls failOffScript, so a script that is too short shows.
class ScriptedRandom final : public RandomSource {
public:
    static constexpr int kMaxDraws = 1000000;
    explicit ScriptedRandom(std::initializer_list<float> draws = {}, std::optional<float> fallback = std::nullopt);
    ~ScriptedRandom() override;
    ScriptedRandom(const ScriptedRandom&) = delete;
    ScriptedRandom& operator=(const ScriptedRandom&) = delete;
    float next() override;
    [[nodiscard]] int drawn() const { return m_drawn; }

private:
    std::deque<float> m_draws;
    std::optional<float> m_fallback;
    int m_drawn = 0;
};

// Sets (or with nullopt unsets) an environment variable while alive.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QByteArray>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

// A temporary folder that DUSTMAW_HOME points at while alive. With OwnTrash,
// HOME and the XDG data and config homes too: the Trash and autostart are the
// test's own. GLib reads them once per process; ctest runs each case in its own.
class TempHome {
public:
    enum Trash { SharedTrash, OwnTrash };
    explicit TempHome(Trash trash = SharedTrash);
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;
    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString file(const QString& name) const { return m_dir.filePath(name); }
    // Where a file of this name lands in the Trash of an OwnTrash home.
    [[nodiscard]] QString trashed(const QString& name) const { return file(u"xdg/Trash/files/"_s + name); }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_own;
    std::optional<ScopedEnv> m_userHome, m_data, m_config;
};

inline QByteArray native(const QString& path) { return QFile::encodeName(path); }
// Write `contents` (or `size` bytes) to path, failing the test on error.
void writeFile(const QString& path, const QByteArray& contents);
inline void writeFileOfSize(const QString& path, qint64 size, char fill = 'x') { writeFile(path, {size, fill}); }
// The file's bytes; empty when it cannot be read.
[[nodiscard]] QByteArray readFile(const QString& path);
// A character file whose check header (random bytes drawn) matches its size.
[[nodiscard]] QByteArray stampedChara(int size, char fill = 'h');
// Entries made with exact modes whatever the umask; each returns its path.
QString chmodded(const QString& path, mode_t mode);
inline QString makeDir(const QString& p, mode_t mode = 0755) { return chmodded(QDir().mkpath(p) ? p : QString(), mode); }
QString makeFile(const QString& path, const QByteArray& contents, mode_t mode = 0644);
// A symbolic link to target; empty when it cannot be made.
QString makeLink(const QString& target, const QString& link);

struct ProcessResult { int exitCode = -1; QByteArray out, err; };
// Runs a program to its end with the given arguments (no shell).
[[nodiscard]] ProcessResult runProgram(const QString& program, const QStringList& args);
// Waits for a started process's end (a minute at most) and what it wrote.
[[nodiscard]] ProcessResult finished(QProcess& p);

#ifdef DUSTMAW_CLI
// dustmaw-cli as a user runs it.
inline ProcessResult runCli(const QStringList& args) { return runProgram(QStringLiteral(DUSTMAW_CLI), args); }

// A home and Trash of the case's own, the character Hero.dmf made by the tool
// (so the default one) and three one-byte enemies holding their first letter.
class CliHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeEnemies();
        const ProcessResult made = runCli({u"new"_s, u"Hero"_s});
        ASSERT_EQ(made.out, native(hero) + '\n') << made.err.toStdString();
    }
    void makeEnemies() const
    {
        makeDir(home.file(u"enemies"_s));
        for (const QString& p : enemies)
            writeFile(p, QFileInfo(p).fileName().toUtf8().left(1));
    }
    // Seed 1 beats all three; seed 2 beats a and b, then the hero falls.
    ProcessResult fight(int seed, const QStringList& extra = {}) const
    {
        return runCli(QStringList{u"fight"_s, u"--chara"_s, hero, u"--wait"_s, u"0"_s, u"--seed"_s,
                                  QString::number(seed)} + extra + enemies);
    }
    // The names in the Trash's "files" or "info" folder.
    [[nodiscard]] QStringList trash(const char* sub) const
    {
        return QDir(home.file(u"xdg/Trash/"_s + QLatin1String(sub))).entryList(QDir::Files);
    }

    TempHome home{TempHome::OwnTrash};
    const QString hero = home.file(u"Hero.dmf"_s);
    const QStringList enemies{home.file(u"enemies/a.txt"_s), home.file(u"enemies/b.txt"_s),
                              home.file(u"enemies/c.txt"_s)};
};
#endif

} // namespace dm::test
