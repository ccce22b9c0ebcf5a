// Every write of a file the user keeps, killed with SIGKILL at random instants: after each kill the file is the
// old valid one or the new valid one, and what the killed writer left aside goes with the next write.
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
#include <sys/wait.h>
#include <unistd.h>

using namespace dm;
namespace {

int kills() { return qEnvironmentVariableIsSet("DUSTMAW_KILLS") ? qEnvironmentVariableIntValue("DUSTMAW_KILLS") : 100; }

// Kills a child running `write` over and over at a random instant after its first round, so slow rounds still do
// their work; `check` judges the home. The next write removes what the killed writer left, never a live one's.
void killRepeatedly(const test::TempHome& home, const std::function<void(int round)>& write,
                    const std::function<void()>& check)
{
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    QStringList kept{u".DM.ini.dustmaw-%1-Ab3xYz"_s.arg(::getpid()), u"DM.ini.dustmaw-%1-Ab3xYz"_s.arg(gone),
                     u".DM.ini.dustmaw-%1-notes.txt"_s.arg(gone)};
    for (const QString& name : kept)
        test::writeFile(home.file(name), "not a leftover");
    kept.sort();
    std::mt19937 random(12345);
    for (int k = 0; k < kills() && !::testing::Test::HasFailure(); ++k) {
        int ended[2];
        ASSERT_EQ(::pipe(ended), 0);
        const pid_t child = ::fork();
        for (int round = 0; child == 0; ++round) {
            write(round);
            std::ignore = ::write(ended[1], "e", 1); // the parent reads only the first
        }
        ASSERT_GT(child, 0) << "fork failed; kill(-1) would reach every process";
        ::close(ended[1]);
        char byte = 0; // none when the child died in its first round, so there is nothing to kill
        ASSERT_EQ(::read(ended[0], &byte, 1), 1) << "the child died in its first round";
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        ::close(ended[0]); // only now: a closed pipe would end the child at a round's end with SIGPIPE
        SCOPED_TRACE(testing::Message() << "kill " << k);
        check();
        ASSERT_TRUE(writeFileAtomically(home.file(u"next"_s), "x"));
        EXPECT_EQ(QDir(home.path()).entryList({u"*.dustmaw-*"_s}, QDir::Files | QDir::Hidden, QDir::Name), kept);
    }
}

TEST(KilledWrites, SettingsKeepEveryHandAddedKey)
{
    test::TempHome home;
    const QString ini = test::makeFile(home.file(u"DM.ini"_s), "; kept by hand\n[Setting]\nLog=1\nMsgWait=10\n"
                                                                "[Mine]\nkeep=yes\n");
    killRepeatedly(home, [](int round) {
        MsgType = static_cast<std::int16_t>(round % 3);
        std::ignore = WriteSettings(static_cast<float>(round % 2 * 1500), 300.0F);
    }, [&] {
        const QByteArray bytes = test::readFile(ini);
        for (const char* kept : {"; kept by hand\n", "[Setting]\n", "Log=1\n", "[Mine]\nkeep=yes\n"})
            ASSERT_TRUE(bytes.contains(kept)) << kept << " lost:\n" << bytes.toStdString();
        ResetSettings();
        std::ignore = ReadSettings();
        EXPECT_EQ(std::pair(Log, MsgWait), std::pair(std::int16_t{1}, 1.0F));
    });
}

TEST(KilledWrites, GrownCharacterHasTheOldOrTheNewSize)
{
    test::TempHome home;
    const QString hero = test::makeFile(home.file(u"Hero.dmf"_s), CheckHeader(1000) + QByteArray(990, 'h'));
    const auto size = [&hero] { return QFileInfo(hero).size(); };
    killRepeatedly(home, [&](int) { std::ignore = GrowCharacterFile(hero, std::int32_t(size()), 7, nullptr); },
                   [&] { ASSERT_TRUE((size() - 1000) % 7 == 0 && CheckCharaFile(hero)) << size(); });
}

TEST(KilledWrites, NewCharacterIsAbsentOrComplete)
{
    test::TempHome home;
    killRepeatedly(home, [](int round) {
        QString path;
        bool cancel = false;
        std::ignore = MakeChara(u"K%1-%2"_s.arg(::getpid()).arg(round), path, cancel);
    }, [&] {
        for (const QFileInfo& f : QDir(home.path()).entryInfoList({u"*.dmf"_s}, QDir::Files))
            ASSERT_TRUE(f.size() == 1000 && CheckCharaFile(f.filePath())) << f.fileName().toStdString();
    });
}

// Battles that send their beaten files (and a fallen hero's) to the Trash, every other one undone at once, killed
// anywhere: the history never says a file is in the Trash that is not there, every file in the Trash is in the
// history, and once the next battle or restore has looked, no info file is left without its file.
TEST(KilledWrites, DisposalsStayAccountedFor)
{
    test::TempHome home{test::TempHome::OwnTrash};
    const QString hero = home.file(u"Hero.dmf"_s);
    const QString work = test::makeDir(home.file(u"work"_s));
    struct NoWait final : BattleView { void WaitUntil(const QDeadlineTimer&) override {} } view;
    const auto write = [&](int round) {
        // A weak hero falls and goes to the Trash itself; a strong one wins.
        std::tie(CharaPath, Idle) = std::tuple(hero, kTrue);
        if ((!QFile::exists(hero) && !writeFileAtomically(hero, test::stampedChara(round % 2 == 0 ? 1000 : 60000)))
            || LoadChara(hero, Chara, CharaItem) != 0)
            return;
        // The same names every round, so the Trash has to number them.
        QStringList enemies;
        for (int k = 0; k < 8; ++k)
            test::writeFile(enemies.emplace_back(work + u"/e%1.txt"_s.arg(k)), QByteArray(1 + k, 'e'));
        Randomize(static_cast<std::uint32_t>(::getpid() * 100 + round));
        std::ignore = Battle(view).Form_OLEDragDrop(enemies);
        if (round % 2 == 1)
            std::ignore = RestoreBattle(0);
    };
    killRepeatedly(home, write, [&] {
        QSet<QString> recorded;
        for (const BattleRecord& r : ReadHistory().battles)
            for (const HistoryFile& f : r.files) {
                if (f.fate != Fate::Trashing && f.fate != Fate::Trashed)
                    continue;
                recorded.insert(f.slot.name);
                // Confirmed, it is there or restored; unconfirmed, it may or may not have moved, which only the
                // disk says.
                const Whereabouts where = Locate(r, f);
                ASSERT_TRUE(f.fate == Fate::Trashing || where == Whereabouts::InTrash || where == Whereabouts::Restored)
                    << r.number << ' ' << f.path.toStdString() << " -> " << f.slot.name.toStdString();
            }
        const QDir trash(home.file(u"xdg/Trash"_s));
        for (const QString& name : QDir(trash.filePath(u"files"_s)).entryList(QDir::Files))
            ASSERT_TRUE(recorded.contains(name)) << name.toStdString() << " went to the Trash unrecorded";
        DropStaleTrashInfo();
        for (const QString& info : QDir(trash.filePath(u"info"_s)).entryList(QDir::Files))
            ASSERT_TRUE(QFileInfo::exists(trash.filePath(u"files/"_s + info.chopped(10)))) << info.toStdString();
    });
    // Every child ended a battle, and every battle disposes of a beaten enemy or the fallen hero.
    EXPECT_GE(QDir(home.file(u"xdg/Trash/files"_s)).entryList(QDir::Files).size(), kills()) << "none disposed of";
    EXPECT_TRUE(CharaLock().acquire(hero)) << "a killed battle leaves no lock behind";
}

} // namespace
