#pragma once
// The battle history: one record per battle in the home folder's history
// folder, saying what became of every file the battle touched, so that any
// battle can be undone later, after a restart too.
//
// A record is a file of lines, each a JSON object followed by a tab and its
// CRC-32, only ever appended to: what goes where is written before the file
// moves, the confirmation after, and a restore adds where it put the files
// before it moves them. Each line is one write, so a kill leaves every
// earlier line intact and at most one torn line at the end, which the reader
// drops; nothing is appended after such a line (the record is then written
// aside and renamed whole). Nor does a record ever claim what the disk does
// not bear out: where it says a file went to the Trash, the file found there
// must be the one that went (same device and inode).
#include "battle/Battle.h"
#include "services/Trash.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dm {

class TrashMove;

// How many battles the history keeps; older records go whole.
inline constexpr int kHistoryLimit = 1000;

// The history folder inside the home folder.
[[nodiscard]] QString HistoryFolder();

// What the battle did with one file, as recorded.
enum class Fate {
    Untouched, // not beaten (or the battle ended before it)
    Trashing, // on its way to the Trash when the record stopped
    Trashed,
    Deleting, // being deleted when the record stopped
    Deleted,
    Vanished, // beaten, but gone before it could be disposed of
    Failed, // beaten, but its disposal was refused (reason)
    Kept, // beaten; the disposal setting keeps beaten files
};

// Where the file is now, looked up on disk.
enum class Whereabouts {
    InPlace, // at its original path, the same file
    InTrash, // in the Trash under the recorded name, the same file
    Restored, // brought back by a restore (to its path or a chosen folder)
    Deleted,
    PurgedFromTrash, // went to the Trash, no longer there (emptied, or restored and gone since)
    Unknown, // none of the above
};

struct HistoryFile {
    int index = 0; // 0 the character's own file, then the enemies in order
    QString path; // original absolute path
    std::int64_t size = 0;
    std::uint32_t mode = 0;
    std::int64_t atimeNs = 0, mtimeNs = 0, ctimeNs = 0;
    // Size, mode, times and id as the battle found them: when it disposed of
    // the file, just before, or at its end for a file it left. The id of a
    // file sent to the Trash is the id of the entry that went.
    FileId id;
    Fate fate = Fate::Untouched;
    TrashSlot slot; // Trashing, Trashed
    QString reason; // Failed
};

struct BattleRecord {
    std::int64_t number = 0;
    std::int64_t startedMs = 0; // since the epoch
    std::int64_t endedMs = 0; // 0 while running, or when it was killed
    QString chara; // the character file
    QString charaName;
    std::int16_t order = 0, style = 0, disposal = 0; // AttSr, MsgType, DeadAfter
    BattleOutcome outcome = BattleOutcome::NotFought;
    std::vector<HistoryFile> files;
    QStringList refused; // dropped but not accepted as enemies
    QStringList restoreFolders; // targets of restores so far ("" the original paths)
    int badLines = 0; // lines that could not be read

    [[nodiscard]] bool finished() const { return endedMs != 0; }
};

// Reads a record's bytes; lines that are torn, corrupt or make no sense are
// counted in badLines and skipped. nullopt when not even the header is there.
[[nodiscard]] std::optional<BattleRecord> ParseBattleRecord(const QByteArray& bytes);
// The record's final lines: what ParseBattleRecord reads back as `record`.
[[nodiscard]] QByteArray SerializeBattleRecord(const BattleRecord& record);

// Where the file of a record is now.
[[nodiscard]] Whereabouts Locate(const BattleRecord& record, const HistoryFile& file);

struct History {
    std::vector<BattleRecord> battles; // newest first
    QStringList problems; // one line per record that could not be read in full
};
// Every readable record of the history folder.
[[nodiscard]] History ReadHistory();
// One record by number; nullopt when there is none (or none readable).
[[nodiscard]] std::optional<BattleRecord> ReadBattleRecord(std::int64_t number);
[[nodiscard]] QString BattleRecordPath(std::int64_t number);
// True while the battle that writes the record still runs.
[[nodiscard]] bool BattleRunning(std::int64_t number);

// Writes a battle's record as it goes. A file may move only once the line
// that says where it goes is written: trashing() and deleting() say whether
// it is. A line that cannot be written (a full disk) is cut off again, so
// the record always ends on a whole line, and later lines try again.
class HistoryWriter {
public:
    HistoryWriter() = default;
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Creates the record with its header and every file of the roster; when
    // not even that can be written, no record is left.
    [[nodiscard]] bool begin(const Roster& roster, const QStringList& refused);
    [[nodiscard]] std::int64_t number() const { return m_record.number; }
    // Why a line could not be written (the first time); empty when all were.
    [[nodiscard]] const QString& errorString() const { return m_error; }

    // Before the move: where the file goes. False when that is not written:
    // the file must stay.
    [[nodiscard]] bool trashing(const QString& path, const TrashMove& move);
    [[nodiscard]] bool deleting(const QString& path);
    // After it.
    void disposed(const QString& path);
    void failed(const QString& path, const QString& reason);
    void vanished(const QString& path);
    void kept(const QString& path);
    // Ends the record, flushed to disk, and drops the oldest records beyond
    // kHistoryLimit.
    void end(BattleOutcome outcome);

private:
    // The roster's file at `path`; null when there is none or nothing is
    // written any more.
    [[nodiscard]] HistoryFile* entry(const QString& path);
    // Vanished or Kept: beaten, and nothing moved.
    void settled(const QString& path, Fate fate);
    // Writes the lines built so far; on failure they stay pending.
    [[nodiscard]] bool flush();
    // Writes the lines built so far, the last from `mark` an intent that is
    // dropped when it cannot be written.
    [[nodiscard]] bool flushIntent(size_t mark);
    void fail(const QString& why);

    BattleRecord m_record;
    QHash<QString, int> m_index; // path to index
    QString m_path;
    int m_fd = -1;
    off_t m_written = 0; // the whole lines in the file
    std::string m_pending; // lines not written yet: confirmations go with the next line
    QString m_error;
};

// Removes what moves cut short by a kill left in the Trash: the .trashinfo
// of an entry that a record says went there and that is now found outside
// it. Looks only at records still marked as moving files that no battle or
// restore holds any more; never at entries of other programs. Every
// battle's start does this.
void DropStaleTrashInfo();

// Restoring a battle's files.
struct RestoredFile {
    int index = 0;
    QString path; // original
    QString target; // where it goes back to
    enum Result {
        Restored,
        WouldRestore, // dry run
        AlreadyBack,
        Occupied, // something stands at the target; the file stays in the Trash
        Purged, // no longer in the Trash
        DeletedForGood,
        Failed,
    } result
        = Failed;
    QString reason;
};

struct RestoreReport {
    bool found = false; // a readable record exists
    bool running = false; // its battle still runs: nothing was done
    bool restoring = false; // another restore of it runs: nothing was done
    BattleRecord record;
    std::vector<RestoredFile> files; // every file that went to the Trash or was deleted
    int restored = 0; // now back (or would be, dry run)
    int notBack = 0; // went to the Trash and cannot come back
    bool charaBack = false; // the character's own file came back
    QString error; // why the record could not be written; without it nothing moved
    // Every file of the battle that went to the Trash is back.
    [[nodiscard]] bool complete() const { return found && !running && !restoring && notBack == 0; }
};

// Held while a battle's files are restored: one restore of a battle at a
// time, also when the first rewrites a damaged record.
class RestoreLock {
public:
    explicit RestoreLock(std::int64_t number);
    ~RestoreLock();
    RestoreLock(const RestoreLock&) = delete;
    RestoreLock& operator=(const RestoreLock&) = delete;
    [[nodiscard]] bool held() const { return m_fd >= 0; }
    // Another restore of the battle holds it.
    [[nodiscard]] bool busy() const { return m_busy; }
    [[nodiscard]] const QString& errorString() const { return m_error; }

private:
    int m_fd = -1;
    bool m_busy = false;
    QString m_error;
};

// Brings every file of battle `number` (0 the latest) still in the Trash back
// to its original path, or into `toFolder` under its own name. Nothing that
// stands at a target is ever replaced.
[[nodiscard]] RestoreReport RestoreBattle(std::int64_t number, const QString& toFolder = {}, bool dryRun = false);

// Short words for the tool's output.
[[nodiscard]] QString FateName(Fate fate);
[[nodiscard]] QString OutcomeName(BattleOutcome outcome);
[[nodiscard]] QString WhereaboutsName(Whereabouts where);

} // namespace dm
