// What the battle history costs, on N small files (10,000 unless the first
// argument says otherwise; the second sets the rounds, 5), in a temporary home:
//  1. disposal as Battle::DisposeFile does it without a history: the file
//     object's Enabled check, TrashMove prepare and commit;
//  2. the same with a HistoryWriter, in DisposeFile's order (trashing before
//     the move, disposed after), with begin() and end() also timed apart.
//     The calls are made directly, not through dm::Battle: a battle of
//     10,000 enemies spends tens of seconds in the engine, which would hide
//     the disposal's cost entirely;
//  3. RestoreBattle of (2)'s record, against a bare loop that renames each
//     trashed file back and unlinks its .trashinfo, over the same slots.
// Every round works on fresh files in a warm page cache, and each measure on
// an empty trash, so no name ever needs a ".2". TMPDIR chooses the file
// system; tmpfs gives the steadiest figures, since on a disk the cost of
// making a file swings with what was deleted there lately (below).
#include "BenchFiles.h"
#include "battle/Battle.h"
#include "battle/History.h"
#include "character/CharaFile.h"
#include "services/HomeFolder.h"
#include "services/Settings.h"
#include "services/Trash.h"
#include "services/clsFile.h"

#include <QDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using dm::bench::secondsOf;

using dm::bench::freshFiles;

QString trash() { return dm::homeTrashPath(); }
void freshTrash() { dm::bench::freshTrash(trash()); }

// (1): DisposeFile's steps without the history.
int disposePlain(const QStringList& paths)
{
    int done = 0;
    dm::clsFile& file = dm::FileObj();
    for (const QString& path : paths) {
        file.setFileName(path);
        if (!file.Enabled())
            continue;
        QString error;
        dm::TrashMove move;
        if (move.prepare(path, &error) && move.commit(&error))
            ++done;
    }
    return done;
}

dm::Roster rosterOf(const QString& hero, const QStringList& paths)
{
    dm::Roster roster;
    roster.reserve(static_cast<size_t>(paths.size()) + 1);
    dm::CharaRecord chara;
    chara.Name = QStringLiteral("Hero");
    chara.FileName = hero;
    roster.push_back(chara);
    for (const QString& path : paths) {
        dm::CharaRecord enemy;
        enemy.Name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        enemy.FileName = path;
        roster.push_back(std::move(enemy));
    }
    return roster;
}

struct HistoryRun {
    double begin = 0, loop = 0, end = 0;
    int done = 0;
    std::int64_t number = 0;
    [[nodiscard]] double total() const { return begin + loop + end; }
};

using Moves = std::vector<std::pair<QString, dm::TrashSlot>>;

// (2): DisposeFile's exact sequence with a HistoryWriter; `moves` gets where
// each file went.
HistoryRun disposeWithHistory(const dm::Roster& roster, Moves* moves = nullptr)
{
    HistoryRun run;
    dm::HistoryWriter history;
    bool begun = false;
    run.begin = secondsOf([&] { begun = history.begin(roster, {}); });
    if (!begun)
        std::fprintf(stderr, "history begin failed: %s\n", qPrintable(history.errorString()));
    run.loop = secondsOf([&] {
        dm::clsFile& file = dm::FileObj();
        for (size_t k = 1; k < roster.size(); ++k) {
            const QString& path = roster[k].FileName;
            file.setFileName(path);
            if (!file.Enabled()) {
                history.vanished(path);
                continue;
            }
            QString error;
            bool done = false;
            dm::TrashMove move;
            if (move.prepare(path, &error))
                done = history.trashing(path, move) && move.commit(&error);
            if (done) {
                history.disposed(path);
                ++run.done;
                if (moves != nullptr)
                    moves->emplace_back(path, move.slot());
            } else {
                history.failed(path, error);
            }
        }
    });
    run.end = secondsOf([&] { history.end(dm::BattleOutcome::Victory); });
    if (!history.errorString().isEmpty())
        std::fprintf(stderr, "history: %s\n", qPrintable(history.errorString()));
    run.number = history.number();
    return run;
}

using dm::bench::Figures;

void row(const char* what, const Figures& f, int files)
{
    std::printf("  %-34s median %9.2f ms   min %9.2f ms   (%.2f us/file)\n", what, f.median() * 1e3, f.min() * 1e3,
                f.median() * 1e6 / std::max(files, 1));
}

void ratioRow(const char* what, double median, double min, const char* goal)
{
    std::printf("  %-34s median %9.2f %%    min %9.2f %%    %s\n", what, (median - 1) * 100, (min - 1) * 100, goal);
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    QTemporaryDir root;
    if (!root.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    dm::bench::isolateHome(root);

    dm::ResetSettings();
    if (!dm::EnsureHomeFolder()) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(dm::HomeFolder()));
        return 1;
    }
    // The character's file: begin() records it like every other.
    const QString hero = dm::HomeFolder() + QStringLiteral("/Hero.dmf");
    QFile heroFile(hero);
    if (heroFile.open(QIODevice::WriteOnly))
        heroFile.write(dm::CheckHeader(1000) + QByteArray(990, 'h'));
    heroFile.close();

    Figures plain, withHistory, begin, loop, end, restore, bareRestore;
    // Each round's own ratios: the machine's drift between rounds cancels out.
    Figures overhead, restoreRatio;
    int expected = 0;
    int problems = 0;
    const auto check = [&](const char* what, int got, int want) {
        if (got != want) {
            std::fprintf(stderr, "%s: %d of %d\n", what, got, want);
            ++problems;
        }
    };

    freshTrash();
    // Round 0 warms the caches and the trash folders and is not counted.
    for (int round = 0; round <= rounds; ++round) {
        const bool counted = round > 0;

        // (1)
        {
            const QStringList files = freshFiles(root.path(), count);
            expected = static_cast<int>(files.size());
            int done = 0;
            const double s = secondsOf([&] { done = disposePlain(files); });
            check("disposed without history", done, expected);
            freshTrash();
            if (counted)
                plain.add(s);
        }
        // (2), then (3) on its record.
        {
            const QStringList files = freshFiles(root.path(), count);
            const HistoryRun run = disposeWithHistory(rosterOf(hero, files));
            check("disposed with history", run.done, expected);
            dm::RestoreReport report;
            const double s = secondsOf([&] { report = dm::RestoreBattle(run.number); });
            check("restored by RestoreBattle", report.restored, expected);
            if (!report.complete() || !report.error.isEmpty())
                std::fprintf(stderr, "restore incomplete: %s\n", qPrintable(report.error));
            freshTrash();
            if (counted) {
                withHistory.add(run.total());
                begin.add(run.begin);
                loop.add(run.loop);
                end.add(run.end);
                restore.add(s);
            }
        }
        // (3)'s baseline: trashed the same way, brought back by bare calls.
        {
            const QStringList files = freshFiles(root.path(), count);
            Moves moves;
            std::ignore = disposeWithHistory(rosterOf(hero, files), &moves);
            struct Back {
                QByteArray from, to, info;
            };
            std::vector<Back> backs;
            backs.reserve(moves.size());
            for (const auto& [path, slot] : moves)
                backs.push_back(
                    {QFile::encodeName(slot.filesPath()), QFile::encodeName(path), QFile::encodeName(slot.infoPath())});
            int back = 0;
            const double s = secondsOf([&] {
                for (const Back& m : backs)
                    back += ::rename(m.from.constData(), m.to.constData()) == 0 && ::unlink(m.info.constData()) == 0;
            });
            check("restored by the bare loop", back, expected);
            freshTrash();
            if (counted) {
                bareRestore.add(s);
                overhead.add(withHistory.v.back() / plain.v.back());
                restoreRatio.add(restore.v.back() / s);
            }
        }
    }

    std::printf("files per measure: %d, %d rounds after a warm-up, in %s (%s)\n\n", expected, rounds,
                qPrintable(root.path()), dm::bench::fileSystemOf(root.path()));
    std::printf("1. disposal without history (Enabled, TrashMove prepare + commit)\n");
    row("total", plain, expected);
    std::printf("2. disposal with history (DisposeFile's sequence, called directly)\n");
    row("begin()", begin, expected);
    row("per-file calls", loop, expected);
    row("end()", end, expected);
    row("total", withHistory, expected);
    ratioRow("overhead over (1), total", withHistory.median() / plain.median(), withHistory.min() / plain.min(),
             "(goal <= 10 %)");
    ratioRow("overhead over (1), per-file only", loop.median() / plain.median(), loop.min() / plain.min(), "");
    std::printf("  %-34s median %9.2f %%    (same round, paired)\n", "overhead, round by round",
                (overhead.median() - 1) * 100);
    std::printf("3. restore\n");
    row("RestoreBattle", restore, expected);
    row("bare rename + unlink loop", bareRestore, expected);
    std::printf("  %-34s median %9.2fx     min %9.2fx     (goal <= 1.5x)\n", "ratio",
                restore.median() / bareRestore.median(), restore.min() / bareRestore.min());
    std::printf("  %-34s median %9.2fx     (same round, paired)\n", "ratio, round by round", restoreRatio.median());
    if (problems != 0)
        std::printf("\n%d count(s) came out wrong; see above\n", problems);
    return 0;
}
