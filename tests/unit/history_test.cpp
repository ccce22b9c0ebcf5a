// The battle history and restoring a battle through dustmaw-cli as users run it; the record's reader on damaged bytes.
#include "battle/History.h"
#include "character/CharaFile.h"
#include "character/CharaLock.h"
#include "support/TestSupport.h"

#include <QRegularExpression>

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace dm;
using namespace dm::test;

namespace {

TEST(HistoryRecord, ReadsWhatSurvivesTearsAndCorruption)
{
    BattleRecord r;
    std::tie(r.number, r.startedMs, r.endedMs, r.chara, r.outcome) =
        std::tuple(7, 1000, 2000, u"/h/Hero.dmf"_s, BattleOutcome::Victory);
    HistoryFile f;
    f.mtimeNs = 1796609689478822110; // beyond a double's exact range
    f.id = {65024, 18446744073709551615ULL};
    for (const char* path : {"/h/Hero.dmf", "/w/a \"b\"\n.txt", "/w/c.txt"}) {
        std::tie(f.index, f.path) = std::tuple(static_cast<int>(r.files.size()), QString::fromUtf8(path));
        r.files.push_back(f);
    }
    r.files[1].slot = {u"/h/.local/share/Trash"_s, u"a \"b\"\n.2.txt"_s};
    std::tie(r.files[1].fate, r.files[2].fate, r.files[2].reason) = std::tuple(Fate::Trashed, Fate::Failed, u"拒否"_s);
    const QByteArray bytes = SerializeBattleRecord(r);
    const QByteArray flipped = QByteArray(bytes).replace("/w/c.txt", "/w/d.txt");
    const QByteArray head = bytes.left(bytes.lastIndexOf('\n', bytes.indexOf("/w/c.txt")) + 1); // to the third file
    const QByteArray nowhere = R"({"trashing":1,"trash":"","name":"x.txt","dev":"1","ino":"2"})";
    const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(nowhere.constData()), static_cast<uInt>(nowhere.size()));
    const struct { const char* name; QByteArray bytes; int bad; Fate last; bool ended; } rows[] = {
        {"whole", bytes, 0, Fate::Failed, true},
        {"torn last line", bytes.chopped(5), 1, Fate::Failed, false},
        {"flipped byte", flipped, 1, Fate::Trashed, true}, // the third file's line is dropped
        {"torn intent", head + R"({"trashing":1,"trash":"/t","name":"c.txt","dev":"1","ino":"2"})" + '\t', 1,
         Fate::Trashed, false},
        // Refused whole, though sealed: it used to leave its half-read trash behind.
        {"intent to no trash folder", head + nowhere + '\t' + QByteArray::number(crc, 16).rightJustified(8, '0') + '\n',
         1, Fate::Trashed, false}};
    const auto kept = [](const HistoryFile& h) { return std::tuple(h.slot.name, h.mtimeNs, h.id); };
    for (const auto& row : rows) {
        const std::optional<BattleRecord> read = ParseBattleRecord(row.bytes);
        ASSERT_TRUE(read && read->files.size() >= 2) << row.name;
        EXPECT_EQ(std::tuple(read->badLines, read->finished(), read->files.back().fate, kept(read->files[1])),
                  std::tuple(row.bad, row.ended, row.last, kept(r.files[1]))) << row.name;
    }
    EXPECT_EQ(SerializeBattleRecord(*ParseBattleRecord(bytes)), bytes);
    EXPECT_FALSE(ParseBattleRecord(bytes.mid(1))) << "no header, no record";
}

using HistoryCli = CliHome;

TEST_F(HistoryCli, RestoreBringsBackEveryByteModeAndTimeOnce)
{
    const QString a = chmodded(enemies[0], 0640);
    const timespec times[2] = {{0, UTIME_OMIT}, {946684800, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, native(a).constData(), times, 0), 0);
    ASSERT_TRUE(fight(1).exitCode == 0 && trash("files").size() == 3);
    const ProcessResult listed = runCli({u"history"_s});
    EXPECT_TRUE(QString::fromUtf8(listed.out).contains(
        QRegularExpression(u"\\n +1  .{19}  Hero +victory +3 +3 +3 +0 +3\\n"_s))) << listed.out.toStdString();
    const QString to = makeDir(home.file(u"back"_s));
    EXPECT_TRUE(runCli({u"restore"_s, u"--dry-run"_s, u"--to"_s, to}).exitCode == 0 && trash("files").size() == 3
                && QDir(to).isEmpty()) << "a dry run moves nothing";
    const ProcessResult restored = runCli({u"restore"_s});
    EXPECT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_EQ(readFile(a) + readFile(enemies[1]) + readFile(enemies[2]), "abc");
    struct stat st {};
    ::lstat(native(a).constData(), &st);
    EXPECT_EQ(std::tuple(st.st_mode, st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
              std::tuple(S_IFREG | 0640U, times[1].tv_sec, times[1].tv_nsec));
    EXPECT_EQ(trash("files") + trash("info"), QStringList()) << "trash listings agree: the entries are gone";
    const ProcessResult again = runCli({u"restore"_s, u"1"_s});
    EXPECT_TRUE(again.exitCode == 0 && again.out.contains("already restored in full")) << again.out.toStdString();
    EXPECT_TRUE(runCli({u"history"_s, u"--json"_s}).out.contains("\"restorable\":0,"));
}

// What cannot come back is named, and nothing that stands in the way is touched.
TEST_F(HistoryCli, RestoreKeepsWhatStandsAndSaysWhatCannotComeBack)
{
    const struct { const char* name; int seed; QStringList options; int exit; const char* says; } rows[] = {
        {"occupied and purged", 1, {}, 1, "no longer in the Trash: "},
        {"lost battle, folder gone: both come back", 2, {}, 0, "The character Hero is back: "},
        {"deleted for good", 1, {u"--delete"_s}, 0, "deleted for good, cannot come back: "}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        makeEnemies();
        ASSERT_EQ(fight(row.seed, row.options).exitCode, row.seed == 1 ? 0 : 2);
        if (row.seed == 2) {
            ASSERT_TRUE(QDir(home.file(u"enemies"_s)).removeRecursively());
        } else if (row.options.isEmpty()) {
            writeFile(enemies[0], "new a");
            ASSERT_TRUE(QFile::remove(home.file(u"xdg/Trash/files/b.txt"_s)));
        }
        const ProcessResult r = runCli({u"restore"_s});
        EXPECT_TRUE(r.exitCode == row.exit && (r.out + r.err).contains(row.says)) << (r.out + r.err).toStdString();
        if (row.seed == 2) {
            EXPECT_TRUE(CheckCharaFile(hero) && readFile(enemies[1]) == "b") << "its folder was made again";
        } else if (row.options.isEmpty()) {
            EXPECT_TRUE(r.err.contains("left in the Trash, something else stands at " + native(enemies[0])));
            EXPECT_TRUE(readFile(enemies[0]) + readFile(enemies[2]) == "new ac" && trash("files").contains(u"a.txt"_s));
        }
    }
}

// The desktop hero and the tool on one character: the second battle waits.
TEST_F(HistoryCli, SecondBattleOnOneCharacterIsRefused)
{
    CharaLock held;
    ASSERT_TRUE(held.acquire(hero));
    const ProcessResult r = fight(1);
    EXPECT_TRUE(r.exitCode == 1 && r.err.contains("another battle (process " + QByteArray::number(::getpid()) + ")"))
        << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(enemies[0])) << "nothing was fought";
    held.release();
    EXPECT_EQ(fight(1).exitCode, 0) << "the lock goes with its holder";
}

// A battle that still writes its record is not undone under it.
TEST_F(HistoryCli, ARunningBattleIsNotRestored)
{
    Roster roster(2);
    std::tie(roster[0].FileName, roster[1].FileName) = std::tuple(hero, enemies[0]);
    HistoryWriter battle;
    ASSERT_TRUE(battle.begin(roster, {}));
    EXPECT_TRUE(RestoreBattle(battle.number()).running);
    battle.end(BattleOutcome::Victory);
    EXPECT_FALSE(RestoreBattle(battle.number()).running);
}

TEST_F(HistoryCli, DamagedOrFullHistoryNeverStopsABattle)
{
    const QString folder = makeDir(home.file(u"history"_s));
    BattleRecord old;
    for (old.number = 1; old.number <= kHistoryLimit; ++old.number)
        writeFile(BattleRecordPath(old.number), old.number == 5 ? QByteArray("garbage") : SerializeBattleRecord(old));
    ASSERT_EQ(fight(1).exitCode, 0);
    const QStringList kept = QDir(folder).entryList({u"*.battle"_s});
    EXPECT_EQ(std::pair(kept.size(), kept.value(0)), std::pair(qsizetype{kHistoryLimit}, u"000002.battle"_s));
    const ProcessResult r = runCli({u"history"_s});
    EXPECT_TRUE(r.exitCode == 0 && r.out.contains("\n 1001  ")) << r.out.toStdString();
    EXPECT_EQ(r.err.count("\n"), 1) << "the damaged record is reported once: " << r.err.toStdString();
}

} // namespace
