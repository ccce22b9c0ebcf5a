// Every write of a file the user keeps, killed with SIGKILL at random
// instants: after each kill the file is the old valid one or the new valid
// one, and what the killed writer left aside goes with the next write.
#include "character/CharaFile.h"
#include "character/MakeChara.h"
#include "services/AtomicFile.h"
#include "services/Settings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace dm {
namespace {

int kills() { return qEnvironmentVariableIsSet("DUSTMAW_KILLS") ? qEnvironmentVariableIntValue("DUSTMAW_KILLS") : 100; }

// Temporary files beside `path`'s name in its folder.
QStringList leftovers(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".*.dustmaw-*")}, QDir::Files | QDir::Hidden);
}

// Runs `write` over and over in a child killed after a random delay, then
// lets `check` judge what is on disk.
void killRepeatedly(const std::function<void(int round)>& write, const std::function<void()>& check)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayUs(0, 20000);
    for (int k = 0; k < kills(); ++k) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (int round = 0;; ++round)
                write(round);
        }
        ASSERT_GT(child, 0);
        ::usleep(static_cast<useconds_t>(delayUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        SCOPED_TRACE(testing::Message() << "kill " << k);
        check();
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST(KilledWrites, SettingsKeepEveryHandAddedKey)
{
    test::TempHome home;
    const QString ini = home.file(QStringLiteral("DM.ini"));
    test::writeFile(ini, "; kept by hand\n[Setting]\nLog=1\nMsgWait=10\n[Mine]\nkeep=yes\n");
    killRepeatedly(
        [](int round) {
            MsgType = static_cast<std::int16_t>(round % 3);
            std::ignore = WriteSettings(static_cast<float>(round % 2 * 1500), 300.0F);
        },
        [&] {
            const QByteArray bytes = test::readFile(ini);
            for (const char* kept : {"; kept by hand\n", "[Setting]\n", "Log=1\n", "[Mine]\nkeep=yes\n"})
                ASSERT_TRUE(bytes.contains(kept)) << kept << " lost:\n" << bytes.toStdString();
            ResetSettings();
            std::ignore = ReadSettings();
            EXPECT_EQ(Log, 1);
            EXPECT_EQ(MsgWait, 1.0F);
            // The next write into the folder removes what the killed one left.
            ASSERT_TRUE(writeFileAtomically(home.file(QStringLiteral("next")), "x"));
            EXPECT_TRUE(leftovers(home.path()).isEmpty()) << leftovers(home.path()).join(u' ').toStdString();
        });
}

TEST(KilledWrites, GrownCharacterHasTheOldOrTheNewSize)
{
    test::TempHome home;
    const QString hero = home.file(QStringLiteral("Hero.dmf"));
    test::writeFile(hero, CheckHeader(1000) + QByteArray(990, 'h'));
    killRepeatedly(
        [&hero](int) {
            QString error;
            std::ignore = GrowCharacterFile(hero, static_cast<std::int32_t>(QFileInfo(hero).size()), 7, &error);
        },
        [&] {
            const qint64 size = QFileInfo(hero).size();
            ASSERT_EQ((size - 1000) % 7, 0) << size;
            ASSERT_TRUE(CheckCharaFile(hero)) << size;
        });
}

TEST(KilledWrites, NewCharacterIsAbsentOrComplete)
{
    test::TempHome home;
    killRepeatedly(
        [](int round) {
            QString path;
            bool cancel = false;
            std::ignore = MakeChara(QStringLiteral("K%1-%2").arg(::getpid()).arg(round), path, cancel);
        },
        [&] {
            const QFileInfoList made = QDir(home.path()).entryInfoList({QStringLiteral("*.dmf")}, QDir::Files);
            for (const QFileInfo& f : made) {
                ASSERT_EQ(f.size(), 1000) << f.fileName().toStdString();
                ASSERT_TRUE(CheckCharaFile(f.filePath())) << f.fileName().toStdString();
            }
            QString path;
            bool cancel = false;
            std::ignore = MakeChara(QStringLiteral("next"), path, cancel);
            QFile::remove(path);
            EXPECT_TRUE(leftovers(home.path()).isEmpty()) << leftovers(home.path()).join(u' ').toStdString();
        });
}

} // namespace
} // namespace dm
