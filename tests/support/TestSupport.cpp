#include "support/TestSupport.h"

#include "character/CharaFile.h"

#include <QFile>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

namespace dm::test {

void failOffScript(const std::string& why)
{
    ADD_FAILURE() << why;
    throw OffScript(why);
}

ScriptedRandom::ScriptedRandom(std::initializer_list<float> draws, std::optional<float> fallback)
    : m_draws(draws), m_fallback(fallback)
{
    setRandomSource(this);
}

ScriptedRandom::~ScriptedRandom() { setRandomSource(nullptr); }

float ScriptedRandom::next()
{
    ++m_drawn;
    if (!m_draws.empty()) {
        const float d = m_draws.front();
        m_draws.pop_front();
        return d;
    }
    if (!m_fallback)
        failOffScript("draw " + std::to_string(m_drawn) + " was not scripted");
    if (m_drawn > kMaxDraws)
        failOffScript("more than " + std::to_string(kMaxDraws) + " draws");
    return *m_fallback;
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<QByteArray>& value)
    : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
{
    value ? qputenv(name, *value) : qunsetenv(name);
}

ScopedEnv::~ScopedEnv() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

TempHome::TempHome(Trash trash) : m_own("DUSTMAW_HOME", QFile::encodeName(m_dir.path()))
{
    EXPECT_TRUE(m_dir.isValid());
    if (trash == OwnTrash) {
        m_userHome.emplace("HOME", QFile::encodeName(m_dir.path()));
        m_data.emplace("XDG_DATA_HOME", QFile::encodeName(file(QStringLiteral("xdg"))));
        m_config.emplace("XDG_CONFIG_HOME", QFile::encodeName(file(QStringLiteral("config"))));
    }
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << f.errorString().toStdString();
    ASSERT_EQ(f.write(contents), contents.size());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray stampedChara(int size, char fill) { return CheckHeader(size) + QByteArray(size - 10, fill); }

QString chmodded(const QString& path, mode_t mode)
{
    EXPECT_EQ(::chmod(native(path).constData(), mode), 0) << path.toStdString();
    return path;
}

QString makeFile(const QString& path, const QByteArray& contents, mode_t mode)
{
    writeFile(path, contents);
    return chmodded(path, mode);
}

QString makeLink(const QString& target, const QString& link)
{
    return ::symlink(native(target).constData(), native(link).constData()) == 0 ? link : QString();
}

ProcessResult runProgram(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return finished(p);
}

ProcessResult finished(QProcess& p)
{
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

} // namespace dm::test
