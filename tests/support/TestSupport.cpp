#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>

namespace dm::test {

ScriptedRandom::ScriptedRandom(std::initializer_list<float> draws, float fallback)
    : m_draws(draws), m_fallback(fallback)
{
    setRandomSource(this);
}

ScriptedRandom::~ScriptedRandom() { setRandomSource(nullptr); }

float ScriptedRandom::next()
{
    ++m_drawn;
    if (m_draws.empty())
        return m_fallback;
    const float d = m_draws.front();
    m_draws.pop_front();
    return d;
}

TempHome::TempHome() : m_oldHome(qgetenv("DUSTMAW_HOME")), m_hadHome(qEnvironmentVariableIsSet("DUSTMAW_HOME"))
{
    EXPECT_TRUE(m_dir.isValid());
    qputenv("DUSTMAW_HOME", QFile::encodeName(m_dir.path()));
}

TempHome::~TempHome()
{
    if (m_hadHome)
        qputenv("DUSTMAW_HOME", m_oldHome);
    else
        qunsetenv("DUSTMAW_HOME");
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << f.errorString().toStdString();
    ASSERT_EQ(f.write(contents), contents.size());
}

void writeFileOfSize(const QString& path, qint64 size, char fill)
{
    writeFile(path, QByteArray(size, fill));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

ProcessResult runProgram(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    ProcessResult r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace dm::test
