// One character against 10,000 enemy files, dry run:
//  - time to build the roster, against bare loops of stat, open and close,
//    and of open, fstat and close;
//  - turns per second of the engine with no waiting;
//  - processor time of a 30-second battle at the fastest message speed,
//    waiting for real (should be a tiny fraction of the wall time).
#include "BenchFiles.h"
#include "battle/Battle.h"
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "services/Settings.h"
#include "services/Random.h"

#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

struct TimeUp {};

// Never waits; ends the battle after a number of messages.
class NoWaitView final : public dm::BattleView {
public:
    long limit = -1;
    void WaitUntil(const QDeadlineTimer&) override
    {
        if (limit >= 0 && --limit < 0)
            throw TimeUp{};
    }
};

// Waits for real until the battle has run for `seconds`.
class TimedView final : public dm::BattleView {
public:
    explicit TimedView(double seconds) : m_end(static_cast<qint64>(seconds * 1000)) {}
    void WaitUntil(const QDeadlineTimer& deadline) override
    {
        ++messages;
        BattleView::WaitUntil(deadline);
        if (m_end.hasExpired())
            throw TimeUp{};
    }
    long messages = 0;

private:
    QDeadlineTimer m_end;
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void makeHero(const QTemporaryDir& dir)
{
    const QString hero = dir.filePath(QStringLiteral("Hero.dmf"));
    QFile f(hero);
    if (f.open(QIODevice::WriteOnly))
        f.write(dm::CheckHeader(1000) + QByteArray(990, 'h'));
    f.close();
    dm::CharaPath = hero;
    if (dm::LoadChara(hero, dm::Chara, dm::CharaItem) != 0)
        std::fprintf(stderr, "cannot load %s\n", qPrintable(hero));
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const double timedSeconds = argc > 2 ? std::atof(argv[2]) : 30.0;
    QTemporaryDir dir;
    dm::ResetSettings();
    makeHero(dir);
    const QStringList paths = dm::bench::makeFiles(dir, count);
    const std::vector<QByteArray> native = dm::bench::nativePaths(paths);

    long sink = 0;
    const auto bare = [&] { sink += dm::bench::bareStatOpen(native); };
    const auto fd = [&] { sink += dm::bench::bareOpenFstat(native); };
    NoWaitView view;
    dm::Battle battle(view, {true});
    dm::Roster roster;
    const auto build = [&] { roster = battle.BuildRoster(paths); };
    bare();
    fd();
    build();
    double bestBare = 1e9, bestFd = 1e9, bestBuild = 1e9;
    for (int round = 0; round < 5; ++round) {
        bestBare = std::min(bestBare, dm::bench::secondsOf(bare));
        bestFd = std::min(bestFd, dm::bench::secondsOf(fd));
        bestBuild = std::min(bestBuild, dm::bench::secondsOf(build));
    }
    std::printf("enemies:            %zu\n", roster.size() - 1);
    std::printf("bare stat+open:     %.2f ms\n", bestBare * 1e3);
    std::printf("bare open+fstat:    %.2f ms\n", bestFd * 1e3);
    std::printf("roster build:       %.2f ms (%.2fx the bare stat+open loop, goal <= 1.5x; %.2fx open+fstat)\n",
                bestBuild * 1e3, bestBuild / bestBare, bestBuild / bestFd);

    // A hero that cannot lose, so the battle runs through every enemy.
    dm::Randomize(1);
    roster[0].Vitarity = 2000000000;
    roster[0].Strength = 100000;
    dm::Roster fight = roster;
    view.limit = 2000000;
    const double fightSeconds = dm::bench::secondsOf([&] {
        try {
            battle.RunBattle(fight);
        } catch (const TimeUp&) {
        }
    });
    const auto turns = battle.report().turns;
    std::printf("engine:             %lld turns in %.2f s, %.0f turns/s (no waiting, dry run)\n",
                static_cast<long long>(turns), fightSeconds, static_cast<double>(turns) / fightSeconds);

    // The fastest message speed, waiting for real.
    dm::MsgWait = 0.2F;
    TimedView timed(timedSeconds);
    dm::Battle slow(timed, {true});
    dm::Roster slowRoster = roster;
    const double cpu0 = cpuSeconds();
    const double wall = dm::bench::secondsOf([&] {
        try {
            slow.RunBattle(slowRoster);
        } catch (const TimeUp&) {
        }
    });
    const double cpu = cpuSeconds() - cpu0;
    std::printf("paced battle:       %ld messages in %.1f s wall, %.3f s processor (%.3f%% of wall)\n", timed.messages,
                wall, cpu, 100.0 * cpu / wall);
    std::printf("(checksum %ld)\n", sink);
    return 0;
}
