#include "character/LoadChara.h"

#include "services/Cp932.h"
#include "services/Numeric.h"
#include "services/Random.h"
#include "services/clsFile.h"

#include <cmath>
#include <cstdlib>
#include <span>

namespace dm {
namespace {

// One row of the item table: the numbers it matches (single numbers or
// inclusive ranges), its name and bonuses in percent.
struct ItemRow {
    const char* name;
    std::span<const std::int16_t> numbers; // pairs lo, hi
    std::int16_t strength, defense, agility, luck;
    enum class Random : std::uint8_t { None, XxxDrag, MountainWeather } random;
};

// Each row lists the numbers it matches as inclusive pairs (lo, hi).
constexpr std::int16_t kCape[] = {990, 999};
constexpr std::int16_t kSmallShield[] = {0, 0};
constexpr std::int16_t kIronHelm1[] = {980, 989};
constexpr std::int16_t kChainArmor[] = {970, 979};
constexpr std::int16_t kShortSword[] = {960, 969};
constexpr std::int16_t kShortBow[] = {950, 959};
constexpr std::int16_t kFieldPlate[] = {940, 949};
constexpr std::int16_t kLargeShield[] = {930, 939};
constexpr std::int16_t kNormalSword[] = {920, 929};
constexpr std::int16_t kLongBow[] = {910, 919};
constexpr std::int16_t kAxe[] = {900, 909};
constexpr std::int16_t kSpeedBoots[] = {890, 899};
constexpr std::int16_t kIronHammer[] = {870, 870, 875, 875, 880, 880, 885, 885};
constexpr std::int16_t kFullPlate[] = {851, 851, 856, 856, 861, 861, 866, 866};
constexpr std::int16_t kShadowRuuner[] = {832, 832, 837, 837, 842, 842, 847, 847};
constexpr std::int16_t kPearlAmulet[] = {813, 813, 818, 818, 823, 823, 828, 828};
constexpr std::int16_t kBasterdSword[] = {794, 794, 799, 799, 804, 804, 809, 809};
constexpr std::int16_t kKiteShield[] = {775, 775, 780, 780, 785, 785, 790, 790};
constexpr std::int16_t kIronHelm2[] = {751, 751, 756, 756, 761, 761, 766, 766};
constexpr std::int16_t kGoldCrown[] = {730, 730, 740, 740};
constexpr std::int16_t kWindTiara[] = {711, 711, 721, 721};
constexpr std::int16_t kGiantAxe[] = {692, 692, 702, 702};
constexpr std::int16_t kLuckyShoes[] = {673, 673, 683, 683};
constexpr std::int16_t kNinjaBlade[] = {654, 654, 664, 664};
constexpr std::int16_t kCrystalArmor[] = {635, 635, 645, 645};
constexpr std::int16_t kJetBoots[] = {616, 616, 626, 626};
constexpr std::int16_t kIronClaw[] = {597, 597, 607, 607};
constexpr std::int16_t kBlueRing[] = {578, 578, 588, 588};
constexpr std::int16_t kHaertOfSword[] = {530, 530, 550, 550};
constexpr std::int16_t kDeamonSpear[] = {491, 491, 511, 511};
constexpr std::int16_t kHolyLance[] = {452, 452, 472, 472};
constexpr std::int16_t kFlameBlade[] = {414, 414, 433, 433};
constexpr std::int16_t kDragonGlobe[] = {374, 374, 394, 394};
constexpr std::int16_t kDragonWing[] = {335, 335, 355, 355};
constexpr std::int16_t kGigaBreaks[] = {296, 296, 316, 316};
constexpr std::int16_t kFortuneLance[] = {257, 257, 277, 277};
constexpr std::int16_t kDeamonAxe[] = {218, 218, 238, 238};
constexpr std::int16_t kAngelWing[] = {179, 179, 199, 199};
constexpr std::int16_t kAngelLod[] = {130, 130, 150, 150};
constexpr std::int16_t kPowerAmulet[] = {100, 100, 119, 119};
constexpr std::int16_t kSekitoba[] = {4, 4, 99, 99};
constexpr std::int16_t kMindBreaker[] = {295, 295, 413, 413};
constexpr std::int16_t kDiamondArmor[] = {182, 182, 193, 193};
constexpr std::int16_t kZSword[] = {103, 103, 245, 245};
constexpr std::int16_t kXxxDrag[] = {9, 9, 228, 228};
constexpr std::int16_t kMountainWeather[] = {20, 20};
constexpr std::int16_t kParagonWing[] = {16, 16};
constexpr std::int16_t kParagonRing[] = {170, 170};
constexpr std::int16_t kParagonShield[] = {36, 36};
constexpr std::int16_t kParagonBlade[] = {6, 6};
constexpr std::int16_t kParagonAmulet[] = {148, 148};
constexpr std::int16_t kBlessedRing[] = {53, 53};
constexpr std::int16_t kWaterSuit[] = {111, 111};
constexpr std::int16_t kBigStone[] = {222, 222};
constexpr std::int16_t kDiv0[] = {333, 333};
constexpr std::int16_t kUnluckyRing[] = {444, 444};
constexpr std::int16_t kGodPinkie[] = {555, 555};
constexpr std::int16_t kRustSword[] = {666, 666};
constexpr std::int16_t kMiracleAmulet[] = {777, 777};
constexpr std::int16_t kTouhu[] = {888, 888};

using R = ItemRow::Random;
constexpr ItemRow kItems[] = {
    {"Cape", kCape, 0, 5, 0, 0, R::None},
    {"Small Shield", kSmallShield, 0, 15, 0, 0, R::None},
    {"Iron Helm", kIronHelm1, 0, 15, 0, 0, R::None},
    {"Chain Armor", kChainArmor, 0, 15, 0, 0, R::None},
    {"Short Sword", kShortSword, 15, 0, 0, 0, R::None},
    {"Short Bow", kShortBow, 15, 0, 5, 0, R::None},
    {"Field Plate", kFieldPlate, 0, 20, 0, 0, R::None},
    {"Large Shield", kLargeShield, 0, 25, 0, 0, R::None},
    {"Normal Sword", kNormalSword, 20, 0, 0, 0, R::None},
    {"Long Bow", kLongBow, 20, 0, 5, 0, R::None},
    {"Axe", kAxe, 25, 0, 0, 0, R::None},
    {"Speed Boots", kSpeedBoots, 0, 0, 15, 0, R::None},
    {"Iron Hammer", kIronHammer, 35, 0, -5, 0, R::None},
    {"Full Plate", kFullPlate, 0, 40, -10, 0, R::None},
    {"Shadow Ruuner", kShadowRuuner, 0, 0, 35, -10, R::None},
    {"Pearl Amulet", kPearlAmulet, 10, 10, 10, 0, R::None},
    {"Basterd Sword", kBasterdSword, 40, -5, -5, 0, R::None},
    {"Kite Shield", kKiteShield, 0, 35, 0, 0, R::None},
    {"Iron Helm", kIronHelm2, 5, 30, 0, 0, R::None},
    {"Gold Crown", kGoldCrown, 10, 10, 10, 10, R::None},
    {"Wind Tiara", kWindTiara, 0, 20, 10, 10, R::None},
    {"Giant Axe", kGiantAxe, 60, 0, -20, 0, R::None},
    {"Lucky Shoes", kLuckyShoes, 0, 0, 0, 40, R::None},
    {"NINJA Blade", kNinjaBlade, 35, 10, 0, -5, R::None},
    {"Crystal Armor", kCrystalArmor, 0, 35, 0, 5, R::None},
    {"Jet Boots", kJetBoots, 0, 0, 40, 0, R::None},
    {"Iron Claw", kIronClaw, 20, 15, 5, 0, R::None},
    {"Blue Ring", kBlueRing, 0, 40, 0, 0, R::None},
    {"Haert Of Sword", kHaertOfSword, 40, 0, 20, 0, R::None},
    {"Deamon Spear", kDeamonSpear, 80, 0, 0, -20, R::None},
    {"Holy Lance", kHolyLance, 50, 0, 0, 10, R::None},
    {"Flame Blade", kFlameBlade, 40, 20, 0, 0, R::None},
    {"Dragon Globe", kDragonGlobe, 60, 5, 0, -5, R::None},
    {"Dragon Wing", kDragonWing, 0, 10, 60, -10, R::None},
    {"GIGA BREAKS", kGigaBreaks, 70, 0, 0, -10, R::None},
    {"Fortune Lance", kFortuneLance, 30, 30, 0, 0, R::None},
    {"Deamon Axe", kDeamonAxe, 90, -10, 0, -20, R::None},
    {"Angel Wing", kAngelWing, 0, 0, 50, 10, R::None},
    {"Angel Lod", kAngelLod, 15, 15, 0, 30, R::None},
    {"Power Amulet", kPowerAmulet, 35, 10, 10, 5, R::None},
    {"SEKITOBA", kSekitoba, 0, 0, 200, -50, R::None},
    {"MiND BReaKeR", kMindBreaker, 200, -50, 0, -50, R::None},
    {"Diamond Armor", kDiamondArmor, 0, 200, -50, 0, R::None},
    {"Z Sword", kZSword, 120, -10, -10, -10, R::None},
    {"XXX Drag", kXxxDrag, 0, 0, 0, 0, R::XxxDrag},
    {"Mountain Weather", kMountainWeather, 0, 0, 0, 0, R::MountainWeather},
    {"Paragon Wing", kParagonWing, 5, 5, 100, 5, R::None},
    {"Paragon Ring", kParagonRing, 50, 50, 50, 50, R::None},
    {"Paragon Shield", kParagonShield, 5, 100, 5, 5, R::None},
    {"Paragon Blade", kParagonBlade, 100, 5, 5, 5, R::None},
    {"Paragon Amulet", kParagonAmulet, 5, 5, 5, 100, R::None},
    {"Blessed Ring", kBlessedRing, 100, 100, 100, 100, R::None},
    {"Water Suit", kWaterSuit, 0, 5, 0, 0, R::None},
    {"Big Stone", kBigStone, 0, 0, -100, 0, R::None},
    {"#Div/0!", kDiv0, -90, -90, -90, -90, R::None},
    {"Unlucky Ring", kUnluckyRing, 0, 0, 0, -100, R::None},
    {"God Pinkie", kGodPinkie, -90, -50, -50, 200, R::None},
    {"Rust Sword", kRustSword, -20, 0, 0, 0, R::None},
    {"Miracle Amulet", kMiracleAmulet, 0, 0, 0, 0, R::None},
    {"Touhu", kTouhu, -100, 0, 0, 0, R::None},
};

bool matches(const ItemRow& row, std::int32_t n)
{
    for (size_t i = 0; i + 1 < row.numbers.size(); i += 2) {
        if (n >= row.numbers[i] && n <= row.numbers[i + 1])
            return true;
    }
    return false;
}

// One level's growth of a parameter.
std::int32_t grow(std::int32_t x) { return x + ((x * 7) % 10) + 1; }

} // namespace

std::int16_t ByteAt(const QByteArray& bytes, int k)
{
    if (k < 1 || k > bytes.size() - 1)
        return 0;
    return static_cast<unsigned char>(bytes.at(k - 1));
}

std::int32_t LevelStepOf(const QString& tribe)
{
    const QByteArray b = toCp932(tribe);
    const double raw = ByteAt(b, 1) * 1.5 + ByteAt(b, 2) + ByteAt(b, 3) * 1.8 - ByteAt(b, 4) * 0.8;
    return 1000 + roundToInt<std::int32_t>(raw);
}

NameDigits DigitsOf(const QString& name)
{
    const QByteArray b = toCp932(name);
    NameDigits out;
    const int first = b.isEmpty() ? 0 : static_cast<unsigned char>(b.at(0));
    for (int i = 0; i < 8; ++i)
        out.d[static_cast<size_t>(i)] = i < b.size() ? static_cast<unsigned char>(b.at(i)) : 7 * i + first;
    for (int i = 0; i < 8; ++i) {
        int& v = out.d[static_cast<size_t>(i)];
        v = (v * (i % 2 == 0 ? 3 : 7)) % 10;
    }
    return out;
}

std::int32_t ItemNoOf(const NameDigits& digits)
{
    double v = 0;
    for (const int d : digits.d)
        v = v * 10 + d;
    // |sin| <= 1, so the product always fits 32 bits.
    const auto t = static_cast<std::int32_t>(std::trunc(std::sin(v) * 10000000.0));
    return std::abs(t % 1000);
}

CharaRecord PickItem(const CharaRecord& chara)
{
    CharaRecord item;
    for (const ItemRow& row : kItems) {
        if (!matches(row, chara.ItemNo))
            continue;
        item.Item = QString::fromLatin1(row.name);
        switch (row.random) {
        case ItemRow::Random::None:
            item.Strength = row.strength;
            item.Defense = row.defense;
            item.Agility = row.agility;
            item.Luck = row.luck;
            break;
        case ItemRow::Random::XxxDrag: {
            const int k = roundToInt<int>(static_cast<double>(Rnd()) * 4.0);
            switch (k) {
            case 0: item.Strength = 100; break;
            case 1: item.Defense = 100; break;
            case 2: item.Agility = 100; break;
            case 3: item.Luck = 100; break;
            default: item.Strength = item.Defense = item.Agility = item.Luck = -50; break;
            }
            break;
        }
        case ItemRow::Random::MountainWeather:
            for (std::int32_t* p : {&item.Strength, &item.Defense, &item.Agility, &item.Luck})
                *p = roundToInt<std::int32_t>(static_cast<double>(Rnd()) * 100.0) - 50;
            break;
        }
        break;
    }
    item.Strength += 100;
    item.Defense += 100;
    item.Agility += 100;
    item.Luck += 100;
    return item;
}

std::int32_t EffectiveParameter(std::int32_t percent, std::int32_t base)
{
    return roundToInt<std::int32_t>(percent / 100.0 * base);
}

CharaRecord WithItemApplied(const CharaRecord& chara, const CharaRecord& item)
{
    CharaRecord c = chara;
    c.Strength = EffectiveParameter(item.Strength, chara.Strength);
    c.Defense = EffectiveParameter(item.Defense, chara.Defense);
    c.Agility = EffectiveParameter(item.Agility, chara.Agility);
    c.Luck = EffectiveParameter(item.Luck, chara.Luck);
    return c;
}

std::int32_t LevelForExperience(std::int32_t levelStep, std::int64_t experience)
{
    std::int32_t level = 1;
    while (levelStep > 0 && std::int64_t{levelStep} * level <= experience) {
        experience -= std::int64_t{levelStep} * level;
        ++level;
    }
    return level;
}

std::int64_t NextLevelExperience(const CharaRecord& chara)
{
    const std::int64_t level = chara.Level;
    return static_cast<std::int64_t>(chara.LevelStep) * level * (level + 1) / 2;
}

std::int16_t LoadChara(const QString& path, CharaRecord& chara, CharaRecord& item)
{
    clsFile file;
    file.setFileName(path);
    // One open answers Directory, Enabled and Size together.
    return LoadChara(file, file.probe(), chara, item);
}

std::int16_t LoadChara(const clsFile& file, const clsFile::Probe& probe, CharaRecord& chara, CharaRecord& item)
{
    if (probe.isDirectory() || !probe.enabled)
        return -1;

    CharaRecord c;
    c.FileName = file.FileName();
    c.Name = file.ShortFileName();
    c.LongPath = file.LongPathName(probe);
    c.Tribe = file.Extension();
    c.Experience = probe.size();
    c.LevelStep = LevelStepOf(c.Tribe);

    const NameDigits digits = DigitsOf(c.Name);
    const auto& d = digits.d;
    c.ItemNo = ItemNoOf(digits);
    c.MaxVitarity = (d[5] + 10 - d[7]) * (d[0] + 1) + 50;
    c.Strength = (d[1] + d[7] + 1) * 10 + d[2] - d[6];
    c.Defense = (d[2] + d[6] + 1) * 10 + (9 - d[1]) - d[5];
    c.Agility = (d[3] + d[5] + 1) * 10 + d[0] - d[7];
    c.Luck = std::abs(10 - d[0] + d[6] + d[2] - d[5]) + (d[4] + 1) * 10;

    c.Level = 1;
    // 64 bits: the step times the level can pass 2^31 before rest runs out.
    std::int64_t rest = c.Experience;
    while (static_cast<std::int64_t>(c.LevelStep) * c.Level <= rest) {
        rest -= static_cast<std::int64_t>(c.LevelStep) * c.Level;
        ++c.Level;
        c.MaxVitarity += roundToInt<std::int32_t>((c.MaxVitarity % 100 + 1) * 1.8);
        c.Strength = grow(c.Strength);
        c.Defense = grow(c.Defense);
        c.Agility = grow(c.Agility);
        c.Luck = grow(c.Luck);
    }
    c.Vitarity = c.MaxVitarity;

    item = PickItem(c);
    c.Item = item.Item;
    chara = std::move(c);
    return 0;
}

} // namespace dm
