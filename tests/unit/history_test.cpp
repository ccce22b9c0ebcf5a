// The battle history and restoring a battle, through dustmaw-cli as a user
// runs it, and the record's reader on damaged bytes.
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
    r.number = 7;
    r.startedMs = 1000;
    r.endedMs = 2000;
    r.chara = u"/h/Hero.dmf"_s;
    r.outcome = BattleOutcome::Victory;
    for (const char* path : {"/h/Hero.dmf", "/w/a \"b\"\n.txt", "/w/c.txt"}) {
        HistoryFile f;
        f.index = static_cast<int>(r.files.size());
        f.path = QString::fromUtf8(path);
        f.mtimeNs = 1796609689478822110; // beyond a double's exact range
        f.id = {65024, 18446744073709551615ULL};
        r.files.push_back(f);
    }
    r.files[1].fate = Fate::Trashed;
    r.files[1].slot = {u"/h/.local/share/Trash"_s, u"a \"b\"\n.2.txt"_s};
    r.files[2].fate = Fate::Failed;
    r.files[2].reason = u"権限がありません"_s;
    const QByteArray bytes = SerializeBattleRecord(r);
    const QList<QByteArray> lines = bytes.split('\n');
    QByteArray flipped = bytes;
    flipped[bytes.indexOf("/w/c.txt") + 3] = 'd';
    const QByteArray journal = lines[0] + '\n' + lines[1] + '\n' + lines[2] + '\n'
        + R"({"trashing":1,"trash":"/t","name":"c.txt","dev":"1","ino":"2"})" + '\t';

    const auto sealed = [](const QByteArray& json) {
        const auto crc = ::crc32(0L, reinterpret_cast<const Bytef*>(json.constData()), static_cast<uInt>(json.size()));
        return json + '\t' + QByteArray::number(static_cast<qulonglong>(crc), 16).rightJustified(8, '0') + '\n';
    };
    const QByteArray nowhere = lines[0] + '\n' + lines[1] + '\n' + lines[2] + '\n'
        + sealed(R"({"trashing":1,"trash":"","name":"x.txt","dev":"1","ino":"2"})");

    const struct { const char* name; QByteArray bytes; int bad; Fate last; bool ended; } rows[] = {
        {"whole", bytes, 0, Fate::Failed, true},
        {"torn last line", bytes.chopped(5), 1, Fate::Failed, false},
        {"flipped byte", flipped, 1, Fate::Trashed, true}, // the third file's line is dropped
        {"torn intent", journal, 1, Fate::Trashed, false},
        // Refused whole: it used to leave its half-read trash behind.
        {"intent to no trash folder", nowhere, 1, Fate::Trashed, false}};
    for (const auto& row : rows) {
        const std::optional<BattleRecord> read = ParseBattleRecord(row.bytes);
        ASSERT_TRUE(read) << row.name;
        EXPECT_EQ(read->badLines, row.bad) << row.name;
        EXPECT_EQ(read->finished(), row.ended) << row.name;
        ASSERT_GE(read->files.size(), 2U) << row.name;
        EXPECT_EQ(read->files[1].slot.name, r.files[1].slot.name) << row.name;
        EXPECT_EQ(read->files[1].mtimeNs, r.files[1].mtimeNs) << row.name;
        EXPECT_EQ(read->files[1].id, r.files[1].id) << row.name;
        EXPECT_EQ(read->files.back().fate, row.last) << row.name;
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
    ASSERT_EQ(fight(1).exitCode, 0);
    ASSERT_EQ(trash("files").size(), 3);
    const ProcessResult listed = runCli({u"history"_s});
    EXPECT_TRUE(QString::fromUtf8(listed.out).contains(
        QRegularExpression(u"\\n +1  .{19}  Hero +victory +3 +3 +3 +0 +3\\n"_s)))
        << listed.out.toStdString();

    const ProcessResult restored = runCli({u"restore"_s});
    EXPECT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    for (const QString& p : enemies)
        EXPECT_EQ(readFile(p), QFileInfo(p).fileName().toUtf8().left(1)) << p.toStdString();
    EXPECT_EQ(QFileInfo(a).permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                                              | QFile::ReadGroup);
    struct stat st {};
    ASSERT_EQ(::lstat(native(a).constData(), &st), 0);
    EXPECT_TRUE(st.st_mtim.tv_sec == times[1].tv_sec && st.st_mtim.tv_nsec == times[1].tv_nsec);
    EXPECT_EQ(trash("files") + trash("info"), QStringList()) << "trash listings agree: the entries are gone";

    const ProcessResult again = runCli({u"restore"_s, u"1"_s});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_TRUE(again.out.contains("already restored in full")) << again.out.toStdString();
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
        if (!QFile::exists(hero))
            writeFile(hero, stampedChara(1000));
        ASSERT_EQ(fight(row.seed, row.options).exitCode, row.seed == 1 ? 0 : 2);
        if (row.seed == 2) {
            ASSERT_TRUE(QDir(home.file(u"enemies"_s)).removeRecursively());
        } else if (row.options.isEmpty()) {
            writeFile(enemies[0], "new a");
            ASSERT_TRUE(QFile::remove(home.file(u"xdg/Trash/files/b.txt"_s)));
        }
        const ProcessResult r = runCli({u"restore"_s});
        EXPECT_EQ(r.exitCode, row.exit) << r.err.toStdString();
        EXPECT_TRUE((r.out + r.err).contains(row.says)) << (r.out + r.err).toStdString();
        if (row.seed == 2) {
            EXPECT_TRUE(CheckCharaFile(hero));
            EXPECT_EQ(readFile(enemies[1]), "b") << "its folder was made again";
            EXPECT_NE(fight(2).exitCode, 1) << "the hero that came back fights again";
        } else if (row.options.isEmpty()) {
            EXPECT_TRUE(r.err.contains("left in the Trash, something else stands at " + native(enemies[0])));
            EXPECT_EQ(readFile(enemies[0]), "new a");
            EXPECT_EQ(readFile(enemies[2]), "c");
            EXPECT_TRUE(trash("files").contains(u"a.txt"_s));
        }
    }
}

TEST_F(HistoryCli, RestoreIntoAFolderAndDryRun)
{
    ASSERT_EQ(fight(1).exitCode, 0);
    const QString to = home.file(u"back"_s);
    ASSERT_TRUE(QDir().mkpath(to));
    const ProcessResult dry = runCli({u"restore"_s, u"--dry-run"_s, u"--to"_s, to});
    EXPECT_EQ(dry.exitCode, 0);
    EXPECT_EQ(trash("files").size(), 3) << "a dry run moves nothing";
    EXPECT_EQ(runCli({u"restore"_s, u"--to"_s, to}).exitCode, 0);
    EXPECT_EQ(QDir(to).entryList(QDir::Files), QStringList({u"a.txt"_s, u"b.txt"_s, u"c.txt"_s}));
    EXPECT_FALSE(QFile::exists(enemies[0]));
}

// The desktop hero and the tool on one character: the second battle waits.
TEST_F(HistoryCli, SecondBattleOnOneCharacterIsRefused)
{
    const QByteArray before = readFile(hero);
    {
        CharaLock held;
        ASSERT_TRUE(held.acquire(hero));
        const ProcessResult r = fight(1);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("is fighting another battle (process " + QByteArray::number(::getpid()) + ")"))
            << r.err.toStdString();
        EXPECT_EQ(readFile(hero), before);
        EXPECT_TRUE(QFile::exists(enemies[0]));
    }
    EXPECT_EQ(fight(1).exitCode, 0) << "the lock goes with its holder";
}

TEST_F(HistoryCli, DamagedOrFullHistoryNeverStopsABattle)
{
    const QString folder = home.file(u"history"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    BattleRecord old;
    for (old.number = 1; old.number <= kHistoryLimit; ++old.number)
        writeFile(BattleRecordPath(old.number), old.number == 5 ? QByteArray("garbage") : SerializeBattleRecord(old));
    ASSERT_EQ(fight(1).exitCode, 0);
    const QStringList kept = QDir(folder).entryList({u"*.battle"_s});
    EXPECT_EQ(kept.size(), kHistoryLimit);
    EXPECT_EQ(kept.first(), u"000002.battle"_s) << "the oldest goes whole";
    const ProcessResult r = runCli({u"history"_s});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("\n 1001  ")) << r.out.toStdString();
    EXPECT_EQ(r.err.count("\n"), 1) << "the damaged record is reported once: " << r.err.toStdString();
}

} // namespace
