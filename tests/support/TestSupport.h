#pragma once
// Shared fixtures: a fresh home folder per test and chosen random draws.
#include "services/Random.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <deque>
#include <initializer_list>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

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

// Feeds chosen draws to the program-wide random source while alive; once the
// chosen draws run out it keeps returning `fallback`.
class ScriptedRandom final : public RandomSource {
public:
    explicit ScriptedRandom(std::initializer_list<float> draws = {}, float fallback = 0.0F);
    ~ScriptedRandom() override;
    ScriptedRandom(const ScriptedRandom&) = delete;
    ScriptedRandom& operator=(const ScriptedRandom&) = delete;
    void push(float draw) { m_draws.push_back(draw); }
    float next() override;
    [[nodiscard]] int drawn() const { return m_drawn; }

private:
    std::deque<float> m_draws;
    float m_fallback;
    int m_drawn = 0;
};

// A temporary folder that DUSTMAW_HOME points at while alive.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;
    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    bool m_hadHome;
};

// Writes `size` bytes (or `contents`) to path; fails the test on error.
void writeFile(const QString& path, const QByteArray& contents);
void writeFileOfSize(const QString& path, qint64 size, char fill = 'x');
[[nodiscard]] QByteArray readFile(const QString& path);

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
// Runs a program to its end with the given arguments (no shell).
[[nodiscard]] ProcessResult runProgram(const QString& program, const QStringList& args);

} // namespace dm::test
