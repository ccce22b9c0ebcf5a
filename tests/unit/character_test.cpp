// Derivation of combatants from files, the item table, the character file's
// check header and the making of a character.
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "character/MakeChara.h"
#include "services/HomeFolder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace dm;
using namespace dm::test;

namespace {

using test::PrintTo;

struct Derivation {
    const char *name, *file;
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
    const QFileInfo info(dir.filePath(QString::fromUtf8(c.file)));
    writeFileOfSize(info.filePath(), c.size);
    CharaRecord chara, item;
    ASSERT_EQ(LoadChara(info.filePath(), chara, item), 0);
    EXPECT_EQ(chara, (CharaRecord{info.completeBaseName(), c.level, c.maxVit, c.maxVit, c.str, c.def, c.agi, c.luck,
                                  c.itemNo, QString::fromUtf8(c.item), info.suffix().toUpper(),
                                  static_cast<int>(c.size), dir.path() + u'/', c.levelStep, info.filePath()}));
    EXPECT_EQ(item.Item, chara.Item);
    EXPECT_EQ(NextLevelExperience(chara), c.nextLevel);
}

INSTANTIATE_TEST_SUITE_P(Files, DerivationTest, ::testing::Values(
    Derivation{"Level1", "Hero.dmf", 1000, 1, 134, 150, 43, 169, 11, 999, "Cape", 1179, 1179},
    Derivation{"Level3", "Hero.dmf", 5000, 3, 373, 159, 51, 175, 23, 999, "Cape", 1179, 7074},
    Derivation{"Level6", "Hero.dmf", 20000, 6, 555, 171, 65, 193, 39, 999, "Cape", 1179, 24759},
    Derivation{"ExtensionInCapitals", "readme.tXt", 3000, 2, 276, 85, 101, 89, 91, 433, "Flame Blade", 1214, 3642},
    // One step exactly reaches level 2; a byte less does not.
    Derivation{"ExactlyOneStep", "Hero.dmf", 1179, 2, 134 + 63, 150 + 1, 43 + 2, 169 + 4, 11 + 8, 999, "Cape", 1179,
               3537},
    Derivation{"OneByteShort", "Hero.dmf", 1178, 1, 134, 150, 43, 169, 11, 999, "Cape", 1179, 1179},
    Derivation{"Empty", "Hero.dmf", 0, 1, 134, 150, 43, 169, 11, 999, "Cape", 1179, 1179},
    Derivation{"EmptyName", ".dmf", 10, 1, 62, 126, 85, 127, 63, 317, "", 1179, 1179}, // digits 0 9 2 7 4 5 6 3
    // Code page 932 bytes 83 81 83 82 give the digits 3 3 3 0 7 2 9 0.
    Derivation{"JapaneseName", "メモ", 1, 1, 98, 34, 134, 33, 97, 590, "", 1000, 1000}), CaseName());

TEST(Derivation, NamesThatGiveTheSameCombatant)
{
    // Only the first eight name bytes count; what code page 932 cannot hold
    // counts as '?'.
    QTemporaryDir dir;
    using Names = std::pair<const char*, const char*>;
    for (const auto& [a, b] : {Names{"abcdefgh.txt", "abcdefghXYZ-long-name.txt"}, Names{"?.txt", "\U0001F600.txt"}}) {
        CharaRecord first, second, item;
        writeFileOfSize(dir.filePath(QString::fromUtf8(a)), 4000);
        writeFileOfSize(dir.filePath(QString::fromUtf8(b)), 4000);
        ASSERT_EQ(LoadChara(dir.filePath(QString::fromUtf8(a)), first, item), 0);
        ASSERT_EQ(LoadChara(dir.filePath(QString::fromUtf8(b)), second, item), 0);
        EXPECT_EQ(second.Name + QStringLiteral(".txt"), QString::fromUtf8(b)) << "the name stays whole";
        std::tie(second.Name, second.FileName) = std::tie(first.Name, first.FileName);
        EXPECT_EQ(first, second) << b;
    }
}

TEST(Derivation, FolderMissingAndDanglingLeaveRecordsAlone)
{
    QTemporaryDir dir;
    const QString dangling = dir.filePath(QStringLiteral("dangling.txt"));
    ASSERT_EQ(::symlink("/nonexistent", QFile::encodeName(dangling).constData()), 0);
    const QString gone = dir.filePath(QStringLiteral("gone"));
    for (const QString& p : {dir.path(), dir.path() + u'/', gone, dangling, QString()}) {
        CharaRecord chara, item;
        chara.Name = item.Item = QStringLiteral("kept");
        EXPECT_EQ(LoadChara(p, chara, item), -1) << p.toStdString();
        EXPECT_EQ(chara.Name + item.Item, QStringLiteral("keptkept")) << p.toStdString();
    }
}

TEST(Derivation, LevelStepOfTheTribe)
{
    // The last byte never counts; 65 * 1.5 = 97.5 rounds to even; code page
    // 932 byte B1 counts as 177, not as -79.
    const struct { const char* tribe; int step; } rows[] = {
        {"", 1000}, {"A", 1000}, {"AB", 1098}, {"HTML", 1331}, {"ABCDE", 1230}, {"ｱA", 1266}};
    for (const auto& row : rows)
        EXPECT_EQ(LevelStepOf(QString::fromUtf8(row.tribe)), row.step) << row.tribe;
}

TEST(Derivation, HugeSizesStayInRange)
{
    QTemporaryDir dir; // a 3 GiB sparse file saturates at the largest 32-bit size
    QFile f(dir.filePath(QStringLiteral("big.iso")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(qint64{3} << 30));
    CharaRecord chara, item;
    ASSERT_EQ(LoadChara(f.fileName(), chara, item), 0);
    EXPECT_EQ(chara.Experience, 2147483647);
    EXPECT_GT(chara.Level, 1000);
    EXPECT_GT(NextLevelExperience(chara), chara.Experience);
}

TEST(ItemTable, NumbersPickTheirRow)
{
    // Ends of a range, single numbers, gaps between them; bonuses count on top of 100 percent.
    const struct { int itemNo; const char* name; QList<int> percent; } rows[] = {
        {990, "Cape", {100, 105, 100, 100}}, {989, "Iron Helm", {100, 115, 100, 100}},
        {0, "Small Shield", {100, 115, 100, 100}}, {885, "Iron Hammer", {135, 100, 95, 100}},
        {871, "", {100, 100, 100, 100}}, {888, "Touhu", {0, 100, 100, 100}},
    };
    for (const auto& row : rows) {
        CharaRecord chara;
        chara.ItemNo = row.itemNo;
        const CharaRecord item = PickItem(chara);
        EXPECT_EQ(item.Item, QString::fromLatin1(row.name)) << row.itemNo;
        EXPECT_EQ((QList<int>{item.Strength, item.Defense, item.Agility, item.Luck}), row.percent) << row.itemNo;
    }
}

TEST(ItemTable, NoNumberMatchesTwoRows)
{
    std::set<int> seen;
    for (const ItemRow& row : ItemTable()) {
        ASSERT_EQ(row.numbers.size() % 2, 0U) << row.name;
        for (size_t i = 0; i < row.numbers.size(); i += 2)
            for (int n = row.numbers[i]; n <= row.numbers[i + 1]; ++n)
                EXPECT_TRUE(seen.insert(n).second) << n << " " << row.name;
    }
}

TEST(ItemTable, RandomItemsDrawTheirBonuses)
{
    const struct { int itemNo; std::initializer_list<float> draws; QList<int> percent; } rows[] = {
        {9, {0.0F}, {200, 100, 100, 100}}, {228, {0.125F}, {200, 100, 100, 100}}, // 0.5 rounds to 0
        {9, {0.25F}, {100, 200, 100, 100}}, {9, {0.375F}, {100, 100, 200, 100}},  // 1.5 rounds to 2
        {9, {0.625F}, {100, 100, 200, 100}}, {9, {0.75F}, {100, 100, 100, 200}},  // 2.5 rounds to 2
        {9, {0.96875F}, {50, 50, 50, 50}}, {20, {0.125F, 0.375F, 0.625F, 0.875F}, {62, 88, 112, 138}},
        {20, {0.0F, 0.99F, 0.5F, 0.0F}, {50, 149, 100, 50}},
    };
    for (const auto& row : rows) {
        ScriptedRandom rnd(row.draws);
        CharaRecord chara;
        chara.ItemNo = row.itemNo;
        const CharaRecord item = PickItem(chara);
        EXPECT_EQ(rnd.drawn(), static_cast<int>(row.draws.size())) << row.itemNo;
        EXPECT_EQ((QList<int>{item.Strength, item.Defense, item.Agility, item.Luck}), row.percent)
            << row.itemNo << " " << *row.draws.begin();
    }
}

TEST(EffectiveParameter, RoundsHalfToEven)
{
    const struct { int percent, base, expected; } rows[] = {{115, 45, 52}, {50, 45, 22}, {50, 7, 4}, {50, 5, 2},
        {0, 150, 0}, {105, 43, 45}, {300, 175, 525}, {10, 4, 0}, {100, 0, 0}};
    for (const auto& row : rows)
        EXPECT_EQ(EffectiveParameter(row.percent, row.base), row.expected) << row.percent << "% of " << row.base;
}

// --- character file -------------------------------------------------------

TEST(CheckCharaFile, AcceptsOnlyAMatchingHeader)
{
    QTemporaryDir dir;
    const struct { const char* name; QByteArray contents; bool valid; } rows[] = {
        {"stamped 1000", stampedChara(1000), true},
        // What the header of every 1000-byte character file ever made starts with.
        {"made earlier", QByteArray("\x92\x7A\x65", 3) + QByteArray(997, 'f'), true},
        {"one byte appended", stampedChara(1000) + 'x', false},
        {"stamped 1009", stampedChara(1009), true},
        {"empty", QByteArray(), false},
        // Bytes that decode to no digit count as 0: 1009 needs 0, 0, 2.
        {"non-digit zeros", QByteArray("\xFF\x05\x62", 3) + QByteArray(1006, 'f'), true},
        {"non-digit for a needed digit", QByteArray("\x91\x71\xFF", 3) + QByteArray(1006, 'f'), false},
        {"two bytes", QByteArray("\x90\x71", 2), false},
    };
    for (const auto& row : rows) {
        writeFile(dir.filePath(QString::fromLatin1(row.name)), row.contents);
        EXPECT_EQ(CheckCharaFile(dir.filePath(QString::fromLatin1(row.name))), row.valid) << row.name;
    }
    EXPECT_FALSE(CheckCharaFile(dir.filePath(QStringLiteral("missing.dmf"))));
    EXPECT_FALSE(CheckCharaFile(dir.path()));
}

TEST(WriteCheckSum, StampsOnlyTheHeaderAndKeepsTheRest)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Hero.dmf")), link = dir.filePath(QStringLiteral("link.dmf"));
    QByteArray body(1500, '\0');
    for (int i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    writeFile(path, body);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ScriptedRandom rnd({0.0F, 0.5F, 0.9999F, 0.25F, 0.75F, 0.001F, 0.998F}, 0.5F);
    QString error;
    ASSERT_TRUE(WriteCheckSum(path, &error)) << error.toStdString();
    EXPECT_TRUE(CheckCharaFile(path));
    // A draw at or above 255.5/256 gives 255.
    EXPECT_EQ(readFile(path).mid(3), QByteArray("\x00\x80\xFF\x40\xC0\x00\xFF", 7) + body.mid(10));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640U);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1)
        << "no temporary file is left";

    // Through a link the target is stamped and the link stays a link.
    ASSERT_EQ(::symlink("Hero.dmf", QFile::encodeName(link).constData()), 0);
    writeFileOfSize(path, 1200);
    ASSERT_TRUE(WriteCheckSum(link));
    EXPECT_TRUE(QFileInfo(link).isSymLink() && CheckCharaFile(path));

    // A file that may not be written stays as it is.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    const QByteArray locked = readFile(path);
    EXPECT_FALSE(WriteCheckSum(path));
    EXPECT_EQ(readFile(path), locked);
    EXPECT_FALSE(WriteCheckSum(dir.filePath(QStringLiteral("missing.dmf"))));
}

TEST(FillerByte, CoversThirtyTwoToOneSeventyTwo)
{
    ScriptedRandom rnd({0.0F, 0.5F, 0.9999F, 0.25F});
    for (const int byte : {32, 102, 172, 67})
        EXPECT_EQ(static_cast<unsigned char>(FillerByte()), byte);
}

TEST(MakeChara, RefusesOrWritesAStampedThousandBytes)
{
    TempHome home;
    writeFileOfSize(home.file(QStringLiteral("x,y.dmf")), 5);
    writeFileOfSize(home.file(QStringLiteral("Taken.dmf")), 5);
    const QString forbidden = QStringLiteral("\\ / : , ; * ? \" < > | は、使えません");
    const QString exists = QStringLiteral("すでに存在するキャラです");
    const struct { const char* name; QString message; } rows[] = { // no message: made
        {"", QStringLiteral("名前を入力して下さい")}, {"a/b", forbidden}, {"a,b", forbidden}, {"a;b", forbidden},
        {"a|b", forbidden}, {"x,y", exists}, {"Taken", exists}, // the later check weighs more
        {"Hero", {}}, {"   ", {}}, {"勇者", {}},
    };
    for (const auto& row : rows) {
        QString path = QStringLiteral("untouched");
        bool cancel = row.message.isEmpty();
        EXPECT_EQ(MakeChara(QString::fromUtf8(row.name), path, cancel), row.message) << row.name;
        EXPECT_EQ(cancel, !row.message.isEmpty()) << row.name;
        const QString made = HomeFolder() + QLatin1Char('/') + QString::fromUtf8(row.name) + QStringLiteral(".dmf");
        EXPECT_EQ(path, row.message.isEmpty() ? made : QStringLiteral("untouched")) << row.name;
        const QByteArray bytes = readFile(made);
        const auto filler = [](char b) { return static_cast<uchar>(b) >= 32 && static_cast<uchar>(b) <= 172; };
        const bool stamped = bytes.size() == 1000 && CheckCharaFile(made);
        EXPECT_TRUE(!row.message.isEmpty() || (stamped && std::all_of(bytes.begin() + 10, bytes.end(), filler)))
            << row.name;
    }
    EXPECT_EQ(readFile(home.file(QStringLiteral("Taken.dmf"))).size(), 5);
}

} // namespace
