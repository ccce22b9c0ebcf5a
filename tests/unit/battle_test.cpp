// Whole battles with chosen draws and no waiting: turn order, targets, damage, bonus experience, the character
// file's growth and loss, messages, the log, the minimised caption and the drop.
#include "battle/Battle.h"
#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "services/HomeFolder.h"
#include "services/Settings.h"
#include "support/TestSupport.h"

#include <QMimeData>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace dm;
using namespace dm::test;

namespace {

struct StopBattle {};

// A list of URLs as another program's drop brings it: the bytes as sent, the
// URLs made from them when asked for.
class SentList final : public QMimeData {
public:
    explicit SentList(QByteArray list) : m_list(std::move(list)) { }
    [[nodiscard]] QStringList formats() const override { return {u"text/uri-list"_s}; }

protected:
    [[nodiscard]] QVariant retrieveData(const QString& /*mimeType*/, QMetaType /*type*/) const override { return m_list; }

private:
    QByteArray m_list;
};

// Records what the battle shows; never waits. `stopAfter` ends a battle on purpose after that many messages; one
// that passes 10000 would never end, and fails the test.
class RecordingView : public BattleView {
public:
    QStringList messages, log, captions;
    QString poses; // the hero's pose with each message, one letter each
    QList<qint64> waits;
    bool minimized = false;
    int stopAfter = -1, beeps = 0;
    HeroPose pose = HeroPose::Ready; // none shown yet

    void AddEntryRow(const CharaRecord& e) override { log << u"add:"_s + e.Name; }
    void SelectEntryRow(const CharaRecord& r, bool) override { log << u"select:"_s + r.Name; }
    void SetEntryRowIcon(const CharaRecord& r, const QString& key) override { log << r.Name + u':' + key; }
    void SetMessageText(const QString& t) override { messages << t; poses += QLatin1Char("SWFVXR"[int(pose)]); }
    void ShowHeroPose(HeroPose p) override { pose = p; }
    bool IsMinimized() const override { return minimized; }
    void SetCaption(const QString& t) override { captions << t; }
    void Beep() override { ++beeps; }
    void WaitUntil(const QDeadlineTimer& d) override
    {
        waits << (d.remainingTime() + 50) / 100 * 100; // to 0.1 s, so a loaded machine still matches
        if (stopAfter >= 0 && messages.size() >= stopAfter)
            throw StopBattle{};
        if (messages.size() > 10000)
            failOffScript("the battle passed 10000 messages");
    }
};

CharaRecord fighter(const char* name, int vit, int str, int def, int agi, int luck, int level = 1)
{
    CharaRecord r;
    std::tie(r.Name, r.Level, r.MaxVitarity, r.Vitarity) = std::tuple(QString::fromUtf8(name), level, vit, vit);
    std::tie(r.Strength, r.Defense, r.Agility, r.Luck) = std::tie(str, def, agi, luck);
    return r;
}

class BattleTest : public ::testing::Test {
protected:
    BattleTest() { ResetSharedState(); MsgType = StyleRpg; }

    // A real file for an enemy, so its disposal can be seen.
    CharaRecord enemyFile(CharaRecord r) { writeFileOfSize(r.FileName = home.file(r.Name + u".txt"_s), 100); return r; }
    // The current character, from a real stamped 1000-byte file.
    CharaRecord heroFile()
    {
        writeFile(CharaPath = home.file(u"Hero.dmf"_s), stampedChara(1000));
        EXPECT_EQ(LoadChara(CharaPath, Chara, CharaItem), 0);
        return WithItemApplied(Chara, CharaItem);
    }
    // Fights the roster on chosen draws to its end, or with `stopAfter` until that many messages are shown.
    static std::pair<RecordingView, BattleReport> fight(Roster roster, std::initializer_list<float> draws,
        std::optional<float> fallback = {}, BattleOptions options = {}, int stopAfter = -1, bool minimized = false)
    {
        ScriptedRandom rnd(draws, fallback);
        RecordingView view;
        std::tie(view.stopAfter, view.minimized) = std::tuple(stopAfter, minimized);
        Battle battle(view, options);
        if (stopAfter < 0)
            battle.RunBattle(roster);
        else
            EXPECT_THROW(battle.RunBattle(roster), StopBattle);
        return {view, battle.report()};
    }

    TempHome home{TempHome::OwnTrash};
};

TEST_F(BattleTest, TurnOrderFollowsAgility)
{
    // Nine or eleven times the highest Agility, or ten times another one or the sum, would order the last otherwise.
    const struct { const char* name; std::vector<int> agility; QString order; } rows[] = {
        {"faster enemy", {100, 150}, u"1011010110"_s}, {"equal", {100, 100, 100}, u"012012012"_s},
        {"agility 0 never acts", {50, 0, 50}, u"020202"_s}, {"ten times the highest", {140, 150, 180}, u"20121021"_s}};
    for (const auto& row : rows) {
        Roster roster;
        for (const int agility : row.agility)
            roster.push_back(fighter(std::to_string(roster.size()).c_str(), 999, 1, 1, agility, 0));
        QString order; // every attack is dodged
        const int messages = 1 + 2 * int(row.order.size());
        for (const QString& m : fight(roster, {}, 0.0F, {true}, messages).first.messages.filter(u" に攻撃!"_s))
            order += m.left(1);
        EXPECT_EQ(order, row.order) << row.name;
    }
}

TEST_F(BattleTest, OneBlow)
{
    const CharaRecord c = fighter("C", 999, 150, 10, 169, 11), e = fighter("E", 999, 1, 45, 169, 11);
    const CharaRecord weak = fighter("C", 999, 50, 0, 100, 0), tough = fighter("E", 999, 0, 50, 100, 0);
    const CharaRecord lucky = fighter("C", 999, 50, 0, 100, 1000), wall = fighter("E", 999, 0, 100, 100, 0);
    const struct { const char* name; CharaRecord chara, enemy; std::initializer_list<float> draws; const char* shown; }
        rows[] = { // draws: two hit rolls, the critical roll, the damage roll
        {"normal hit just above the critical roll", c, e, {0.5F, 0.4F, 0.004F, 0.5F}, "Eに、84のダメージを与えた!"},
        {"critical hit", c, e, {0.5F, 0.4F, 0.003F, 0.5F}, "Eに、128のダメージを与えた!"},
        {"damage of exactly 0 does 1", weak, tough, {0.9F, 0.1F, 0.9F, 0.9F}, "Eに、1のダメージを与えた!"},
        {"critical may do 0", lucky, wall, {0.9F, 0.1F, 0.0F, 0.5F}, "Eに、0のダメージを与えた!"},
        {"critical is never negative", lucky, wall, {0.9F, 0.1F, 0.0F, 0.9F}, "Eに、40のダメージを与えた!"},
        {"equal rolls dodge", weak, fighter("E", 999, 0, 0, 100, 0), {0.5F, 0.5F}, "Eは、身をかわした!"}};
    for (const auto& row : rows) {
        const QString shown = fight({row.chara, row.enemy}, row.draws, {}, {true}, 4).first.messages.join(u'|');
        EXPECT_TRUE(shown.contains(QString::fromUtf8(row.shown))) << row.name << ": " << shown.toStdString();
    }
}

TEST_F(BattleTest, AttackOrdersPickTheirTarget)
{
    // Every order picks another enemy, ties the lower index; in `three` the first blow beats A, the next must go to B.
    const Roster five{fighter("C", 999, 1, 1, 100, 0), fighter("A", 50, 10, 30, 1, 0), fighter("B", 20, 40, 30, 1, 0),
                      fighter("D", 20, 40, 5, 1, 0), fighter("F", 90, 5, 5, 1, 0)};
    const Roster three{fighter("C", 999, 10, 0, 1000, 0), fighter("A", 1, 0, 0, 1, 0), fighter("B", 99, 0, 0, 1, 0)};
    const struct { std::int16_t order; const Roster& roster; std::initializer_list<float> draws; const char* target; }
        rows[] = {
        {0, five, {}, "A"}, {1, five, {}, "B"}, {2, five, {}, "B"}, {3, five, {}, "D"}, {4, five, {0.8F}, "F"},
        {4, five, {0.26F}, "B"}, {2, three, {0.9F, 0.1F, 0.9F, 0.9F}, "B"},
        // The target is drawn first, and again while the draw hits a beaten enemy.
        {4, three, {0.0F, 0.9F, 0.1F, 0.9F, 0.9F, 0.0F, 0.0F, 0.7F}, "B"}};
    Minimize = 1; // minimised, the caption shows the vitality and the enemies left
    for (const auto& row : rows) {
        AttSr = row.order;
        const bool small = row.roster.size() == 3;
        const RecordingView view = fight(row.roster, row.draws, {}, {true}, small ? 5 : 2, row.order != 2).first;
        const QString seen = u"%1|%2|%3|%4"_s.arg(view.messages.last(), view.captions.value(small ? 4 : 1),
                                                 view.log.last(), view.log.filter(u":Dead"_s).join(u','));
        const QString caption = row.order == 2 ? QString() : u"V:999 残:%1"_s.arg(small ? 1 : 4);
        EXPECT_EQ(seen, u"Cが、%1 に攻撃!|%2|select:%1|%3"_s.arg(QString::fromLatin1(row.target), caption,
                                                               small ? u"A:Dead"_s : QString())) << row.order;
    }
}

TEST_F(BattleTest, VictoryGrowsTheCharacterFileOrLeavesItAlone)
{
    // The enemy hits once for `hit`, then a critical blow beats it: gain = hit / 2 + 3 + 3 * levels between them.
    enum File { Grows, DryRun, ReadOnly };
    const struct { const char* name; File file; float e; int hit, levelDiff, gain, level; } rows[] = {
        {"exactly one step reaches level 2", Grows, 0.7F, 100, 42, 179, 2},
        {"hit halved down", Grows, 0.69F, 99, 40, 172, 1}, {"two levels at once", Grows, 0.7F, 100, 1000, 3053, 3},
        {"dry run reaching the next step", DryRun, 0.7F, 100, 42, 179, 2},
        {"read-only file", ReadOnly, 0.7F, 100, 42, 179, 1}}; // no owner write bit: unwritable even for root
    MsgWait = 0.5F;
    for (const auto& row : rows) {
        CharaRecord hero = heroFile();
        std::tie(hero.Agility, hero.Luck, hero.Strength, hero.Defense) = std::tuple(100, 10, 500, 0);
        hero.Vitarity = 1000;
        const QByteArray before = readFile(chmodded(CharaPath, row.file == ReadOnly ? 0444 : 0644));
        const CharaRecord enemy = enemyFile(fighter("big", 400, 100, 0, 150, 0, 1 + row.levelDiff));
        const auto [view, r] = fight({hero, enemy}, {0.9F, 0.1F, 0.9F, row.e, 0.9F, 0.1F, 0.0F, 0.0F}, 0.25F,
                                     {row.file == DryRun});

        QStringList shown = QStringLiteral("## !!戦闘開始!! ##|bigが、Hero に攻撃!|Heroは、%1のダメージを受けた!|"
                                           "Heroが、big に攻撃!|Heroのクリティカルヒット!|bigに、500のダメージを与えた!|"
                                           "bigを倒した|すべての敵を倒した!|Heroは、%2の経験を得た").arg(row.hit).arg(row.gain).split(u'|');
        if (row.level > 1)
            shown << u"Heroのレベルが%1上がった!"_s.arg(row.level - 1);
        // Standing, flinching under the blow, swinging, triumphant; the start and the end wait 2 s, every blow MsgWait.
        const QList<qint64> blows{2000, 500, 500, 500, 500, 500, 500};
        EXPECT_EQ(std::tuple(view.messages, view.poses, view.waits),
                  std::tuple(shown, u"SSFWWWWVVV"_s.left(shown.size()), blows + QList<qint64>(shown.size() - 7, 2000)))
            << row.name;
        // Grown by filler bytes (draws of 0.25 give 67) after a new check header, or left alone; healed on victory.
        const bool grown = row.file == Grows;
        EXPECT_EQ(std::tuple(r.newLevel, r.characterFileGrown, r.growError.isEmpty(), QFile::exists(enemy.FileName),
                             readFile(CharaPath).mid(grown ? 10 : 0), CheckCharaFile(CharaPath), Chara.Experience, Idle,
                             Chara.Vitarity),
                  std::tuple(row.level, grown, grown || row.file == DryRun, row.file == DryRun,
                             grown ? before.mid(10) + QByteArray(row.gain, 67) : before, true,
                             grown ? 1000 + row.gain : 1000, kTrue, Chara.MaxVitarity)) << row.name;
    }
}

TEST_F(BattleTest, DefeatDisposesOfTheCharacterFileAndAStalemateOfNothing)
{
    CharaRecord hero = heroFile();
    std::tie(hero.Vitarity, hero.Agility) = std::tuple(5, 0);
    // With every Agility 0 nobody can act: nothing is beaten, nothing grows.
    EXPECT_EQ(fight({hero, enemyFile(fighter("idle", 10, 1, 1, 0, 0))}, {}).second.outcome, BattleOutcome::Stalemate);
    EXPECT_TRUE(QFile::exists(home.file(u"idle.txt"_s)) && readFile(CharaPath).size() == 1000);
    // The character beats "weak", then "big" fells it: both files go to the Trash.
    hero.Agility = 1;
    const CharaRecord weak = enemyFile(fighter("weak", 1, 0, 0, 1, 0)),
                      big = enemyFile(fighter("big", 999, 100, 0, 1, 0));
    Idle = kFalse;
    const auto [view, report] = fight({hero, weak, big}, {0.9F, 0.1F, 0.9F, 0.9F, 0.9F, 0.1F, 0.9F, 0.9F});
    EXPECT_EQ(std::tuple(report.outcome, view.messages.last(), view.poses.right(2), view.waits.last(), Idle,
                         CharaPath.isEmpty() && Chara == CharaRecord{}),
              std::tuple(BattleOutcome::Defeat, u"Heroは、死んでしまった..."_s, u"FX"_s, 2000, kTrue, true));
    // Beaten earlier, stays removed; still standing, stays in place.
    EXPECT_EQ(std::tuple(QFile::exists(hero.FileName), QFile::exists(weak.FileName), QFile::exists(big.FileName),
                         QDir(home.file(u"xdg/Trash/files"_s)).entryList(QDir::Files)),
              std::tuple(false, false, true, QStringList{u"Hero.dmf"_s, u"weak.txt"_s}));
}

TEST_F(BattleTest, BonusExperience)
{
    // Enemy 2 levels up: +6; a dodge: +2 if the enemy is faster; then a critical: +3 if faster, or a normal hit: +1.
    const struct { int agility; std::initializer_list<float> draws; int bonus; } rows[] = {
        {150, {0.1F, 0.9F, 0.9F, 0.1F, 0.0F, 0.0F}, 6 + 2 + 3},
        {100, {0.1F, 0.9F, 0.1F, 0.9F, 0.9F, 0.1F, 0.0F, 0.0F}, 6}, {50, {0.9F, 0.1F, 0.9F, 0.9F}, 6 + 1}};
    CharaRecord hero = heroFile(); // a dry run leaves it as it is
    std::tie(hero.Agility, hero.Luck, hero.Strength) = std::tuple(100, 10, 100);
    for (const auto& [agility, draws, bonus] : rows)
        EXPECT_EQ(fight({hero, fighter("foe", 50, 10, 0, agility, 0, 3)}, draws, {}, {true}).second.bonusExp, bonus)
            << agility;
}

TEST(BattleMessages, StylesNameTheRightOneAndTheViolentShrugsOffOnePoint)
{
    // Every name differs, so a text naming the wrong one shows; the victory case reads the role-playing texts.
    using enum BattleEvent;
    const std::tuple<std::int16_t, BattleEvent, int, const char*> rows[] = {
        {StyleBusiness, AttackOnCharacter, 2, "impが、Hero の削除を実行しました"},
        {StyleViolent, DamageTaken, 1, "Hero「ふん！1程度など、屁でもないわ！"},
        {StyleViolent, DamageTaken, 2, "Hero「ぐはぁッ！この俺が2も食らうとは・・・"}};
    for (const auto& [style, event, damage, text] : rows)
        EXPECT_EQ(MessageText(style, event, {.chara = u"Hero"_s, .attacker = u"imp"_s, .target = u"memo"_s,
                                             .damage = damage}), QString::fromUtf8(text)) << text;
}

TEST_F(BattleTest, DropTakesOnlyPlainLocalPathsFiltersOrdersAndLogsOrOnlyBeeps)
{
    heroFile();
    const auto at = [this](const char* name) { return home.file(QString::fromUtf8(name)); };
    for (const char* name : {"b.txt", "a.txt", ".hidden", "ro.txt", "two\nlines.txt", "日本語.txt"})
        makeFile(at(name), "0123456789", name[0] == 'r' ? 0444 : 0644);
    // A file of a folder it could not leave, among those of one it can.
    makeFile(makeDir(at("kept")) + u"/c.txt"_s, "0123456789");
    chmodded(at("kept"), 0555);
    ASSERT_EQ(::mkfifo(native(at("pipe")).constData(), 0644), 0);
    ASSERT_FALSE(makeLink(u"b.txt"_s, at("link.txt")).isEmpty() || makeLink(u"Hero.dmf"_s, at("me.dmf")).isEmpty());
    // A name that is not UTF-8 cannot be named back from its text.
    const QByteArray badName = native(home.path()) + "/bad\xFF\xFEname.txt";
    ::close(::open(badName.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    QStringList paths{QFile::decodeName(badName)};
    for (const char* name : {"missing.txt", "b.txt", "Hero.dmf", ".hidden", "ro.txt", "pipe", ".", "kept/c.txt",
                             "a.txt", "b.txt", "link.txt", "./Hero.dmf", "me.dmf", "two\nlines.txt", "日本語.txt"})
        paths << at(name);
    ScriptedRandom rnd({}, 0.3F);
    Log = 1;
    RecordingView busy, view;
    Idle = kFalse;
    EXPECT_EQ(Battle(busy, {true}).Form_OLEDragDrop(paths), DropResult::Busy);
    EXPECT_EQ(std::tuple(busy.beeps, busy.log.size(), LogPath), std::tuple(1, 0, QString()));
    Idle = kTrue;
    EXPECT_EQ(Battle(view, {true}).Form_OLEDragDrop(paths), DropResult::Fought);
    EXPECT_EQ(view.log.filter(u"add:"_s).join(u'|') + u'|' + QString::number(view.beeps),
              u"add:b|add:a|add:link|add:two\nlines|add:日本語|0"_s);
    // The log is named after the character and the time the battle began.
    EXPECT_TRUE(QRegularExpression(u"^\\Q%1\\E/Hero_\\d{6}\\.Log$"_s.arg(HomeFolder())).match(LogPath).hasMatch());
    EXPECT_EQ(QString::fromUtf8(readFile(LogPath)), view.messages.join(u'\n') + u'\n');
    EXPECT_EQ(DroppedPaths(QMimeData()), std::nullopt);
    const std::pair<QByteArray, QStringList> drops[] = {
        // Found by fuzzing: "file:a.txt" named a file in the working folder, and "/a/../b" another entry than shown.
        // %FF%FE is not UTF-8: Qt decodes it to U+FFFD U+FFFD, the name of the file beside it.
        {"file:a.txt\r\nfile:///a/../b\r\nfile:///a//b\r\nhttps://h/c\r\nfile:///tmp/x%20y\r\nfile:///tmp/%FF%FE.txt\r\n"
         "file:///tmp/%EF%BF%BD%EF%BF%BD.txt\r\nfile:///\r\n",
         {u"/tmp/x y"_s, u"/tmp/\uFFFD\uFFFD.txt"_s, u"/"_s}},
        // The same bytes sent unencoded reach the URLs as U+FFFD, like a real one.
        {"file:///tmp/\xFF\xFE.txt\r\nfile:///tmp/%EF%BF%BD%EF%BF%BD.txt\r\nfile:///tmp/a.txt\r\n", {u"/tmp/a.txt"_s}}};
    for (const auto& [list, kept] : drops)
        EXPECT_EQ(DroppedPaths(SentList(list)), kept) << list.toStdString();
}

} // namespace
