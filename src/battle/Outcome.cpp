// Where a battle touches the disk: beaten files are disposed of at once; a
// victory grows the character file, a defeat disposes of it.
#include "battle/Battle.h"
#include "battle/History.h"
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "services/Settings.h"
#include "services/Trash.h"

namespace dm {

void Battle::DisposeFile(const QString& path)
{
    clsFile& file = FileObj();
    file.setFileName(path);
    if (m_options.dryRun) {
        m_report.disposals.push_back(
            {path, file.Enabled() ? clsFile::Disposal::Done : clsFile::Disposal::NothingThere, {}});
        return;
    }
    HistoryWriter* history = m_history.get();
    if (DeadAfter != 0 && DeadAfter != 1) {
        if (history != nullptr)
            history->kept(path);
        return;
    }
    if (!file.Enabled()) {
        if (history != nullptr)
            history->vanished(path);
        m_report.disposals.push_back({path, clsFile::Disposal::NothingThere, {}});
        return;
    }
    // The record says where the file goes before it moves, and that it went
    // after. A file whose way the record cannot hold stays where it is. Only
    // a battle run without the drop's intake (tests, benchmarks) has no
    // record at all.
    QString error;
    bool done = false;
    const auto unrecorded = [&] {
        error = QStringLiteral("not recorded in the history, so left in place: %1").arg(history->errorString());
        ++m_report.unrecorded;
    };
    if (DeadAfter == 0) {
        TrashMove move;
        if (move.prepare(path, &error)) {
            if (history != nullptr && !history->trashing(path, move))
                unrecorded();
            else
                done = move.commit(&error);
        }
    } else if (history != nullptr && !history->deleting(path)) {
        unrecorded();
    } else {
        done = deleteFile(path, &error);
    }
    if (history != nullptr) {
        if (done)
            history->disposed(path);
        else
            history->failed(path, error);
    }
    m_report.disposals.push_back({path, done ? clsFile::Disposal::Done : clsFile::Disposal::Refused, error});
}

bool Battle::growCharacterFile(const CharaRecord& chara, std::int32_t gain)
{
    return GrowCharacterFile(chara.FileName, chara.Experience, gain, &m_report.growError);
}

void Battle::Victory(Roster& roster)
{
    const CharaRecord& old = roster[0];
    const std::int32_t gain = m_report.maxHitTaken / 2 + m_report.bonusExp;
    m_report.gain = gain;
    m_report.outcome = BattleOutcome::Victory;

    MessageArgs args;
    args.chara = old.Name;
    args.gain = gain;
    say(BattleEvent::Victory, args, 2.0F, 0);
    say(BattleEvent::Experience, args, 2.0F, 0);

    if (m_options.dryRun) {
        m_report.newLevel = LevelForExperience(old.LevelStep, std::int64_t{old.Experience} + gain);
    } else if (growCharacterFile(old, gain)) {
        // A file that cannot be grown (its folder or itself unwritable, a
        // full disk) stays exactly as it was: the experience just announced
        // is then lost, and the character keeps its level.
        m_report.characterFileGrown = true;
        if (LoadChara(old.FileName, Chara, CharaItem) == 0)
            m_report.newLevel = Chara.Level;
    }
    if (m_report.newLevel == 0)
        m_report.newLevel = old.Level;

    if (m_report.oldLevel < m_report.newLevel) {
        args.levels = m_report.newLevel - m_report.oldLevel;
        say(BattleEvent::LevelUp, args, 2.0F, 0);
    }
    Chara.Vitarity = Chara.MaxVitarity;
    Idle = kTrue;
}

void Battle::Defeat(Roster& roster)
{
    m_report.outcome = BattleOutcome::Defeat;
    m_report.newLevel = m_report.oldLevel;
    DisposeFile(roster[0].FileName);
    if (!m_options.dryRun) {
        CharaPath.clear();
        Chara = CharaRecord{};
        CharaItem = CharaRecord{};
    } else {
        Chara.Vitarity = Chara.MaxVitarity;
    }
    Idle = kTrue;
}

} // namespace dm
