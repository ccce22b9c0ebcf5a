// Whole battles with chosen draws and no waiting: turn order, targets,
// damage, bonus experience, growth and loss of the character file, messages,
// the log and the minimised caption.
#include "battle/Battle.h"
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "character/MakeChara.h"
#include "services/Settings.h"
#include "services/HomeFolder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace dm;
using namespace dm::test;

namespace {

struct StopBattle {};

// Records what the battle shows; never waits. Can stop a battle after a
// number of messages by throwing, for looking at endless fights.
class RecordingView : public BattleView {
public:
    QStringList messages;
    QList<qint64> waits;
    QStringList log; // every call, in order
    QStringList captions;
    bool minimized = false;
    int stopAfter = -1;
    int beeps = 0;
    QStringList boxes;

    void ClearEntryList() override { log << QStringLiteral("clear"); }
    void AddEntryRow(const CharaRecord& e) override { log << QStringLiteral("add:") + e.Name; }
    void UpdateEntryRow(const CharaRecord& r, bool s) override
    {
        log << QStringLiteral("update:%1:%2:%3").arg(r.Name).arg(r.Vitarity).arg(s);
    }
    void SelectEntryRow(const CharaRecord& r, bool s) override { log << QStringLiteral("select:%1:%2").arg(r.Name).arg(s); }
    void SetEntryRowIcon(const CharaRecord& r, const QString& key) override { log << QStringLiteral("icon:%1:%2").arg(r.Name, key); }
    void ShowEntryWindow() override { log << QStringLiteral("show"); }
    void SetVitarityText(const QString& t) override { log << t; }
    void SetMessageText(const QString& t) override
    {
        messages << t;
        log << t;
    }
    bool IsMinimized() const override { return minimized; }
    void SetCaption(const QString& t) override { captions << t; }
    void Beep() override { ++beeps; }
    void ShowMessageBox(const QString& t) override { boxes << t; }
    void WaitUntil(const QDeadlineTimer& d) override
    {
        waits << (d.remainingTime() + 5) / 10 * 10;
        if (stopAfter >= 0 && messages.size() >= stopAfter)
            throw StopBattle{};
    }
};

CharaRecord fighter(const char* name, int vit, int str, int def, int agi, int luck, int level = 1)
{
    CharaRecord r;
    r.Name = QString::fromUtf8(name);
    r.MaxVitarity = r.Vitarity = vit;
    r.Strength = str;
    r.Defense = def;
    r.Agility = agi;
    r.Luck = luck;
    r.Level = level;
    return r;
}

class BattleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // GLib reads these once per process; ctest runs every case in a
        // process of its own.
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.file(QStringLiteral("xdg"))));
        qputenv("HOME", QFile::encodeName(home.path()));
        ResetSettings();
        MsgType = StyleRpg;
        LogPath.clear();
    }
    void TearDown() override { ResetSettings(); }

    // A real file for an enemy, so its disposal can be seen.
    CharaRecord enemyFile(CharaRecord r)
    {
        r.FileName = home.file(r.Name + QStringLiteral(".txt"));
        writeFileOfSize(r.FileName, 100);
        return r;
    }

    // The current character from a real, stamped character file.
    CharaRecord heroFile(int size = 1000)
    {
        const QString path = home.file(QStringLiteral("Hero.dmf"));
        writeFile(path, CheckHeader(size) + QByteArray(size - 10, 'h'));
        CharaPath = path;
        EXPECT_EQ(LoadChara(path, Chara, CharaItem), 0);
        return WithItemApplied(Chara, CharaItem);
    }

    // The acting order of the first `turns` turns: 0 the character, k enemy k.
    QList<int> turnOrder(Roster roster, int turns)
    {
        ScriptedRandom rnd({}, 0.0F); // every attack is dodged
        RecordingView view;
        view.stopAfter = 1 + 2 * turns;
        Battle battle(view, {true});
        EXPECT_THROW(battle.RunBattle(roster), StopBattle);
        QList<int> order;
        for (const QString& m : view.messages) {
            if (!m.contains(QStringLiteral(" に攻撃!")))
                continue;
            const QString who = m.section(QStringLiteral("が、"), 0, 0);
            for (size_t k = 0; k < roster.size(); ++k)
                if (roster[k].Name == who)
                    order << static_cast<int>(k);
        }
        return order.mid(0, turns);
    }

    TempHome home;
};

TEST_F(BattleTest, TurnOrderFollowsAgility)
{
    const struct {
        const char* what;
        Roster roster;
        QList<int> order;
    } cases[] = {
        {"100 against 150", {fighter("C", 999, 1, 1, 100, 0), fighter("E", 999, 1, 1, 150, 0)},
         {1, 0, 1, 1, 0, 1, 0, 1, 1, 0}},
        {"equal", {fighter("C", 999, 1, 1, 100, 0), fighter("E", 999, 1, 1, 100, 0), fighter("F", 999, 1, 1, 100, 0)},
         {0, 1, 2, 0, 1, 2, 0, 1, 2}},
        {"agility 0 never acts", {fighter("C", 999, 1, 1, 50, 0), fighter("E", 999, 1, 1, 0, 0), fighter("F", 999, 1, 1, 50, 0)},
         {0, 2, 0, 2, 0, 2}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(turnOrder(c.roster, static_cast<int>(c.order.size())), c.order) << c.what;
}

TEST_F(BattleTest, HitAndCriticalFigures)
{
    const struct {
        const char* what;
        std::initializer_list<float> draws;
        const char* damageText;
        int bonus;
    } cases[] = {
        {"normal hit", {0.5F, 0.4F, 0.5F, 0.5F}, "Eに、84のダメージを与えた!", 1},
        {"critical hit", {0.5F, 0.4F, 0.003F, 0.5F}, "Eに、128のダメージを与えた!", 0},
    };
    for (const auto& c : cases) {
        ScriptedRandom rnd(c.draws, 0.0F);
        RecordingView view;
        view.stopAfter = 4;
        Roster roster{fighter("C", 999, 150, 10, 169, 11), fighter("E", 999, 1, 45, 169, 11)};
        Battle battle(view, {true});
        EXPECT_THROW(battle.RunBattle(roster), StopBattle);
        EXPECT_TRUE(view.messages.contains(QString::fromUtf8(c.damageText))) << c.what << ": "
                                                                                 << view.messages.join(QLatin1Char('|')).toStdString();
    }
}

TEST_F(BattleTest, DamageFloorsAndDodgeOnEqualRolls)
{
    const struct {
        const char* what;
        CharaRecord chara, enemy;
        std::initializer_list<float> draws;
        const char* expected;
    } cases[] = {
        {"defense above strength does 1", fighter("C", 999, 10, 0, 100, 0), fighter("E", 999, 0, 50, 100, 0),
         {0.9F, 0.1F, 0.9F, 0.9F}, "Eに、1のダメージを与えた!"},
        {"critical may do 0", fighter("C", 999, 50, 0, 100, 1000), fighter("E", 999, 0, 100, 100, 0),
         {0.9F, 0.1F, 0.0F, 0.5F}, "Eに、0のダメージを与えた!"},
        {"equal rolls dodge", fighter("C", 999, 50, 0, 100, 0), fighter("E", 999, 0, 0, 100, 0),
         {0.5F, 0.5F}, "Eは、身をかわした!"},
    };
    for (const auto& c : cases) {
        ScriptedRandom rnd(c.draws, 0.0F);
        RecordingView view;
        view.stopAfter = 4;
        Roster roster{c.chara, c.enemy};
        Battle battle(view, {true});
        EXPECT_THROW(battle.RunBattle(roster), StopBattle);
        EXPECT_TRUE(view.messages.contains(QString::fromUtf8(c.expected))) << c.what;
    }
}

TEST_F(BattleTest, AttackOrdersPickTheirTarget)
{
    // Vitarity, Strength and Defense chosen so that every order differs.
    const Roster base{fighter("C", 999, 1, 1, 100, 0), fighter("A", 50, 10, 30, 1, 0), fighter("B", 20, 40, 30, 1, 0),
                      fighter("D", 20, 40, 5, 1, 0), fighter("F", 90, 5, 5, 1, 0)};
    const struct {
        std::int16_t order;
        std::initializer_list<float> draws;
        const char* target;
    } cases[] = {
        {0, {}, "A"},
        {1, {}, "B"},   // lowest Vitarity, the lower index among equals
        {2, {}, "B"},   // highest Strength, the lower index among equals
        {3, {}, "D"},   // lowest Defense, the lower index among equals
        {4, {0.8F}, "F"},
        {4, {0.26F}, "B"},
    };
    for (const auto& c : cases) {
        AttSr = c.order;
        ScriptedRandom rnd(c.draws, 0.0F);
        RecordingView view;
        view.stopAfter = 2;
        Roster roster = base;
        Battle battle(view, {true});
        EXPECT_THROW(battle.RunBattle(roster), StopBattle);
        ASSERT_EQ(view.messages.size(), 2);
        EXPECT_EQ(view.messages[1], QStringLiteral("Cが、%1 に攻撃!").arg(QString::fromLatin1(c.target))) << c.order;
        EXPECT_TRUE(view.log.contains(QStringLiteral("select:%1:1").arg(QString::fromLatin1(c.target)))) << c.order;
    }
}

TEST_F(BattleTest, BeatenEnemiesAreNeverTargetedAgain)
{
    // The character is fast enough to act twice before anyone else; its
    // first blow beats the first enemy.
    for (const std::int16_t order : {std::int16_t{2}, std::int16_t{4}}) {
        AttSr = order;
        // Order 4 draws the target first; 0.0 keeps picking enemy 1.
        const std::vector<float> draws = order == 4
            ? std::vector<float>{0.0F, 0.9F, 0.1F, 0.9F, 0.9F, 0.0F, 0.0F, 0.7F}
            : std::vector<float>{0.9F, 0.1F, 0.9F, 0.9F};
        ScriptedRandom rnd({}, 0.0F);
        for (const float d : draws)
            rnd.push(d);
        RecordingView view;
        view.stopAfter = 6;
        Roster roster{fighter("C", 999, 10, 0, 1000, 0), fighter("A", 1, 0, 0, 1, 0), fighter("B", 99, 0, 0, 1, 0)};
        Battle battle(view, {true});
        EXPECT_THROW(battle.RunBattle(roster), StopBattle);
        ASSERT_GE(view.messages.size(), 5) << order;
        EXPECT_EQ(view.messages[3], QStringLiteral("Aを倒した")) << order;
        EXPECT_EQ(view.messages[4], QStringLiteral("Cが、B に攻撃!")) << order;
        EXPECT_TRUE(view.log.contains(QStringLiteral("icon:A:Dead")));
    }
}

TEST_F(BattleTest, OneHitVictoryMessagesWaitsAndLog)
{
    const CharaRecord hero = heroFile();
    CharaRecord memo = enemyFile(fighter("memo", 10, 1, 0, 1, 0));
    Log = 1;
    LogPath = home.file(QStringLiteral("Hero_120000.Log"));
    MsgWait = 0.5F;
    // Hit, no critical, normal damage; then filler and header draws.
    ScriptedRandom rnd({0.9F, 0.1F, 0.9F, 0.5F}, 0.5F);
    RecordingView view;
    Roster roster{hero, memo};
    Battle battle(view);
    battle.RunBattle(roster);

    const QStringList expected = {
        QStringLiteral("## !!戦闘開始!! ##"), QStringLiteral("Heroが、memo に攻撃!"),
        QStringLiteral("memoに、%1のダメージを与えた!").arg(qRound(0.8 * 150)), QStringLiteral("memoを倒した"),
        QStringLiteral("すべての敵を倒した!"), QStringLiteral("Heroは、1の経験を得た")};
    EXPECT_EQ(view.messages, expected);
    EXPECT_EQ(view.waits, (QList<qint64>{2000, 500, 500, 500, 2000, 2000}));
    EXPECT_EQ(QString::fromUtf8(readFile(LogPath)), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    EXPECT_EQ(battle.report().outcome, BattleOutcome::Victory);
    EXPECT_FALSE(QFile::exists(memo.FileName)) << "beaten enemy's file is trashed";
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("xdg/Trash/files/memo.txt"))));
    EXPECT_EQ(QFileInfo(CharaPath).size(), 1001);
    EXPECT_TRUE(CheckCharaFile(CharaPath));
    EXPECT_EQ(Idle, kTrue);
    EXPECT_EQ(Chara.Vitarity, Chara.MaxVitarity);
}

TEST_F(BattleTest, VictoryGrowsTheCharacterFile)
{
    // The enemy hits once for `hit`, then the character beats it with a
    // critical blow: gain = hit / 2 + 3 + 3 * level difference.
    const struct {
        int strMinusDef;
        float e;
        int levelDiff;
        int gain, size, level;
        bool levelMessage;
    } cases[] = {
        {100, 0.7F, 42, 179, 1179, 2, true},
        {90, 0.8F, 40, 172, 1172, 1, false},  // 99 / 2 truncates to 49
        {100, 0.7F, 1000, 3053, 4053, 3, true},
    };
    for (const auto& c : cases) {
        CharaRecord hero = heroFile();
        hero.Agility = 100;
        hero.Luck = 10;
        hero.Strength = 500;
        hero.Defense = 0;
        hero.Vitarity = 1000;
        CharaRecord enemy = enemyFile(fighter("big", 400, c.strMinusDef, 0, 150, 0, 1 + c.levelDiff));
        ScriptedRandom rnd({0.9F, 0.1F, 0.9F, c.e, 0.9F, 0.1F, 0.0F, 0.0F}, 0.25F);
        RecordingView view;
        Roster roster{hero, enemy};
        Battle battle(view);
        battle.RunBattle(roster);
        EXPECT_EQ(battle.report().gain, c.gain);
        EXPECT_EQ(QFileInfo(CharaPath).size(), c.size);
        EXPECT_TRUE(CheckCharaFile(CharaPath));
        EXPECT_EQ(Chara.Level, c.level);
        EXPECT_EQ(Chara.Experience, c.size);
        EXPECT_EQ(view.messages.contains(QStringLiteral("Heroのレベルが%1上がった!").arg(c.level - 1)), c.levelMessage);
        // Appended bytes are filler: a 0.25 draw gives 67.
        EXPECT_EQ(readFile(CharaPath).mid(1000), QByteArray(c.gain, 67));
    }
}

TEST_F(BattleTest, VictoryLeavesAnUnwritableCharacterFileAlone)
{
    const struct {
        const char* what;
        std::function<void(const QString&)> spoil;
    } cases[] = {
        {"read-only", [](const QString& p) { ::chmod(QFile::encodeName(p).constData(), 0444); }},
        {"removed", [](const QString& p) { QFile::remove(p); }},
    };
    for (const auto& c : cases) {
        const CharaRecord hero = heroFile();
        const QByteArray before = readFile(CharaPath);
        c.spoil(CharaPath);
        ScriptedRandom rnd({0.9F, 0.1F, 0.9F, 0.5F}, 0.5F);
        RecordingView view;
        Roster roster{hero, enemyFile(fighter("memo", 1, 0, 0, 1, 0))};
        Battle battle(view);
        battle.RunBattle(roster);
        EXPECT_EQ(battle.report().outcome, BattleOutcome::Victory) << c.what;
        EXPECT_FALSE(battle.report().characterFileGrown) << c.what;
        EXPECT_FALSE(battle.report().growError.isEmpty()) << c.what;
        EXPECT_EQ(readFile(CharaPath), QFile::exists(CharaPath) ? before : QByteArray()) << c.what;
        EXPECT_EQ(QFile::exists(CharaPath), std::string(c.what) != "removed") << c.what;
        EXPECT_EQ(Chara.Experience, 1000) << c.what;
        EXPECT_EQ(Idle, kTrue);
        ::chmod(QFile::encodeName(CharaPath).constData(), 0644);
    }
}

TEST_F(BattleTest, DefeatDisposesOfTheCharacterFile)
{
    CharaRecord hero = heroFile();
    hero.Vitarity = 5;
    hero.Agility = 1;
    const CharaRecord first = enemyFile(fighter("weak", 1, 0, 0, 1, 0));
    const CharaRecord strong = enemyFile(fighter("strong", 999, 100, 0, 1, 0));
    // The character beats "weak", then "strong" hits it down.
    ScriptedRandom rnd({0.9F, 0.1F, 0.9F, 0.9F, 0.9F, 0.1F, 0.9F, 0.9F}, 0.0F);
    RecordingView view;
    Roster roster{hero, first, strong};
    const QString heroPath = CharaPath;
    Battle battle(view);
    battle.RunBattle(roster);
    EXPECT_EQ(battle.report().outcome, BattleOutcome::Defeat);
    EXPECT_EQ(view.messages.last(), QStringLiteral("Heroは、死んでしまった..."));
    EXPECT_EQ(view.waits.last(), 2000);
    EXPECT_FALSE(QFile::exists(heroPath));
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("xdg/Trash/files/Hero.dmf"))));
    EXPECT_FALSE(QFile::exists(first.FileName)) << "beaten before the defeat, stays removed";
    EXPECT_TRUE(QFile::exists(strong.FileName)) << "still standing, stays in place";
    EXPECT_TRUE(CharaPath.isEmpty());
    EXPECT_EQ(Chara, CharaRecord{});
    EXPECT_EQ(Idle, kTrue);
}

TEST_F(BattleTest, NobodyCanActWhenEveryAgilityIsZero)
{
    const CharaRecord hero = heroFile();
    CharaRecord c = hero;
    c.Agility = 0;
    const CharaRecord enemy = enemyFile(fighter("idle", 10, 1, 1, 0, 0));
    RecordingView view;
    Roster roster{c, enemy};
    Idle = kFalse;
    Battle battle(view);
    battle.RunBattle(roster);
    EXPECT_EQ(battle.report().outcome, BattleOutcome::Stalemate);
    EXPECT_TRUE(QFile::exists(enemy.FileName));
    EXPECT_EQ(QFileInfo(CharaPath).size(), 1000);
    EXPECT_EQ(Idle, kTrue);
}

TEST_F(BattleTest, BonusExperience)
{
    // The character (Agility 100) dodges a faster enemy's attack (+2), lands
    // a critical hit on it (+3) and beats it 2 levels up (+6).
    CharaRecord hero = heroFile();
    hero.Agility = 100;
    hero.Luck = 10;
    hero.Strength = 100;
    ScriptedRandom rnd({0.1F, 0.9F, 0.9F, 0.1F, 0.0F, 0.0F}, 0.5F);
    RecordingView view;
    Roster roster{hero, enemyFile(fighter("fast", 50, 10, 0, 150, 0, 3))};
    Battle battle(view, {true});
    battle.RunBattle(roster);
    EXPECT_EQ(battle.report().bonusExp, 2 + 3 + 6);
    EXPECT_EQ(battle.report().gain, 11);
    EXPECT_TRUE(view.messages.contains(QStringLiteral("Heroは、身をかわした!")));
    EXPECT_TRUE(view.messages.contains(QStringLiteral("Heroのクリティカルヒット!")));
}

TEST_F(BattleTest, MinimisedCaption)
{
    const struct {
        std::int16_t minimize;
        bool minimized;
        QStringList captions;
    } cases[] = {
        {1, true, {QStringLiteral("## !!戦闘開始!! ##"), QStringLiteral("V:87 残:1")}},
        {0, true, {QStringLiteral("## !!戦闘開始!! ##"), QStringLiteral("Cが、E に攻撃!")}},
        {1, false, {}},
    };
    for (const auto& c : cases) {
        Minimize = c.minimize;
        ScriptedRandom rnd({}, 0.0F);
        RecordingView view;
        view.minimized = c.minimized;
        view.stopAfter = 2;
        Roster roster{fighter("C", 87, 1, 1, 100, 0), fighter("E", 99, 1, 1, 1, 0)};
        Battle battle(view, {true});
        EXPECT_THROW(battle.RunBattle(roster), StopBattle);
        EXPECT_EQ(view.captions, c.captions) << c.minimize;
    }
}

TEST(BattleMessages, EveryEventInEveryStyle)
{
    MessageArgs a;
    a.chara = QStringLiteral("Hero");
    a.attacker = QStringLiteral("memo");
    a.target = QStringLiteral("memo");
    a.damage = 12;
    a.gain = 172;
    a.levels = 2;
    const struct {
        BattleEvent event;
        const char* texts[3];
    } cases[] = {
        {BattleEvent::BattleStart, {"削除を開始します", "## !!戦闘開始!! ##", "Hero「コロス！コロス！コロス！"}},
        {BattleEvent::Victory, {"すべての削除が完了しました!", "すべての敵を倒した!", "Hero「はっはっは！パーフェクトな勝利だ！"}},
        {BattleEvent::Experience, {"Heroは、172バイト追加保存されました", "Heroは、172の経験を得た", "Hero「172の経験？やつらだったらこんなもんだろうな！"}},
        {BattleEvent::LevelUp, {"Heroの重要性が2増した!", "Heroのレベルが2上がった!", "Hero「ふふふ・・・、殺したくて仕方がねぇなぁ"}},
        {BattleEvent::CharacterDied, {"Heroは、削除されました...", "Heroは、死んでしまった...", "Hero「ぐふッ！お釈迦様がみえる・・・"}},
        {BattleEvent::AttackByCharacter, {"memoが、memo の削除を実行しました", "memoが、memo に攻撃!", "Hero「死にやがれ！このクソmemo野郎め！"}},
        {BattleEvent::AttackOnCharacter, {"memoが、Hero の削除を実行しました", "memoが、Hero に攻撃!", "Hero「・・・memo、やる気かこの俺を！"}},
        {BattleEvent::EnemyDodged, {"memoは、削除に失敗しました!", "memoは、身をかわした!", "Hero「ちッ！よけろな、バカmemoめ！"}},
        {BattleEvent::CharacterDodged, {"Heroは、削除に失敗しました!", "Heroは、身をかわした!", "Hero「あたるかよ！"}},
        {BattleEvent::CriticalByCharacter, {"Heroは最適化削除に成功しました", "Heroのクリティカルヒット!", "Hero「オラオラオラオラオラオラオラオラオラオラ！"}},
        {BattleEvent::CriticalByEnemy, {"memoは最適化削除に成功しました", "memoのクリティカルヒット!", "memo「・・・ふ、不覚ッ！"}},
        {BattleEvent::DamageDealt, {"memoを、12バイト削除しました!", "memoに、12のダメージを与えた!", "Hero「死ねッ！memo！12ぐらいでは手ぬるいわ！"}},
        {BattleEvent::DamageTaken, {"Heroは、12バイトの削除されました!", "Heroは、12のダメージを受けた!", "Hero「ぐはぁッ！この俺が12も食らうとは・・・"}},
        {BattleEvent::EnemyBeaten, {"memoを削除しました!", "memoを倒した", "Hero「memo、口ほどにもないやつだったな！"}},
    };
    for (const auto& c : cases)
        for (std::int16_t style = 0; style < 3; ++style)
            EXPECT_EQ(MessageText(style, c.event, a), QString::fromUtf8(c.texts[style])) << int(c.event) << " " << style;

    a.damage = 1;
    EXPECT_EQ(MessageText(StyleViolent, BattleEvent::DamageTaken, a), QStringLiteral("Hero「ふん！1程度など、屁でもないわ！"));
    a.damage = -3;
    EXPECT_EQ(MessageText(StyleBusiness, BattleEvent::DamageDealt, a), QStringLiteral("memoを、-3バイト削除しました!"));
}

// --- the drop -------------------------------------------------------------

TEST_F(BattleTest, DropFiltersAndOrdersTheRoster)
{
    heroFile();
    const QString dir = home.path();
    writeFileOfSize(dir + QStringLiteral("/b.txt"), 10);
    writeFileOfSize(dir + QStringLiteral("/a.txt"), 10);
    writeFileOfSize(dir + QStringLiteral("/.hidden"), 10);
    writeFileOfSize(dir + QStringLiteral("/ro.txt"), 10);
    ::chmod(QFile::encodeName(dir + QStringLiteral("/ro.txt")).constData(), 0444);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + QStringLiteral("/pipe")).constData(), 0644), 0);
    ASSERT_EQ(::symlink("b.txt", QFile::encodeName(dir + QStringLiteral("/link.txt")).constData()), 0);
    ASSERT_EQ(::symlink("Hero.dmf", QFile::encodeName(dir + QStringLiteral("/me.dmf")).constData()), 0);

    RecordingView view;
    Battle battle(view, {true});
    const Roster roster = battle.BuildRoster({dir + QStringLiteral("/b.txt"), CharaPath, dir + QStringLiteral("/.hidden"),
                                              dir + QStringLiteral("/ro.txt"), dir + QStringLiteral("/pipe"), dir,
                                              dir + QStringLiteral("/gone.txt"), dir + QStringLiteral("/a.txt"),
                                              dir + QStringLiteral("/b.txt"), dir + QStringLiteral("/link.txt"),
                                              dir + QStringLiteral("/./Hero.dmf"), dir + QStringLiteral("/me.dmf")});
    ASSERT_EQ(roster.size(), 4U);
    EXPECT_EQ(roster[0].Name, QStringLiteral("Hero"));
    EXPECT_EQ(roster[0].Defense, 45) << "the item's percentage applies";
    EXPECT_EQ(roster[1].Name, QStringLiteral("b"));
    EXPECT_EQ(roster[2].Name, QStringLiteral("a"));
    EXPECT_EQ(roster[3].Name, QStringLiteral("link"));
    EXPECT_EQ(view.log, (QStringList{QStringLiteral("add:b"), QStringLiteral("update:b:%1:0").arg(roster[1].Vitarity),
                                     QStringLiteral("add:a"), QStringLiteral("update:a:%1:0").arg(roster[2].Vitarity),
                                     QStringLiteral("add:link"), QStringLiteral("update:link:%1:0").arg(roster[3].Vitarity)}));
}

TEST_F(BattleTest, DropThatStartsNoBattle)
{
    const struct {
        const char* what;
        bool character;
        std::int16_t idle;
        std::optional<QStringList> paths;
        DropResult result;
        bool cleared;
    } cases[] = {
        {"battle running", true, kFalse, QStringList{QStringLiteral("/etc/hostname")}, DropResult::Busy, false},
        {"no character", false, kTrue, QStringList{QStringLiteral("/etc/hostname")}, DropResult::NoCharacter, false},
        {"no file list", true, kTrue, std::nullopt, DropResult::NoFiles, true},
        {"only folders", true, kTrue, QStringList{QStringLiteral("/tmp"), QStringLiteral("/")}, DropResult::NothingAccepted, true},
    };
    for (const auto& c : cases) {
        ResetSettings();
        if (c.character)
            heroFile();
        Idle = c.idle;
        RecordingView view;
        Battle battle(view);
        EXPECT_EQ(battle.Form_OLEDragDrop(c.paths), c.result) << c.what;
        EXPECT_EQ(view.log.contains(QStringLiteral("clear")), c.cleared) << c.what;
        EXPECT_EQ(view.beeps, c.result == DropResult::Busy ? 1 : 0) << c.what;
        EXPECT_EQ(view.boxes, c.result == DropResult::NoCharacter ? QStringList{QStringLiteral("キャラが未設定です")} : QStringList{})
            << c.what;
        EXPECT_TRUE(view.messages.isEmpty()) << c.what;
        EXPECT_EQ(Idle, c.idle) << c.what;
    }
}

TEST_F(BattleTest, DropFightsAndLogsUnderTheCharactersName)
{
    heroFile();
    Log = 1;
    const QString victim = home.file(QStringLiteral("victim.txt"));
    writeFileOfSize(victim, 10);
    ScriptedRandom rnd({}, 0.3F);
    RecordingView view;
    Battle battle(view);
    EXPECT_EQ(battle.Form_OLEDragDrop(QStringList{victim}), DropResult::Fought);
    EXPECT_EQ(Idle, kTrue);
    EXPECT_TRUE(LogPath.startsWith(HomeFolder() + QStringLiteral("/Hero_"))) << LogPath.toStdString();
    EXPECT_TRUE(LogPath.endsWith(QStringLiteral(".Log")));
    EXPECT_EQ(QFileInfo(LogPath).fileName().size(), QStringLiteral("Hero_hhnnss.Log").size());
    EXPECT_EQ(readFile(LogPath).count('\n'), view.messages.size());
    EXPECT_EQ(view.log.first(), QStringLiteral("clear"));
    EXPECT_TRUE(view.log.contains(QStringLiteral("show")));
}

TEST_F(BattleTest, MakeCharaChecksInOrder)
{
    writeFileOfSize(HomeFolder() + QStringLiteral("/x,y.dmf"), 5);
    writeFileOfSize(HomeFolder() + QStringLiteral("/Taken.dmf"), 5);
    const struct {
        QString name;
        const char* message;
    } cases[] = {
        {QString(), "名前を入力して下さい"},
        {QStringLiteral("a/b"), "\\ / : , ; * ? \" < > | は、使えません"},
        {QStringLiteral("a,b"), "\\ / : , ; * ? \" < > | は、使えません"},
        {QStringLiteral("a;b"), "\\ / : , ; * ? \" < > | は、使えません"},
        {QStringLiteral("a|b"), "\\ / : , ; * ? \" < > | は、使えません"},
        {QStringLiteral("x,y"), "すでに存在するキャラです"},
        {QStringLiteral("Taken"), "すでに存在するキャラです"},
    };
    for (const auto& c : cases) {
        QString path = QStringLiteral("untouched");
        bool cancel = false;
        EXPECT_EQ(MakeChara(c.name, path, cancel), QString::fromUtf8(c.message)) << c.name.toStdString();
        EXPECT_TRUE(cancel);
        EXPECT_EQ(path, QStringLiteral("untouched"));
    }
    EXPECT_EQ(readFile(HomeFolder() + QStringLiteral("/Taken.dmf")).size(), 5);
}

TEST_F(BattleTest, MakeCharaWritesAStampedThousandBytes)
{
    for (const QString& name : {QStringLiteral("Hero"), QStringLiteral("   "), QStringLiteral("勇者")}) {
        QString path;
        bool cancel = true;
        EXPECT_TRUE(MakeChara(name, path, cancel).isEmpty());
        EXPECT_FALSE(cancel);
        EXPECT_EQ(path, HomeFolder() + QLatin1Char('/') + name + QStringLiteral(".dmf"));
        const QByteArray bytes = readFile(path);
        ASSERT_EQ(bytes.size(), 1000);
        EXPECT_EQ(bytes.left(3), QByteArray("\x92\x7A\x65"));
        EXPECT_TRUE(CheckCharaFile(path));
        for (qsizetype k = 10; k < bytes.size(); ++k) {
            const int b = static_cast<unsigned char>(bytes[k]);
            ASSERT_TRUE(b >= 32 && b <= 172) << k << ": " << b;
        }
    }
}

} // namespace

namespace {

TEST_F(BattleTest, HugeAndOddDropsEndCleanly)
{
    heroFile();
    const QString dir = home.path();
    // A name that is not UTF-8 cannot be named back from its decoded text: it
    // is left alone, never touched.
    const QByteArray badName = QFile::encodeName(dir) + "/bad\xFF\xFEname.txt";
    const int fd = ::open(badName.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QString newline = dir + QStringLiteral("/two\nlines.txt");
    writeFileOfSize(newline, 10);
    const QString japanese = dir + QStringLiteral("/日本語のファイル.txt");
    writeFileOfSize(japanese, 10);

    QStringList paths;
    for (int k = 0; k < 20000; ++k)
        paths << dir + QStringLiteral("/missing-%1.txt").arg(k);
    paths << QFile::decodeName(badName) << newline << japanese;

    RecordingView view;
    Battle battle(view, {true});
    const Roster roster = battle.BuildRoster(paths);
    ASSERT_EQ(roster.size(), 3U);
    EXPECT_EQ(roster[1].Name, QStringLiteral("two\nlines"));
    EXPECT_EQ(roster[2].Name, QStringLiteral("日本語のファイル"));
    struct stat st {};
    EXPECT_EQ(::stat(badName.constData(), &st), 0);
}

} // namespace
