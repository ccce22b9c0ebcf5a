#pragma once
// One drop, end to end: intake and roster, the fight, every message, the
// log, disposal of beaten files and the character file's growth or loss.
#include "battle/BattleView.h"
#include "battle/Messages.h"
#include "character/CharaLock.h"
#include "character/CharaRecord.h"
#include "services/clsFile.h"

#include <QMimeData>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace dm {

class HistoryWriter;

// The local files a drop carries, in its order (other URLs are no files);
// nullopt when it carries no file list at all.
[[nodiscard]] std::optional<QStringList> DroppedPaths(const QMimeData& data);

// Full path of the running battle's log; empty while logging is off.
extern QString LogPath;

// Index 0 the character, 1..n the enemies in drop order.
using Roster = std::vector<CharaRecord>;

struct BattleOptions {
    // Fight, but remove nothing and leave the character file as it is.
    bool dryRun = false;
};

enum class BattleOutcome { NotFought, Victory, Defeat, Stalemate };

struct Disposal {
    QString path;
    clsFile::Disposal result;
    QString error;
};

// What one battle did, for the tool's summary and the tests.
struct BattleReport {
    BattleOutcome outcome = BattleOutcome::NotFought;
    int enemies = 0;
    int beaten = 0;
    std::int64_t turns = 0;
    std::vector<Disposal> disposals; // in the order they happened
    std::int32_t bonusExp = 0;
    std::int32_t maxHitTaken = 0;
    std::int32_t gain = 0;
    std::int32_t oldLevel = 0;
    std::int32_t newLevel = 0;
    bool characterFileGrown = false;
    QString growError; // why a victory could not grow the character file
    std::int64_t historyNumber = 0; // the battle's record; 0 when none was written
    QString historyError; // why the record could not be written (the battle went on)
    int unrecorded = 0; // beaten files left in place because the record could not say where they went
    pid_t lockHolder = 0; // CharaBusy: the process fighting with the character
};

enum class DropResult {
    Busy, // a battle runs: beeped
    NoCharacter, // no character: told so
    NoFiles, // the drop carried no file list
    NothingAccepted, // no acceptable file
    CharaBusy, // another battle runs with the same character file
    Fought,
};

class Battle {
public:
    explicit Battle(BattleView& view, BattleOptions options = {});
    ~Battle();
    Battle(const Battle&) = delete;
    Battle& operator=(const Battle&) = delete;

    // The drop handler's rules; nullopt when the drop carried no file list.
    DropResult Form_OLEDragDrop(const std::optional<QStringList>& paths);

    // The enemy the probed file makes, with its row added; nullopt when it
    // can no longer be read.
    std::optional<CharaRecord> AddEnemy(const clsFile& file, const clsFile::Probe& probe);

    // Fights the roster to its end and processes the outcome.
    void RunBattle(Roster& roster);

    void ShowMessage(const QString& text, float wait, std::int32_t left, HeroPose pose = HeroPose::Standing);
    void ShowVitarity(std::int32_t value);
    void DisposeFile(const QString& path);

    [[nodiscard]] const BattleReport& report() const { return m_report; }

    // Roster building alone (filter and derivation), without fighting.
    Roster BuildRoster(const QStringList& paths);

private:
    void say(BattleEvent event, const MessageArgs& args, float wait, std::int32_t left);
    // The message of an event whose text was taken before the state changed.
    void tell(BattleEvent event, const QString& text, float wait, std::int32_t left);
    void Victory(Roster& roster);
    void Defeat(Roster& roster);
    [[nodiscard]] bool growCharacterFile(const CharaRecord& chara, std::int32_t gain);

    BattleView& m_view;
    BattleOptions m_options;
    BattleReport m_report;
    CharaLock m_lock;
    std::unique_ptr<HistoryWriter> m_history;
};

} // namespace dm
