// dustmaw-cli new and fight: making a character and fighting a battle in a
// terminal, by the same rules as the desktop.
#include "battle/Battle.h"
#include "character/LoadChara.h"
#include "character/MakeChara.h"
#include "cli/Cli.h"
#include "services/Settings.h"
#include "services/HomeFolder.h"
#include "services/Random.h"

#include <QDateTime>
#include <QThread>

#include <cmath>
#include <optional>

namespace dm::cli {
namespace {

// Prints each message as a line and paces it.
class TerminalView final : public BattleView {
public:
    explicit TerminalView(std::optional<double> wait) : m_wait(wait) {}
    void SetMessageText(const QString& text) override { out(text); }
    void ShowMessageBox(const QString& text) override { err(QStringLiteral("dustmaw-cli: ") + text); }
    void WaitUntil(const QDeadlineTimer& deadline) override
    {
        std::fflush(stdout);
        if (!m_wait) {
            BattleView::WaitUntil(deadline);
            return;
        }
        if (*m_wait > 0)
            QThread::msleep(static_cast<unsigned long>(std::lround(*m_wait * 1000.0)));
    }

private:
    std::optional<double> m_wait;
};

// Parses a whole number in [lo, hi].
std::optional<long long> wholeNumber(const QString& text, long long lo, long long hi)
{
    bool ok = false;
    const long long v = text.toLongLong(&ok);
    if (!ok || v < lo || v > hi)
        return std::nullopt;
    return v;
}

QString disposalVerb(bool dryRun)
{
    const QString done = DeadAfter == 1 ? QStringLiteral("deleted") : QStringLiteral("trashed");
    return dryRun ? QStringLiteral("would be ") + done : done;
}

void printSummary(const BattleReport& r, const QString& charaName, const QString& charaPath, bool dryRun)
{
    out(QString());
    out(QStringLiteral("Enemies beaten: %1 of %2").arg(r.beaten).arg(r.enemies));
    const QString verb = disposalVerb(dryRun);
    int done = 0;
    for (const Disposal& d : r.disposals) {
        if (d.path == charaPath && r.outcome == BattleOutcome::Defeat)
            continue;
        switch (d.result) {
        case clsFile::Disposal::Done:
            ++done;
            out(QStringLiteral("  %1: %2").arg(verb, d.path));
            break;
        case clsFile::Disposal::NothingThere: out(QStringLiteral("  already gone: %1").arg(d.path)); break;
        case clsFile::Disposal::Refused: out(QStringLiteral("  left in place (%1): %2").arg(d.error, d.path)); break;
        }
    }
    out(QStringLiteral("Files %1: %2").arg(verb).arg(done));
    switch (r.outcome) {
    case BattleOutcome::Victory:
        out(QStringLiteral("Experience gained: %1").arg(r.gain));
        out(QStringLiteral("Level: %1 -> %2").arg(r.oldLevel).arg(r.newLevel));
        if (!dryRun && !r.characterFileGrown)
            out(QStringLiteral("The character file could not be grown (%1): it is unchanged, and the experience "
                               "gained is lost.")
                    .arg(r.growError));
        break;
    case BattleOutcome::Defeat:
        out(QStringLiteral("%1 fell: its file %2 %3")
                .arg(charaName, charaPath, dryRun ? verb : QStringLiteral("was ") + verb));
        break;
    case BattleOutcome::Stalemate:
        out(QStringLiteral("Nobody can act (every Agility is 0): no winner, nothing disposed of."));
        break;
    case BattleOutcome::NotFought: break;
    }
}

} // namespace

int runNew(const QStringList& args)
{
    bool makeDefault = true;
    QStringList names;
    for (const QString& a : args) {
        if (a == QLatin1String("--no-default"))
            makeDefault = false;
        else if (a.startsWith(QLatin1String("--")) && a.size() > 2)
            return usageError(QStringLiteral("new: unknown option '%1'").arg(a));
        else
            names << a;
    }
    if (names.size() != 1)
        return usageError(QStringLiteral("new: give exactly one name"));

    if (!EnsureHomeFolder()) {
        err(QStringLiteral("dustmaw-cli: cannot create %1").arg(HomeFolder()));
        return ExitFailure;
    }
    ResetSettings();
    const SavedPosition position = ReadSettings();
    Randomize(static_cast<std::uint32_t>(QDateTime::currentMSecsSinceEpoch()));

    QString path;
    bool cancel = false;
    const QString message = MakeChara(names.first(), path, cancel);
    if (cancel) {
        err(QStringLiteral("dustmaw-cli: %1").arg(message));
        return ExitFailure;
    }
    out(path);
    if (makeDefault) {
        CharaPath = path;
        if (!WriteSettings(static_cast<float>(position.Left), static_cast<float>(position.Top))) {
            err(QStringLiteral("dustmaw-cli: could not write %1").arg(IniPath()));
            return ExitFailure;
        }
    }
    return ExitOk;
}

int runFight(const QStringList& args)
{
    std::optional<QString> chara;
    std::optional<long long> style, order, seed;
    std::optional<double> wait;
    std::optional<std::int16_t> deadAfter;
    bool log = false;
    bool dryRun = false;
    QStringList paths;
    bool optionsDone = false;

    for (qsizetype k = 0; k < args.size(); ++k) {
        const QString& a = args[k];
        const auto value = [&]() -> std::optional<QString> {
            if (k + 1 >= args.size())
                return std::nullopt;
            return args[++k];
        };
        if (optionsDone || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            paths << a;
        } else if (a == QLatin1String("--")) {
            optionsDone = true;
        } else if (a == QLatin1String("--chara")) {
            chara = value();
            if (!chara)
                return usageError(QStringLiteral("fight: --chara needs a character file"));
        } else if (a == QLatin1String("--style") || a == QLatin1String("--order") || a == QLatin1String("--seed")) {
            const std::optional<QString> v = value();
            const bool isStyle = a == QLatin1String("--style");
            const bool isOrder = a == QLatin1String("--order");
            const auto n = v ? wholeNumber(*v, 0, isStyle ? 2 : isOrder ? 4 : 4294967295LL) : std::nullopt;
            if (!n)
                return usageError(QStringLiteral("fight: %1 takes %2")
                                      .arg(a,
                                           isStyle       ? QStringLiteral("0, 1 or 2")
                                               : isOrder ? QStringLiteral("0 to 4")
                                                         : QStringLiteral("a whole number 0 to 4294967295")));
            (isStyle ? style : isOrder ? order : seed) = n;
        } else if (a == QLatin1String("--wait")) {
            const std::optional<QString> v = value();
            bool ok = false;
            const double w = v ? v->toDouble(&ok) : 0.0;
            if (!ok || !std::isfinite(w) || w < 0 || w > 3600)
                return usageError(QStringLiteral("fight: --wait takes seconds, 0 to 3600"));
            wait = w;
        } else if (a == QLatin1String("--trash")) {
            deadAfter = 0;
        } else if (a == QLatin1String("--delete")) {
            deadAfter = 1;
        } else if (a == QLatin1String("--log")) {
            log = true;
        } else if (a == QLatin1String("--dry-run")) {
            dryRun = true;
        } else {
            return usageError(QStringLiteral("fight: unknown option '%1'").arg(a));
        }
    }
    if (!chara)
        return usageError(QStringLiteral("fight: no character given (--chara FILE.dmf)"));
    if (paths.isEmpty())
        return usageError(QStringLiteral("fight: no file to fight"));

    if (!EnsureHomeFolder()) {
        err(QStringLiteral("dustmaw-cli: cannot create %1").arg(HomeFolder()));
        return ExitFailure;
    }
    ResetSettings();
    (void)ReadSettings();
    if (style)
        MsgType = static_cast<std::int16_t>(*style);
    if (order)
        AttSr = static_cast<std::int16_t>(*order);
    if (deadAfter)
        DeadAfter = *deadAfter;
    if (log)
        Log = 1;
    Randomize(seed ? static_cast<std::uint32_t>(*seed)
                   : static_cast<std::uint32_t>(QDateTime::currentMSecsSinceEpoch()));

    const std::optional<QString> charaPath = absolutePath(*chara);
    const std::optional<QStringList> absolute = absolutePaths(paths);
    if (!charaPath || !absolute)
        return ExitUsage;
    CharaPath = *charaPath;
    if (LoadChara(CharaPath, Chara, CharaItem) != 0) {
        err(QStringLiteral("dustmaw-cli: %1: %2").arg(*chara, refusalReason(CharaPath)));
        return ExitFailure;
    }

    const QString charaName = Chara.Name;
    TerminalView view(wait);
    Battle battle(view, {dryRun});
    switch (battle.Form_OLEDragDrop(*absolute)) {
    case DropResult::Fought: break;
    case DropResult::NothingAccepted:
    case DropResult::NoFiles:
        err(QStringLiteral("dustmaw-cli: nothing acceptable to fight (folders, hidden, read-only, system, "
                           "missing and unreadable files are left alone, and so is the character's own file)"));
        return ExitFailure;
    case DropResult::CharaBusy:
        err(QStringLiteral("dustmaw-cli: %1 is fighting another battle%2; try again when it has ended")
                .arg(*chara,
                     battle.report().lockHolder > 0 ? QStringLiteral(" (process %1)").arg(battle.report().lockHolder)
                                                    : QString()));
        return ExitFailure;
    case DropResult::Busy:
    case DropResult::NoCharacter: return ExitFailure;
    }
    if (dryRun)
        out(QStringLiteral("(dry run: nothing was removed and the character file is unchanged)"));
    printSummary(battle.report(), charaName, *charaPath, dryRun);
    if (Log == 1)
        out(QStringLiteral("Log: %1").arg(LogPath));
    const BattleReport& report = battle.report();
    if (report.historyNumber > 0)
        out(QStringLiteral("History: battle %1 ('dustmaw-cli restore %1' brings its files back)")
                .arg(report.historyNumber));
    // A file moves only once the history says where: what it could not
    // record stayed where it was.
    if (!dryRun && (report.historyNumber == 0 || !report.historyError.isEmpty()))
        err(QStringLiteral("dustmaw-cli: the history could not record %1 (%2)%3")
                .arg(report.historyNumber == 0 ? QStringLiteral("the battle") : QStringLiteral("all of the battle"),
                     report.historyError,
                     report.unrecorded > 0
                         ? QStringLiteral("; %1 beaten file(s) it could not record were left in place")
                               .arg(report.unrecorded)
                         : QString()));
    switch (battle.report().outcome) {
    case BattleOutcome::Victory: return ExitOk;
    case BattleOutcome::Defeat: return 2;
    default: return 3;
    }
}

} // namespace dm::cli
