// Every write of a file the user keeps, killed with SIGKILL at random
// instants: after each kill the file is the old valid one or the new valid
// one, and what the killed writer left aside goes with the next write.
#include "battle/Battle.h"
#include "battle/History.h"
#include "character/CharaFile.h"
#include "character/CharaLock.h"
#include "character/LoadChara.h"
#include "character/MakeChara.h"
#include "services/AtomicFile.h"
#include "services/Settings.h"
#include "support/TestSupport.h"

#include <QSet>

#include <csignal>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dm {
namespace {

int kills() { return qEnvironmentVariableIsSet("DUSTMAW_KILLS") ? qEnvironmentVariableIntValue("DUSTMAW_KILLS") : 100; }

// Runs `write` over and over in a child killed after a random delay, then
// lets `check` judge the home folder. The next write into it removes what the
// killed writer left, but never a live writer's file nor a look-alike.
void killRepeatedly(const test::TempHome& home, const std::function<void(int round)>& write,
                    const std::function<void()>& check)
{
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    QStringList kept{u".DM.ini.dustmaw-%1-Ab3xYz"_s.arg(::getpid()),
                     u"DM.ini.dustmaw-%1-Ab3xYz"_s.arg(gone),
                     u".DM.ini.dustmaw-%1-notes.txt"_s.arg(gone)};
    for (const QString& name : kept)
        test::writeFile(home.file(name), "not a leftover");
    kept.sort();
    std::mt19937 random(12345);
    for (int k = 0; k < kills() && !::testing::Test::HasFailure(); ++k) {
        const pid_t child = ::fork();
        for (int round = 0; child == 0; ++round)
            write(round);
        ASSERT_GT(child, 0) << "fork failed; kill(-1) would reach every process";
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        SCOPED_TRACE(testing::Message() << "kill " << k);
        check();
        ASSERT_TRUE(writeFileAtomically(home.file(u"next"_s), "x"));
        QStringList left = QDir(home.path()).entryList({u"*.dustmaw-*"_s}, QDir::Files | QDir::Hidden);
        left.sort();
        EXPECT_EQ(left, kept);
    }
}

TEST(KilledWrites, SettingsKeepEveryHandAddedKey)
{
    test::TempHome home;
    const QString ini = home.file(u"DM.ini"_s);
    test::writeFile(ini, "; kept by hand\n[Setting]\nLog=1\nMsgWait=10\n[Mine]\nkeep=yes\n");
    const auto write = [](int round) {
        MsgType = static_cast<std::int16_t>(round % 3);
        std::ignore = WriteSettings(static_cast<float>(round % 2 * 1500), 300.0F);
    };
    killRepeatedly(home, write, [&] {
        const QByteArray bytes = test::readFile(ini);
        for (const char* kept : {"; kept by hand\n", "[Setting]\n", "Log=1\n", "[Mine]\nkeep=yes\n"})
            ASSERT_TRUE(bytes.contains(kept)) << kept << " lost:\n" << bytes.toStdString();
        ResetSettings();
        std::ignore = ReadSettings();
        EXPECT_EQ(Log, 1);
        EXPECT_EQ(MsgWait, 1.0F);
    });
}

TEST(KilledWrites, GrownCharacterHasTheOldOrTheNewSize)
{
    test::TempHome home;
    const QString hero = home.file(u"Hero.dmf"_s);
    test::writeFile(hero, CheckHeader(1000) + QByteArray(990, 'h'));
    const auto size = [&hero] { return QFileInfo(hero).size(); };
    QString error;
    const auto write = [&](int) { std::ignore = GrowCharacterFile(hero, std::int32_t(size()), 7, &error); };
    killRepeatedly(home, write, [&] { ASSERT_TRUE((size() - 1000) % 7 == 0 && CheckCharaFile(hero)) << size(); });
}

TEST(KilledWrites, NewCharacterIsAbsentOrComplete)
{
    test::TempHome home;
    const auto write = [](int round) {
        QString path;
        bool cancel = false;
        std::ignore = MakeChara(u"K%1-%2"_s.arg(::getpid()).arg(round), path, cancel);
    };
    killRepeatedly(home, write, [&] {
        for (const QFileInfo& f : QDir(home.path()).entryInfoList({u"*.dmf"_s}, QDir::Files))
            ASSERT_TRUE(f.size() == 1000 && CheckCharaFile(f.filePath())) << f.fileName().toStdString();
    });
}

// Battles that send their beaten files (and a fallen hero's) to the Trash,
// killed anywhere: the history never says a file is in the Trash that is not
// there, and every file in the Trash is in the history.
TEST(KilledWrites, DisposalsStayAccountedFor)
{
    test::TempHome home{test::TempHome::OwnTrash};
    const QString hero = home.file(u"Hero.dmf"_s);
    const QString work = home.file(u"work"_s);
    ASSERT_TRUE(QDir().mkpath(work));
    struct NoWait final : BattleView {
        void WaitUntil(const QDeadlineTimer&) override {}
    };
    const auto write = [&](int round) {
        // A weak hero falls and goes to the Trash itself; a strong one wins.
        if (!QFile::exists(hero) && !writeFileAtomically(hero, test::stampedChara(round % 2 == 0 ? 1000 : 60000)))
            return;
        CharaPath = hero;
        Idle = kTrue;
        if (LoadChara(hero, Chara, CharaItem) != 0)
            return;
        // The same names every round, so the Trash has to number them.
        QStringList enemies;
        for (int k = 0; k < 8; ++k) {
            enemies << work + u"/e%1.txt"_s.arg(k);
            test::writeFile(enemies.back(), QByteArray(1 + k, 'e'));
        }
        Randomize(static_cast<std::uint32_t>(::getpid() * 100 + round));
        NoWait view;
        Battle battle(view);
        std::ignore = battle.Form_OLEDragDrop(enemies);
    };
    const QString trash = home.file(u"xdg/Trash/files"_s);
    killRepeatedly(home, write, [&] {
        QSet<QString> recorded;
        for (const BattleRecord& r : ReadHistory().battles) {
            for (const HistoryFile& f : r.files) {
                if (f.fate != Fate::Trashing && f.fate != Fate::Trashed)
                    continue;
                recorded.insert(f.slot.name);
                // Confirmed, it is there; unconfirmed, it may or may not have
                // moved, which only the disk says.
                if (f.fate == Fate::Trashed) {
                    ASSERT_TRUE(f.id.valid() && fileIdAt(f.slot.filesPath()) == f.id)
                        << r.number << ' ' << f.path.toStdString() << " -> " << f.slot.name.toStdString();
                }
            }
        }
        for (const QString& name : QDir(trash).entryList(QDir::Files))
            ASSERT_TRUE(recorded.contains(name)) << name.toStdString() << " went to the Trash unrecorded";
    });
    EXPECT_GT(QDir(trash).entryList(QDir::Files).size(), 8) << "the battles did dispose of files";
    CharaLock after;
    EXPECT_TRUE(after.acquire(hero)) << "a killed battle leaves no lock behind";
}

} // namespace
} // namespace dm
