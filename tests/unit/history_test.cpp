// The battle history and restoring a battle through dustmaw-cli as users run it; the record's reader on damaged bytes.
#include "battle/History.h"
#include "character/CharaFile.h"
#include "character/CharaLock.h"
#include "support/TestSupport.h"

#include <QRegularExpression>

#include <functional>

#include <zlib.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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
         1, Fate::Trashed, false},
        // Skipped whole, without holding it: then the record reads on.
        {"overlong line", head + QByteArray(3 << 20, '{') + '\n' + bytes.mid(head.size()), 1, Fate::Failed, true}};
    const auto kept = [](const HistoryFile& h) { return std::tuple(h.slot.name, h.mtimeNs, h.id); };
    const TempHome home;
    makeDir(HistoryFolder());
    for (const auto& row : rows) {
        const std::optional<BattleRecord> read = ParseBattleRecord(row.bytes);
        ASSERT_TRUE(read && read->files.size() >= 2) << row.name;
        writeFile(BattleRecordPath(7), row.bytes); // read from disk a buffer at a time, the same
        const std::optional<BattleRecord> fromDisk = ReadBattleRecord(7);
        EXPECT_TRUE(fromDisk && SerializeBattleRecord(*fromDisk) == SerializeBattleRecord(*read)
                    && fromDisk->badLines == read->badLines) << row.name;
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

// The history folder on a tmpfs of its own while alive, when this is root and may mount one.
struct SmallDisk {
    explicit SmallDisk(const QString& folder)
        : at(makeDir(folder, 0700)),
          mounted(::geteuid() == 0 && ::mount("tmpfs", native(at).constData(), "tmpfs", 0, "size=256k") == 0)
    {
    }
    ~SmallDisk() { EXPECT_TRUE(!mounted || ::umount2(native(at).constData(), MNT_DETACH) == 0); }
    // Fills it but for `pages` free pages, or frees it.
    void leave(std::optional<int> pages) const
    {
        QFile::remove(filler);
        struct statvfs fs {};
        ASSERT_EQ(::statvfs(native(at).constData(), &fs), 0);
        if (pages)
            writeFile(filler, QByteArray(static_cast<qsizetype>((fs.f_bavail - static_cast<unsigned>(*pages)) * fs.f_frsize), 'f'));
    }
    const QString at;
    const bool mounted;
    const QString filler = at + u"/.filler"_s;
};

int count(const QByteArray& text, const char* what) { return static_cast<int>(text.count(what)); }

// A file moves only once the record says where: on a full disk what the record cannot hold stays in place, and
// what the tool says, the history and the Trash agree; a restore that cannot be recorded moves nothing.
TEST_F(HistoryCli, AFullDiskNeverLies)
{
    const SmallDisk disk(home.file(u"history"_s));
    if (!disk.mounted)
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    QStringList many;
    for (int k = 0; k < 40; ++k)
        writeFile(many.emplace_back(home.file(u"enemies/m%1.txt"_s.arg(k, 2, 10, QLatin1Char('0')))), "m");
    const struct { const char* name; int pages; bool restoreOnFullDisk; } rows[] = {
        {"room for a few lines", 2, false}, {"no room for the first line", 0, false},
        {"full during the restore", 30, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        writeFile(hero, stampedChara(200000)); // strong enough to beat them all
        disk.leave(row.pages);
        const ProcessResult fought = fight(1, many);
        const QStringList inTrash = trash("files");
        const int heroGone = QFile::exists(hero) ? 0 : 1;
        EXPECT_EQ(inTrash.isEmpty(), row.pages == 0);
        EXPECT_EQ(inTrash.size(), count(fought.out, "  trashed: ") + heroGone) << fought.out.toStdString();
        const bool full = row.pages < 30;
        EXPECT_EQ(std::pair(fought.out.contains("left in place (not recorded in the history"),
                            fought.err.contains("No space left on device")),
                  std::pair(full, full)) << fought.err.toStdString();
        const QByteArray listed = runCli({u"history"_s, u"--json"_s}).out;
        EXPECT_EQ(listed.isEmpty() ? -1 : listed.count(R"("now":"in the Trash")"), row.pages == 0 ? -1 : inTrash.size())
            << listed.toStdString();
        if (row.restoreOnFullDisk) {
            QFile record(BattleRecordPath(1)); // damaged: the restore has to write it whole
            ASSERT_TRUE(record.open(QIODevice::Append) && record.write("{\"torn") == 6);
            record.close();
            disk.leave(0);
            const ProcessResult refused = runCli({u"restore"_s});
            EXPECT_TRUE(refused.exitCode == 1 && refused.err.contains("could not record the restore")
                        && trash("files") == inTrash) << refused.err.toStdString();
        }
        disk.leave(std::nullopt);
        if (row.pages > 0) {
            const ProcessResult restored = runCli({u"restore"_s});
            EXPECT_TRUE(restored.exitCode == 0 && count(restored.out, "restored: ") == inTrash.size())
                << restored.out.toStdString() << restored.err.toStdString();
        }
        EXPECT_EQ(trash("files") + trash("info"), QStringList());
        for (const QString& path : enemies + many)
            EXPECT_EQ(readFile(path), QFileInfo(path).fileName().left(1).toUtf8()) << path.toStdString();
        std::ignore = QDir(disk.at).removeRecursively(); // all but the mount point
    }
}

// On the way back every folder must be the user's or root's: one that someone else made at the path, or their
// link, is not entered, and the file stays in the Trash. A folder made again is private.
TEST_F(HistoryCli, RestoreGoesOnlyThroughTheUsersFolders)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make entries of another user";
    const QString folder = home.file(u"enemies"_s), theirs = home.file(u"theirs"_s);
    const auto give = [](const QString& path) { return ::lchown(native(path).constData(), 12345, 12345) == 0; };
    const struct { const char* name; std::function<bool()> meanwhile; int exit; const char* says; } rows[] = {
        {"made again", [] { return true; }, 0, "restored: "},
        {"another user's folder", [&] { return give(makeDir(folder, 0755)); }, 1, "belongs to another user"},
        {"another user's link", [&] { return give(makeDir(theirs, 0777)) && give(makeLink(theirs, folder)); }, 1,
         "symbolic link another user made"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        makeEnemies();
        ASSERT_EQ(fight(1).exitCode, 0);
        ASSERT_TRUE(QDir(folder).removeRecursively() && row.meanwhile());
        const ProcessResult r = runCli({u"restore"_s});
        EXPECT_TRUE(r.exitCode == row.exit && (r.out + r.err).contains(row.says)) << (r.out + r.err).toStdString();
        EXPECT_EQ(trash("files").size(), row.exit == 0 ? 0 : 3);
        EXPECT_EQ(QDir(theirs).entryList(QDir::Files), QStringList());
        struct stat st {};
        EXPECT_TRUE(row.exit != 0 || (::lstat(native(folder).constData(), &st) == 0 && (st.st_mode & 07777) == 0700));
        ASSERT_TRUE(QDir(home.file(u"xdg/Trash"_s)).removeRecursively());
        ASSERT_TRUE(QFile::remove(folder) || QDir(folder).removeRecursively()); // a link, or a folder
    }
}

// A record moves only a real Trash entry it can verify: with no device and inode, in a folder that is no Trash,
// or with a NUL that would cut the path short, nothing moves and no info file goes.
TEST_F(HistoryCli, RestoreActsOnlyOnRealTrashEntries)
{
    const QString fake = makeDir(home.file(u"notrash"_s)), victim = makeDir(home.file(u"victim"_s));
    makeDir(fake + u"/files"_s), makeDir(fake + u"/info"_s);
    const QString entry = makeFile(fake + u"/files/x"_s, "x"), info = makeFile(fake + u"/info/x.trashinfo"_s, "i");
    const struct { const char* name; TrashSlot slot; FileId id; } rows[] = {
        {"no device and inode", {fake, u"x"_s}, {}},
        {"no trash folder", {fake, u"x"_s}, fileIdAt(entry)},
        {"NUL in the trash path", {victim + QChar(u'\0') + u"/t"_s, u"x"_s}, fileIdAt(victim)}};
    makeDir(home.file(u"history"_s));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        BattleRecord r;
        std::tie(r.number, r.startedMs, r.endedMs, r.chara) = std::tuple(1, 1, 2, hero);
        r.files.resize(2);
        std::tie(r.files[0].path, r.files[1].index, r.files[1].path) = std::tuple(hero, 1, home.file(u"back/x"_s));
        std::tie(r.files[1].fate, r.files[1].slot, r.files[1].id) = std::tuple(Fate::Trashed, row.slot, row.id);
        writeFile(BattleRecordPath(1), SerializeBattleRecord(r));
        const ProcessResult restored = runCli({u"restore"_s, u"1"_s});
        EXPECT_TRUE(QFile::exists(entry) && QFile::exists(info) && QFileInfo(victim).isDir()
                    && !QFile::exists(home.file(u"back"_s))) << (restored.out + restored.err).toStdString();
    }
}

// A kill between a move and its info file leaves an info file without its entry; the next restore or battle
// removes it, and no info file a record does not account for.
TEST_F(HistoryCli, TheNextRestoreOrBattleClearsWhatAKillLeft)
{
    const struct { const char* name; Fate fate; QStringList restores; const char* next; } rows[] = {
        {"killed restore, then a restore", Fate::Trashed, {u""_s}, "restore"},
        {"killed battle, then a battle", Fate::Trashing, {}, "fight"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        makeEnemies();
        ASSERT_EQ(fight(1).exitCode, 0);
        std::optional<BattleRecord> r = ReadBattleRecord(1);
        ASSERT_TRUE(r && r->files.size() == 4);
        const HistoryFile& a = r->files[1];
        ASSERT_EQ(::rename(native(a.slot.filesPath()).constData(), native(a.path).constData()), 0);
        std::tie(r->files[1].fate, r->restoreFolders) = std::tuple(row.fate, row.restores);
        writeFile(BattleRecordPath(1), SerializeBattleRecord(*r));
        writeFile(BattleRecordPath(1) + u".moving"_s, {}); // as the killed process left it
        const QString foreign = makeFile(home.file(u"xdg/Trash/info/x.trashinfo"_s), "[Trash Info]\nPath=" + native(a.path) + '\n');
        const QString next = makeFile(home.file(u"next.txt"_s), "n");
        const ProcessResult done = row.next == std::string_view("restore")
            ? runCli({u"restore"_s, u"1"_s})
            : runCli({u"fight"_s, u"--chara"_s, hero, u"--wait"_s, u"0"_s, u"--seed"_s, u"1"_s, next});
        EXPECT_EQ(std::tuple(QFile::exists(a.slot.infoPath()), QFile::exists(foreign), readFile(a.path)),
                  std::tuple(false, true, QByteArray("a"))) << (done.out + done.err).toStdString();
        ASSERT_TRUE(QDir(home.file(u"xdg/Trash"_s)).removeRecursively() && QDir(HistoryFolder()).removeRecursively());
    }
}

// One restore of a battle at a time, also when the first has to write a damaged record whole.
TEST_F(HistoryCli, ASecondRestoreSaysTheFirstRuns)
{
    ASSERT_EQ(fight(1).exitCode, 0);
    for (const bool damaged : {false, true}) {
        if (damaged) {
            QFile record(BattleRecordPath(1));
            ASSERT_TRUE(record.open(QIODevice::Append) && record.write("{\"torn") == 6);
        }
        const RestoreLock first(1);
        ASSERT_TRUE(first.held());
        const ProcessResult second = runCli({u"restore"_s});
        EXPECT_TRUE(second.exitCode == 1 && second.err.contains("battle 1 is being restored")
                    && trash("files").size() == 3) << second.err.toStdString();
    }
    EXPECT_EQ(runCli({u"restore"_s}).exitCode, 0) << "the lock goes with its holder";
}

// A file named as the last record number there can be is no record, and the next battle still gets one; with no
// home folder the Trash says so, not that the file is missing.
TEST_F(HistoryCli, OddNumbersAndHomesAreNamedForWhatTheyAre)
{
    writeFile(makeDir(home.file(u"history"_s)) + u"/9223372036854775807.battle"_s, "garbage");
    ASSERT_EQ(fight(1).exitCode, 0);
    EXPECT_TRUE(runCli({u"history"_s}).out.contains("\n    1  "));
    EXPECT_EQ(runCli({u"restore"_s, u"1"_s}).exitCode, 0);
    const ScopedEnv gone("HOME", home.file(u"gone"_s).toUtf8());
    const ProcessResult fought = fight(1);
    EXPECT_TRUE(fought.out.contains("Unable to find the home folder " + native(home.file(u"gone"_s)))
                && trash("files").isEmpty()) << fought.out.toStdString();
}

} // namespace
