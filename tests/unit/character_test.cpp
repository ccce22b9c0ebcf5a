// Derivation of combatants from files, the item table, the character file's check header and making a character.
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "character/MakeChara.h"
#include "services/HomeFolder.h"
#include "support/TestSupport.h"

using namespace dm;
using namespace dm::test;

namespace {

// The combatant a file of `size` bytes named `name` makes.
CharaRecord load(const QTemporaryDir& dir, const char* name, qint64 size)
{
    QFile f(dir.filePath(QString::fromUtf8(name)));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(size)); // sparse, so gigabytes cost nothing
    CharaRecord chara, item;
    EXPECT_EQ(LoadChara(f.fileName(), chara, item), 0);
    EXPECT_EQ(item.Item, chara.Item);
    return chara;
}

TEST(Derivation, FileGivesItsCombatant)
{
    struct Row { const char *file, *name, *tribe, *item; qint64 size; int level, maxVit, str, def, agi, luck, itemNo,
                 levelStep; std::int64_t nextLevel; };
    // The name ends at the last dot and the tribe starts after it.
    const Row rows[] = {{"readme.tXt", "readme", "TXT", "Flame Blade", 3000, 2, 276, 85, 101, 89, 91, 433, 1214, 3642},
        // One step exactly reaches level 2; a byte less does not.
        {"Hero.dmf", "Hero", "DMF", "Cape", 1179, 2, 197, 151, 45, 173, 19, 999, 1179, 3537},
        {"Hero.dmf", "Hero", "DMF", "Cape", 1178, 1, 134, 150, 43, 169, 11, 999, 1179, 1179},
        // GZ: 71 * 1.5 = 106.5 rounds to even.
        {"a.tar.gz", "a.tar", "GZ", "", 2000, 2, 209, 59, 165, 143, 51, 860, 1106, 3318},
        // An empty name gives the digits 0 9 2 7 4 5 6 3.
        {".bashrc", "", "BASHRC", "", 500, 1, 62, 126, 85, 127, 63, 317, 1256, 1256},
        {"name.", "name", "", "", 1500, 2, 175, 139, 141, 137, 75, 384, 1000, 3000},
        // Code page 932 bytes 83 81 83 82 give the digits 3 3 3 0 7 2 9 0.
        {"メモ", "メモ", "", "", 1, 1, 98, 34, 134, 33, 97, 590, 1000, 1000},
        // Pairs alike: only the first eight name bytes count; what code page 932 cannot hold counts as '?'.
        {"abcdefgh.txt", "abcdefgh", "TXT", "", 4000, 3, 312, 161, 175, 51, 73, 24, 1214, 7284},
        {"abcdefghXYZ.txt", "abcdefghXYZ", "TXT", "", 4000, 3, 312, 161, 175, 51, 73, 24, 1214, 7284},
        {"?.txt", "?", "TXT", "", 4000, 3, 476, 53, 81, 169, 53, 203, 1214, 7284},
        {"\U0001F600.txt", "\U0001F600", "TXT", "", 4000, 3, 476, 53, 81, 169, 53, 203, 1214, 7284}};
    QTemporaryDir dir;
    for (const Row& c : rows) {
        const CharaRecord chara = load(dir, c.file, c.size);
        EXPECT_EQ(std::pair(chara, NextLevelExperience(chara)),
                  std::pair(CharaRecord{QString::fromUtf8(c.name), c.level, c.maxVit, c.maxVit, c.str, c.def, c.agi,
                                        c.luck, c.itemNo, QString::fromUtf8(c.item), QString::fromUtf8(c.tribe),
                                        static_cast<int>(c.size), dir.path() + u'/', c.levelStep,
                                        dir.filePath(QString::fromUtf8(c.file))}, c.nextLevel)) << c.file;
    }
    // A 3 GiB file saturates at the largest 32-bit size.
    const CharaRecord huge = load(dir, "big.iso", qint64{3} << 30);
    EXPECT_EQ(std::pair(huge.Experience, NextLevelExperience(huge) > huge.Experience), std::pair(2147483647, true));
    // Halves round to even: the tribe's last byte never counts; 65 * 1.5 = 97.5; code page 932 byte B1 is 177, not -79.
    for (const auto& [tribe, step] : {std::pair{"A", 1000}, {"AB", 1098}, {"ABCDE", 1230}, {"ｱA", 1266}})
        EXPECT_EQ(LevelStepOf(QString::fromUtf8(tribe)), step) << tribe;
    const std::tuple<int, int, int> effective[] = {{115, 45, 52}, {50, 45, 22}, {50, 7, 4}, {10, 4, 0}};
    for (const auto& [percent, base, expected] : effective)
        EXPECT_EQ(EffectiveParameter(percent, base), expected) << percent << "% of " << base;
}

TEST(ItemTable, NumbersPickTheirRowAndRandomItemsDrawTheirBonuses)
{
    // Ends of a range, a gap and the second Iron Helm; bonuses count on top of 100 percent. Random items draw which
    // parameter gains, halves round to even.
    const struct { int itemNo; std::initializer_list<float> draws; const char* name; QList<int> percent; } rows[] = {
        {990, {}, "Cape", {100, 105, 100, 100}}, {989, {}, "Iron Helm", {100, 115, 100, 100}},
        {885, {}, "Iron Hammer", {135, 100, 95, 100}}, {871, {}, "", {100, 100, 100, 100}},
        {761, {}, "Iron Helm", {105, 130, 100, 100}}, {950, {}, "Short Bow", {115, 100, 105, 100}},
        {228, {0.0F}, "XXX Drag", {200, 100, 100, 100}},
        {9, {0.25F}, "XXX Drag", {100, 200, 100, 100}}, {9, {0.375F}, "XXX Drag", {100, 100, 200, 100}},
        {9, {0.625F}, "XXX Drag", {100, 100, 200, 100}}, {9, {0.75F}, "XXX Drag", {100, 100, 100, 200}},
        {9, {0.96875F}, "XXX Drag", {50, 50, 50, 50}},
        {20, {0.125F, 0.375F, 0.625F, 0.875F}, "Mountain Weather", {62, 88, 112, 138}},
        {20, {0.0F, 0.99F, 0.5F, 0.0F}, "Mountain Weather", {50, 149, 100, 50}}};
    for (const auto& [itemNo, draws, name, percent] : rows) {
        ScriptedRandom rnd(draws);
        CharaRecord chara;
        chara.ItemNo = itemNo;
        const CharaRecord item = PickItem(chara);
        EXPECT_EQ(std::tuple(rnd.drawn(), item.Item, QList<int>{item.Strength, item.Defense, item.Agility, item.Luck}),
                  std::tuple(int(draws.size()), QString::fromLatin1(name), percent)) << itemNo;
    }
    // Each parameter takes its own bonus: Lucky Shoes add to Luck alone.
    CharaRecord shod;
    std::tie(shod.Strength, shod.Defense, shod.Agility, shod.Luck, shod.ItemNo) = std::tuple(100, 100, 100, 100, 673);
    shod = WithItemApplied(shod, PickItem(shod));
    EXPECT_EQ((QList<int>{shod.Strength, shod.Defense, shod.Agility, shod.Luck}), (QList<int>{100, 100, 100, 140}));
}

TEST(CheckCharaFile, AcceptsOnlyAMatchingHeader)
{
    QTemporaryDir dir;
    const std::tuple<const char*, QByteArray, bool> rows[] = {{"stamped 1000", stampedChara(1000), true},
        // What the header of every 1000-byte character file ever made starts with.
        {"made earlier", QByteArray("\x92\x7A\x65", 3) + QByteArray(997, 'f'), true},
        {"one byte appended", stampedChara(1000) + 'x', false},
        // Bytes that decode to no digit count as 0: 1009 needs 0, 0, 2.
        {"non-digit zeros", QByteArray("\xFF\x05\x62", 3) + QByteArray(1006, 'f'), true},
        {"non-digit for a needed digit", QByteArray("\x91\x71\xFF", 3) + QByteArray(1006, 'f'), false},
        {"two bytes", QByteArray("\x90\x71", 2), false}};
    for (const auto& [name, contents, valid] : rows)
        EXPECT_EQ(CheckCharaFile(makeFile(dir.filePath(QString::fromLatin1(name)), contents)), valid) << name;
    EXPECT_FALSE(CheckCharaFile(dir.filePath(u"missing.dmf"_s)) || CheckCharaFile(dir.path()));
    // Grown after a victory while something else appended more: every byte stays and the header matches them.
    const QString grown = makeFile(dir.filePath(u"Hero.dmf"_s), stampedChara(1000) + QByteArray(100, 'x'));
    EXPECT_TRUE(GrowCharacterFile(grown, 1000, 50, nullptr) && QFileInfo(grown).size() == 1100 && CheckCharaFile(grown));
}

TEST(FillerByte, CoversThirtyTwoToOneSeventyTwo)
{
    ScriptedRandom rnd({0.0F, 0.5F, 0.9999F, 0.25F}); // bytes 32, 102, 172, 67
    EXPECT_EQ((std::string{FillerByte(), FillerByte(), FillerByte(), FillerByte()}), "\x20\x66\xAC\x43");
}

TEST(MakeChara, RefusesOrWritesAStampedThousandBytes)
{
    TempHome home;
    writeFileOfSize(home.file(u"x,y.dmf"_s), 5);
    // No message: made. Of a forbidden and a taken name, the later check weighs more.
    const QString forbidden = u"\\ / : , ; * ? \" < > | は、使えません"_s;
    const std::pair<const char*, QString> rows[] = {{"", u"名前を入力して下さい"_s}, {"a/b", forbidden},
        {"a;b", forbidden}, {"x,y", u"すでに存在するキャラです"_s}, {"Hero", {}}, {"   ", {}}};
    ScriptedRandom rnd({}, 0.25F); // filler bytes of 67
    for (const auto& [name, message] : rows) {
        QString path = u"untouched"_s;
        bool cancel = message.isEmpty();
        const QString said = MakeChara(QString::fromUtf8(name), path, cancel);
        const QString made = HomeFolder() + u'/' + QString::fromUtf8(name) + u".dmf"_s;
        const bool valid = CheckCharaFile(made) && readFile(made).mid(10) == QByteArray(990, 67);
        EXPECT_EQ(std::tuple(said, cancel, path, valid),
                  std::tuple(message, !message.isEmpty(), message.isEmpty() ? made : u"untouched"_s, message.isEmpty()))
            << name;
    }
    EXPECT_EQ(readFile(home.file(u"x,y.dmf"_s)).size(), 5);
}

} // namespace
