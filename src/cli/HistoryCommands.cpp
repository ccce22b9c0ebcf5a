// dustmaw-cli history and restore: what every battle disposed of, and
// bringing a battle's files back.
#include "battle/History.h"
#include "cli/Cli.h"
#include "cli/Json.h"
#include "services/HomeFolder.h"

#include <QDateTime>
#include <QFileInfo>

namespace dm::cli {
namespace {

struct Counts {
    int enemies = 0, beaten = 0, trashed = 0, deleted = 0, restorable = 0;
};

Counts countsOf(const BattleRecord& r, std::vector<Whereabouts>& where)
{
    Counts c;
    where.clear();
    for (const HistoryFile& f : r.files) {
        const Whereabouts w = Locate(r, f);
        where.push_back(w);
        if (f.index > 0) {
            ++c.enemies;
            if (f.fate != Fate::Untouched)
                ++c.beaten;
        }
        const bool went = w != Whereabouts::InPlace;
        if ((f.fate == Fate::Trashed || f.fate == Fate::Trashing) && went)
            ++c.trashed;
        if ((f.fate == Fate::Deleted || f.fate == Fate::Deleting) && went)
            ++c.deleted;
        if (w == Whereabouts::InTrash)
            ++c.restorable;
    }
    return c;
}

QString outcomeOf(const BattleRecord& r)
{
    if (r.finished())
        return OutcomeName(r.outcome);
    return BattleRunning(r.number) ? QStringLiteral("running") : QStringLiteral("interrupted");
}

QString localTime(std::int64_t ms)
{
    return ms == 0 ? QString() : QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString isoTime(std::int64_t ms)
{
    return ms == 0 ? QString()
                   : QDateTime::fromMSecsSinceEpoch(ms)
                         .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                         .toString(Qt::ISODateWithMs);
}

JsonObject battleJson(const BattleRecord& r, const Counts& c, const std::vector<Whereabouts>& where)
{
    QList<JsonObject> files;
    for (const HistoryFile& f : r.files) {
        JsonObject o;
        o.add("index", std::int64_t{f.index})
            .add("path", f.path)
            .add("size", f.size)
            .add("mode", QStringLiteral("%1").arg(f.mode & 07777, 4, 8, QLatin1Char('0')))
            .add("mtime", QDateTime::fromMSecsSinceEpoch(f.mtimeNs / 1000000).toString(Qt::ISODateWithMs))
            .add("fate", FateName(f.fate))
            .add("now", WhereaboutsName(where[static_cast<size_t>(f.index)]));
        if (!f.slot.name.isEmpty())
            o.add("trash", f.slot.trashDir).add("trashName", f.slot.name);
        if (!f.reason.isEmpty())
            o.add("reason", f.reason);
        files << o;
    }
    JsonObject o;
    o.add("number", r.number)
        .add("started", isoTime(r.startedMs))
        .add("ended", isoTime(r.endedMs))
        .add("character", r.chara)
        .add("name", r.charaName)
        .add("outcome", outcomeOf(r))
        .add("order", std::int64_t{r.order})
        .add("style", std::int64_t{r.style})
        .add("disposal", r.disposal == 1 ? QStringLiteral("delete") : QStringLiteral("trash"))
        .add("enemies", std::int64_t{c.enemies})
        .add("beaten", std::int64_t{c.beaten})
        .add("trashed", std::int64_t{c.trashed})
        .add("deleted", std::int64_t{c.deleted})
        .add("restorable", std::int64_t{c.restorable})
        .add("files", files);
    return o;
}

QString resultText(const RestoredFile& f)
{
    switch (f.result) {
    case RestoredFile::Restored: return QStringLiteral("restored: %1").arg(f.target);
    case RestoredFile::WouldRestore: return QStringLiteral("would be restored: %1").arg(f.target);
    case RestoredFile::AlreadyBack: return QStringLiteral("already back: %1").arg(f.path);
    case RestoredFile::Occupied: return QStringLiteral("left in the Trash, something else stands at %1").arg(f.target);
    case RestoredFile::Purged: return QStringLiteral("no longer in the Trash: %1").arg(f.path);
    case RestoredFile::DeletedForGood: return QStringLiteral("deleted for good, cannot come back: %1").arg(f.path);
    case RestoredFile::Failed: return QStringLiteral("could not be restored (%1): %2").arg(f.reason, f.target);
    }
    return {};
}

} // namespace

int runHistory(const QStringList& args)
{
    bool json = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--json"))
            json = true;
        else
            return usageError(QStringLiteral("history: unknown argument '%1'").arg(a));
    }
    const History h = ReadHistory();
    // Reported once, and never in the way of the readable records.
    for (const QString& problem : h.problems)
        err(QStringLiteral("dustmaw-cli: history: ") + problem);
    std::vector<Whereabouts> where;
    if (!json && !h.battles.empty())
        out(QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8  %9")
                .arg(QStringLiteral("No."), 5)
                .arg(QStringLiteral("Started"), -19)
                .arg(QStringLiteral("Character"), -12)
                .arg(QStringLiteral("Outcome"), -11)
                .arg(QStringLiteral("Enemies"))
                .arg(QStringLiteral("Beaten"))
                .arg(QStringLiteral("Trashed"))
                .arg(QStringLiteral("Deleted"))
                .arg(QStringLiteral("Restorable")));
    for (const BattleRecord& r : h.battles) {
        const Counts c = countsOf(r, where);
        if (json) {
            const QByteArray line = battleJson(r, c, where).toJson();
            out(QString::fromUtf8(line));
            continue;
        }
        out(QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8  %9")
                .arg(r.number, 5)
                .arg(localTime(r.startedMs), -19)
                .arg(r.charaName.isEmpty() ? QFileInfo(r.chara).fileName() : r.charaName, -12)
                .arg(outcomeOf(r), -11)
                .arg(c.enemies, 7)
                .arg(c.beaten, 6)
                .arg(c.trashed, 7)
                .arg(c.deleted, 7)
                .arg(c.restorable, 10));
    }
    if (!json && h.battles.empty())
        out(QStringLiteral("No battles yet (%1).").arg(HistoryFolder()));
    return ExitOk;
}

int runRestore(const QStringList& args)
{
    bool dryRun = false;
    QString to;
    std::int64_t number = 0;
    bool haveNumber = false;
    for (qsizetype k = 0; k < args.size(); ++k) {
        const QString& a = args[k];
        if (a == QLatin1String("--dry-run")) {
            dryRun = true;
        } else if (a == QLatin1String("--to")) {
            if (k + 1 >= args.size())
                return usageError(QStringLiteral("restore: --to needs a folder"));
            const std::optional<QString> folder = absolutePath(args[++k]);
            if (!folder)
                return ExitUsage;
            to = *folder;
            while (to.size() > 1 && to.endsWith(QLatin1Char('/')))
                to.chop(1);
        } else if (!haveNumber && !a.startsWith(QLatin1Char('-'))) {
            bool ok = false;
            number = a.toLongLong(&ok);
            if (!ok || number < 1)
                return usageError(QStringLiteral("restore: '%1' is no battle number").arg(a));
            haveNumber = true;
        } else {
            return usageError(QStringLiteral("restore: unknown argument '%1'").arg(a));
        }
    }
    if (!to.isEmpty() && !QFileInfo(to).isDir()) {
        err(QStringLiteral("dustmaw-cli: restore: %1 is not a folder").arg(to));
        return ExitFailure;
    }
    const RestoreReport r = RestoreBattle(number, to, dryRun);
    if (!r.found) {
        err(haveNumber ? QStringLiteral("dustmaw-cli: restore: no battle %1 in the history (%2)")
                             .arg(number)
                             .arg(HistoryFolder())
                       : QStringLiteral("dustmaw-cli: restore: no battle in the history (%1)").arg(HistoryFolder()));
        return ExitFailure;
    }
    if (r.restoring) {
        err(QStringLiteral("dustmaw-cli: restore: battle %1 is being restored; try again when that has ended")
                .arg(r.record.number));
        return ExitFailure;
    }
    if (r.running) {
        err(QStringLiteral("dustmaw-cli: restore: battle %1 is still running; try again when it has ended")
                .arg(r.record.number));
        return ExitFailure;
    }
    for (const RestoredFile& f : r.files) {
        const bool bad = f.result == RestoredFile::Occupied || f.result == RestoredFile::Purged
            || f.result == RestoredFile::Failed;
        (bad ? err : out)(resultText(f));
    }
    if (!r.error.isEmpty())
        err(QStringLiteral("dustmaw-cli: restore: the history could not be updated: %1").arg(r.error));
    int wentToTrash = 0, alreadyBack = 0;
    for (const RestoredFile& f : r.files) {
        wentToTrash += f.result != RestoredFile::DeletedForGood ? 1 : 0;
        alreadyBack += f.result == RestoredFile::AlreadyBack ? 1 : 0;
    }
    if (wentToTrash == 0)
        out(QStringLiteral("Battle %1 sent nothing to the Trash.").arg(r.record.number));
    else if (alreadyBack == wentToTrash)
        out(QStringLiteral("Battle %1 is already restored in full.").arg(r.record.number));
    else
        out(QStringLiteral("Battle %1: %2 of %3 file(s) %4.")
                .arg(r.record.number)
                .arg(r.restored + alreadyBack)
                .arg(wentToTrash)
                .arg(dryRun ? QStringLiteral("would be back") : QStringLiteral("back")));
    for (const RestoredFile& f : r.files) {
        if (f.index == 0 && f.result == RestoredFile::Restored)
            out(QStringLiteral("The character %1 is back: %2").arg(r.record.charaName, f.target));
    }
    return r.complete() ? ExitOk : ExitFailure;
}

} // namespace dm::cli
