// Derivation of combatants from files, the item table and the check header.
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace dm;
using namespace dm::test;

namespace {

struct Derivation {
    const char* file;
    qint64 size;
    int level, maxVit, str, def, agi, luck, itemNo;
    const char* item;
    int levelStep;
    qint64 nextLevel;
};

class DerivationTest : public ::testing::TestWithParam<Derivation> {};

TEST_P(DerivationTest, FileGivesItsCombatant)
{
    const Derivation& c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromUtf8(c.file));
    writeFileOfSize(path, c.size);

    CharaRecord chara;
    CharaRecord item;
    ASSERT_EQ(LoadChara(path, chara, item), 0);
    EXPECT_EQ(chara.Level, c.level);
    EXPECT_EQ(chara.MaxVitarity, c.maxVit);
    EXPECT_EQ(chara.Vitarity, c.maxVit);
    EXPECT_EQ(chara.Strength, c.str);
    EXPECT_EQ(chara.Defense, c.def);
    EXPECT_EQ(chara.Agility, c.agi);
    EXPECT_EQ(chara.Luck, c.luck);
    EXPECT_EQ(chara.ItemNo, c.itemNo);
    EXPECT_EQ(chara.Item, QString::fromUtf8(c.item));
    EXPECT_EQ(item.Item, chara.Item);
    EXPECT_EQ(chara.LevelStep, c.levelStep);
    EXPECT_EQ(chara.Experience, c.size);
    EXPECT_EQ(chara.FileName, path);
    EXPECT_EQ(chara.LongPath, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(NextLevelExperience(chara), c.nextLevel);
}

INSTANTIATE_TEST_SUITE_P(Files, DerivationTest, ::testing::Values(
    Derivation{"Hero.dmf", 1000, 1, 134, 150, 43, 169, 11, 999, "Cape", 1179, 1179},
    Derivation{"Hero.dmf", 5000, 3, 373, 159, 51, 175, 23, 999, "Cape", 1179, 7074},
    Derivation{"Hero.dmf", 20000, 6, 555, 171, 65, 193, 39, 999, "Cape", 1179, 24759},
    Derivation{"readme.txt", 3000, 2, 276, 85, 101, 89, 91, 433, "Flame Blade", 1214, 3642},
    // One step exactly reaches level 2; a byte less does not.
    Derivation{"Hero.dmf", 1179, 2, 134 + 63, 150 + 1, 43 + 2, 169 + 4, 11 + 8, 999, "Cape", 1179, 3537},
    Derivation{"Hero.dmf", 1178, 1, 134, 150, 43, 169, 11, 999, "Cape", 1179, 1179},
    Derivation{"Hero.dmf", 0, 1, 134, 150, 43, 169, 11, 999, "Cape", 1179, 1179},
    // An empty name: digits 0 9 2 7 4 5 6 3.
    Derivation{".dmf", 10, 1, 62, 126, 85, 127, 63, 317, "", 1179, 1179},
    // Code page 932 bytes 83 81 83 82 give the digits 3 3 3 0 7 2 9 0.
    Derivation{"メモ", 1, 1, 98, 34, 134, 33, 97, 590, "", 1000, 1000}));

TEST(Derivation, OnlyTheFirstEightNameBytesCount)
{
    QTemporaryDir dir;
    CharaRecord a, b, ia, ib;
    writeFileOfSize(dir.filePath(QStringLiteral("abcdefgh.txt")), 4000);
    writeFileOfSize(dir.filePath(QStringLiteral("abcdefghXYZ-long-name.txt")), 4000);
    ASSERT_EQ(LoadChara(dir.filePath(QStringLiteral("abcdefgh.txt")), a, ia), 0);
    ASSERT_EQ(LoadChara(dir.filePath(QStringLiteral("abcdefghXYZ-long-name.txt")), b, ib), 0);
    EXPECT_EQ(b.Name, QStringLiteral("abcdefghXYZ-long-name"));
    b.Name = a.Name;
    b.FileName = a.FileName;
    EXPECT_EQ(a, b);
}

TEST(Derivation, JapaneseNameUsesCodePage932Bytes)
{
    EXPECT_EQ(DigitsOf(QStringLiteral("メモ")).text(), QStringLiteral("33307290"));
    // A character code page 932 cannot hold counts as '?'.
    EXPECT_EQ(DigitsOf(QStringLiteral("\U0001F600")).text(), DigitsOf(QStringLiteral("?")).text());
}

TEST(Derivation, FolderMissingAndDanglingLeaveRecordsAlone)
{
    QTemporaryDir dir;
    ASSERT_EQ(::symlink("/nonexistent/target", QFile::encodeName(dir.filePath(QStringLiteral("dangling.txt"))).constData()), 0);
    const QString paths[] = {dir.path(), dir.path() + QLatin1Char('/'), dir.filePath(QStringLiteral("missing.txt")),
                             dir.filePath(QStringLiteral("dangling.txt")), QString()};
    for (const QString& p : paths) {
        CharaRecord chara;
        chara.Name = QStringLiteral("kept");
        CharaRecord item;
        item.Item = QStringLiteral("kept");
        EXPECT_EQ(LoadChara(p, chara, item), -1) << p.toStdString();
        EXPECT_EQ(chara.Name, QStringLiteral("kept"));
        EXPECT_EQ(item.Item, QStringLiteral("kept"));
    }
}

TEST(Derivation, TribeOfZeroToFiveLetters)
{
    const struct {
        const char* tribe;
        int step;
    } cases[] = {
        {"", 1000},
        {"A", 1000},          // the only byte is the last one, never used
        {"AB", 1098},         // 65 * 1.5 = 97.5 rounds to even
        {"DMF", 1179},
        {"TXT", 1214},
        {"HTML", 1331},
        {"ABCDE", 1230},      // 97.5 + 66 + 120.6 - 54.4
    };
    for (const auto& c : cases)
        EXPECT_EQ(LevelStepOf(QString::fromLatin1(c.tribe)), c.step) << c.tribe;

    QTemporaryDir dir;
    writeFileOfSize(dir.filePath(QStringLiteral("x.tXt")), 1);
    CharaRecord chara, item;
    ASSERT_EQ(LoadChara(dir.filePath(QStringLiteral("x.tXt")), chara, item), 0);
    EXPECT_EQ(chara.Tribe, QStringLiteral("TXT"));
    EXPECT_EQ(chara.LevelStep, 1214);
}

TEST(Derivation, HugeSizesStayInRange)
{
    // A 2 GiB sparse file saturates at the largest 32-bit size.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.iso"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(qint64{3} << 30));
    f.close();
    CharaRecord chara, item;
    ASSERT_EQ(LoadChara(path, chara, item), 0);
    EXPECT_EQ(chara.Experience, 2147483647);
    EXPECT_GT(chara.Level, 1000);
    EXPECT_GT(NextLevelExperience(chara), chara.Experience);
}

struct ItemCase {
    int itemNo;
    const char* name;
    int str, def, agi, luck;
};

TEST(ItemTable, RowsAndTheirBoundaries)
{
    const ItemCase cases[] = {
        {999, "Cape", 100, 105, 100, 100},       {990, "Cape", 100, 105, 100, 100},
        {989, "Iron Helm", 100, 115, 100, 100},  {980, "Iron Helm", 100, 115, 100, 100},
        {979, "Chain Armor", 100, 115, 100, 100},{0, "Small Shield", 100, 115, 100, 100},
        {1, "", 100, 100, 100, 100},             {889, "", 100, 100, 100, 100},
        {890, "Speed Boots", 100, 100, 115, 100},{909, "Axe", 125, 100, 100, 100},
        {870, "Iron Hammer", 135, 100, 95, 100}, {885, "Iron Hammer", 135, 100, 95, 100},
        {871, "", 100, 100, 100, 100},           {751, "Iron Helm", 105, 130, 100, 100},
        {766, "Iron Helm", 105, 130, 100, 100},  {752, "", 100, 100, 100, 100},
        {730, "Gold Crown", 110, 110, 110, 110}, {735, "", 100, 100, 100, 100},
        {832, "Shadow Ruuner", 100, 100, 135, 90}, {4, "SEKITOBA", 100, 100, 300, 50},
        {99, "SEKITOBA", 100, 100, 300, 50},     {5, "", 100, 100, 100, 100},
        {413, "MiND BReaKeR", 300, 50, 100, 50}, {414, "Flame Blade", 140, 120, 100, 100},
        {295, "MiND BReaKeR", 300, 50, 100, 50}, {296, "GIGA BREAKS", 170, 100, 100, 90},
        {245, "Z Sword", 220, 90, 90, 90},       {182, "Diamond Armor", 100, 300, 50, 100},
        {16, "Paragon Wing", 105, 105, 200, 105},{53, "Blessed Ring", 200, 200, 200, 200},
        {222, "Big Stone", 100, 100, 0, 100},    {333, "#Div/0!", 10, 10, 10, 10},
        {555, "God Pinkie", 10, 50, 50, 300},    {888, "Touhu", 0, 100, 100, 100},
        {777, "Miracle Amulet", 100, 100, 100, 100}, {317, "", 100, 100, 100, 100},
    };
    for (const ItemCase& c : cases) {
        CharaRecord chara;
        chara.ItemNo = c.itemNo;
        const CharaRecord item = PickItem(chara);
        EXPECT_EQ(item.Item, QString::fromLatin1(c.name)) << c.itemNo;
        EXPECT_EQ(item.Strength, c.str) << c.itemNo;
        EXPECT_EQ(item.Defense, c.def) << c.itemNo;
        EXPECT_EQ(item.Agility, c.agi) << c.itemNo;
        EXPECT_EQ(item.Luck, c.luck) << c.itemNo;
        EXPECT_EQ(item.Level, 0);
        EXPECT_TRUE(item.Name.isEmpty());
    }
}

TEST(ItemTable, NoNumberMatchesTwoRows)
{
    std::set<int> seen;
    int listed = 0;
    for (const ItemRow& row : ItemTable()) {
        ASSERT_EQ(row.numbers.size() % 2, 0U) << row.name;
        for (size_t i = 0; i < row.numbers.size(); i += 2) {
            ASSERT_LE(row.numbers[i], row.numbers[i + 1]) << row.name;
            for (int n = row.numbers[i]; n <= row.numbers[i + 1]; ++n) {
                EXPECT_TRUE(seen.insert(n).second) << n << " " << row.name;
                ++listed;
            }
        }
    }
    EXPECT_EQ(ItemTable().size(), 60U);
    // 11 ranges of ten; 7 rows of four numbers, 26 of two; 16 single numbers.
    EXPECT_EQ(listed, 110 + 28 + 52 + 16);
}

TEST(ItemTable, RandomItemsDrawTheirBonuses)
{
    const struct {
        int itemNo;
        std::initializer_list<float> draws;
        int str, def, agi, luck;
    } cases[] = {
        {9, {0.0F}, 200, 100, 100, 100},
        {228, {0.125F}, 200, 100, 100, 100},  // 0.5 rounds to 0
        {9, {0.25F}, 100, 200, 100, 100},
        {9, {0.375F}, 100, 100, 200, 100},    // 1.5 rounds to 2
        {9, {0.625F}, 100, 100, 200, 100},    // 2.5 rounds to 2
        {9, {0.75F}, 100, 100, 100, 200},
        {9, {0.96875F}, 50, 50, 50, 50},
        {20, {0.125F, 0.375F, 0.625F, 0.875F}, 62, 88, 112, 138},
        {20, {0.0F, 0.99F, 0.5F, 0.0F}, 50, 149, 100, 50},
    };
    for (const auto& c : cases) {
        ScriptedRandom rnd(c.draws, 0.5F);
        CharaRecord chara;
        chara.ItemNo = c.itemNo;
        const CharaRecord item = PickItem(chara);
        EXPECT_EQ(rnd.drawn(), static_cast<int>(c.draws.size())) << c.itemNo;
        EXPECT_EQ(item.Strength, c.str) << c.itemNo;
        EXPECT_EQ(item.Defense, c.def) << c.itemNo;
        EXPECT_EQ(item.Agility, c.agi) << c.itemNo;
        EXPECT_EQ(item.Luck, c.luck) << c.itemNo;
    }
}

TEST(EffectiveParameter, RoundsHalfToEven)
{
    const struct {
        int percent, base, expected;
    } cases[] = {{115, 45, 52}, {50, 45, 22}, {50, 7, 4}, {50, 5, 2}, {0, 150, 0}, {105, 43, 45},
                 {300, 175, 525}, {10, 4, 0}, {100, 0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(EffectiveParameter(c.percent, c.base), c.expected) << c.percent << "% of " << c.base;
}

TEST(ByteAt, NeverReturnsTheLastByte)
{
    const QByteArray b("ABC");
    EXPECT_EQ(ByteAt(b, 1), 'A');
    EXPECT_EQ(ByteAt(b, 2), 'B');
    EXPECT_EQ(ByteAt(b, 3), 0);
    EXPECT_EQ(ByteAt(b, 0), 0);
    EXPECT_EQ(ByteAt(QByteArray(), 1), 0);
    EXPECT_EQ(ByteAt(QByteArray("\xFF\x01"), 1), 255);
}

// --- character file -------------------------------------------------------

TEST(CheckHeader, ValuesAndDigits)
{
    const struct {
        int size, value;
        unsigned char b0, b1, b2;
    } cases[] = {
        {1000, 195, 146, 122, 101},
        {1001, 202, 147, 113, 98},
        {1009, 2, 145, 113, 98},
        {0, 144, 146, 117, 100},
        {-5, (45 * 3 + 53 * 7 % 256) % 256, 0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckSum(c.size), c.value) << c.size;
        if (c.size < 0)
            continue;
        const QByteArray h = CheckHeader(c.size);
        ASSERT_EQ(h.size(), 10);
        EXPECT_EQ(static_cast<unsigned char>(h[0]), c.b0) << c.size;
        EXPECT_EQ(static_cast<unsigned char>(h[1]), c.b1) << c.size;
        EXPECT_EQ(static_cast<unsigned char>(h[2]), c.b2) << c.size;
    }
}

TEST(CheckCharaFile, AcceptsOnlyAMatchingHeader)
{
    QTemporaryDir dir;
    const auto stamped = [](int size) { return CheckHeader(size) + QByteArray(size - 10, 'f'); };
    const struct {
        const char* name;
        QByteArray contents;
        bool valid;
    } cases[] = {
        {"stamped 1000", stamped(1000), true},
        {"one byte appended", stamped(1000) + 'x', false},
        {"stamped 1009", stamped(1009), true},
        {"empty", QByteArray(), false},
        // Bytes that decode to no digit count as 0: 1009 needs 0, 0, 2.
        {"non-digit zeros", QByteArray("\xFF\x05\x62", 3) + QByteArray(1006, 'f'), true},
        {"non-digit for a needed digit", QByteArray("\x91\x71\xFF", 3) + QByteArray(1006, 'f'), false},
        {"two bytes", QByteArray("\x90\x71", 2), false},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".dmf"));
        writeFile(path, c.contents);
        EXPECT_EQ(CheckCharaFile(path), c.valid) << c.name;
    }
    EXPECT_FALSE(CheckCharaFile(dir.filePath(QStringLiteral("missing.dmf"))));
    EXPECT_FALSE(CheckCharaFile(dir.path()));
}

TEST(WriteCheckSum, StampsOnlyTheHeaderAndKeepsTheRest)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Hero.dmf"));
    QByteArray body(1500, '\0');
    for (int i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    writeFile(path, body);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);

    ScriptedRandom rnd({0.0F, 0.5F, 0.9999F, 0.25F, 0.75F, 0.001F, 0.998F});
    QString error;
    ASSERT_TRUE(WriteCheckSum(path, &error)) << error.toStdString();
    const QByteArray after = readFile(path);
    ASSERT_EQ(after.size(), body.size());
    EXPECT_EQ(after.mid(10), body.mid(10));
    EXPECT_EQ(after.left(3), CheckHeader(1500).left(3));
    const unsigned char expectedRandom[] = {0, 128, 255, 64, 192, 0, 255};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(static_cast<unsigned char>(after[3 + i]), expectedRandom[i]) << i;
    EXPECT_TRUE(CheckCharaFile(path));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640U);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1)
        << "no temporary file is left behind";
}

TEST(WriteCheckSum, ThroughALinkKeepsTheLink)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("real.dmf"));
    const QString link = dir.filePath(QStringLiteral("link.dmf"));
    writeFileOfSize(target, 1200);
    ASSERT_EQ(::symlink("real.dmf", QFile::encodeName(link).constData()), 0);
    ASSERT_TRUE(WriteCheckSum(link));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(CheckCharaFile(target));
}

TEST(WriteCheckSum, RefusesAFileThatMayNotBeWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Locked.dmf"));
    const QByteArray body(1000, 'q');
    writeFile(path, body);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    EXPECT_FALSE(WriteCheckSum(path));
    EXPECT_EQ(readFile(path), body);
    EXPECT_FALSE(WriteCheckSum(dir.filePath(QStringLiteral("missing.dmf"))));
}

TEST(FillerByte, CoversThirtyTwoToOneSeventyTwo)
{
    ScriptedRandom rnd({0.0F, 0.5F, 0.9999F, 0.25F});
    EXPECT_EQ(static_cast<unsigned char>(FillerByte()), 32);
    EXPECT_EQ(static_cast<unsigned char>(FillerByte()), 102);
    EXPECT_EQ(static_cast<unsigned char>(FillerByte()), 172);
    EXPECT_EQ(static_cast<unsigned char>(FillerByte()), 67);
}

} // namespace
