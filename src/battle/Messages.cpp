#include "battle/Messages.h"

namespace dm {
namespace {

QString n(std::int32_t v) { return QString::number(v); }

QString business(BattleEvent e, const MessageArgs& a)
{
    switch (e) {
    case BattleEvent::BattleStart: return QStringLiteral("削除を開始します");
    case BattleEvent::Victory: return QStringLiteral("すべての削除が完了しました!");
    case BattleEvent::Experience:
        return a.chara + QStringLiteral("は、") + n(a.gain) + QStringLiteral("バイト追加保存されました");
    case BattleEvent::LevelUp: return a.chara + QStringLiteral("の重要性が") + n(a.levels) + QStringLiteral("増した!");
    case BattleEvent::CharacterDied: return a.chara + QStringLiteral("は、削除されました...");
    case BattleEvent::AttackByCharacter:
        return a.attacker + QStringLiteral("が、") + a.target + QStringLiteral(" の削除を実行しました");
    case BattleEvent::AttackOnCharacter:
        return a.attacker + QStringLiteral("が、") + a.chara + QStringLiteral(" の削除を実行しました");
    case BattleEvent::EnemyDodged: return a.target + QStringLiteral("は、削除に失敗しました!");
    case BattleEvent::CharacterDodged: return a.chara + QStringLiteral("は、削除に失敗しました!");
    case BattleEvent::CriticalByCharacter: return a.chara + QStringLiteral("は最適化削除に成功しました");
    case BattleEvent::CriticalByEnemy: return a.attacker + QStringLiteral("は最適化削除に成功しました");
    case BattleEvent::DamageDealt:
        return a.target + QStringLiteral("を、") + n(a.damage) + QStringLiteral("バイト削除しました!");
    case BattleEvent::DamageTaken:
        return a.chara + QStringLiteral("は、") + n(a.damage) + QStringLiteral("バイトの削除されました!");
    case BattleEvent::EnemyBeaten: return a.target + QStringLiteral("を削除しました!");
    }
    return {};
}

QString rpg(BattleEvent e, const MessageArgs& a)
{
    switch (e) {
    case BattleEvent::BattleStart: return QStringLiteral("## !!戦闘開始!! ##");
    case BattleEvent::Victory: return QStringLiteral("すべての敵を倒した!");
    case BattleEvent::Experience: return a.chara + QStringLiteral("は、") + n(a.gain) + QStringLiteral("の経験を得た");
    case BattleEvent::LevelUp:
        return a.chara + QStringLiteral("のレベルが") + n(a.levels) + QStringLiteral("上がった!");
    case BattleEvent::CharacterDied: return a.chara + QStringLiteral("は、死んでしまった...");
    case BattleEvent::AttackByCharacter:
        return a.attacker + QStringLiteral("が、") + a.target + QStringLiteral(" に攻撃!");
    case BattleEvent::AttackOnCharacter:
        return a.attacker + QStringLiteral("が、") + a.chara + QStringLiteral(" に攻撃!");
    case BattleEvent::EnemyDodged: return a.target + QStringLiteral("は、身をかわした!");
    case BattleEvent::CharacterDodged: return a.chara + QStringLiteral("は、身をかわした!");
    case BattleEvent::CriticalByCharacter: return a.chara + QStringLiteral("のクリティカルヒット!");
    case BattleEvent::CriticalByEnemy: return a.attacker + QStringLiteral("のクリティカルヒット!");
    case BattleEvent::DamageDealt:
        return a.target + QStringLiteral("に、") + n(a.damage) + QStringLiteral("のダメージを与えた!");
    case BattleEvent::DamageTaken:
        return a.chara + QStringLiteral("は、") + n(a.damage) + QStringLiteral("のダメージを受けた!");
    case BattleEvent::EnemyBeaten: return a.target + QStringLiteral("を倒した");
    }
    return {};
}

QString violent(BattleEvent e, const MessageArgs& a)
{
    const QString c = a.chara + QStringLiteral("「");
    switch (e) {
    case BattleEvent::BattleStart: return c + QStringLiteral("コロス！コロス！コロス！");
    case BattleEvent::Victory: return c + QStringLiteral("はっはっは！パーフェクトな勝利だ！");
    case BattleEvent::Experience: return c + n(a.gain) + QStringLiteral("の経験？やつらだったらこんなもんだろうな！");
    case BattleEvent::LevelUp: return c + QStringLiteral("ふふふ・・・、殺したくて仕方がねぇなぁ");
    case BattleEvent::CharacterDied: return c + QStringLiteral("ぐふッ！お釈迦様がみえる・・・");
    case BattleEvent::AttackByCharacter:
        return c + QStringLiteral("死にやがれ！このクソ") + a.target + QStringLiteral("野郎め！");
    case BattleEvent::AttackOnCharacter:
        return c + QStringLiteral("・・・") + a.attacker + QStringLiteral("、やる気かこの俺を！");
    case BattleEvent::EnemyDodged:
        return c + QStringLiteral("ちッ！よけろな、バカ") + a.target + QStringLiteral("め！");
    case BattleEvent::CharacterDodged: return c + QStringLiteral("あたるかよ！");
    case BattleEvent::CriticalByCharacter: return c + QStringLiteral("オラオラオラオラオラオラオラオラオラオラ！");
    case BattleEvent::CriticalByEnemy: return a.attacker + QStringLiteral("「・・・ふ、不覚ッ！");
    case BattleEvent::DamageDealt:
        return c + QStringLiteral("死ねッ！") + a.target + QStringLiteral("！") + n(a.damage)
            + QStringLiteral("ぐらいでは手ぬるいわ！");
    case BattleEvent::DamageTaken:
        if (a.damage <= 1)
            return c + QStringLiteral("ふん！") + n(a.damage) + QStringLiteral("程度など、屁でもないわ！");
        return c + QStringLiteral("ぐはぁッ！この俺が") + n(a.damage) + QStringLiteral("も食らうとは・・・");
    case BattleEvent::EnemyBeaten: return c + a.target + QStringLiteral("、口ほどにもないやつだったな！");
    }
    return {};
}

} // namespace

QString MessageText(std::int16_t style, BattleEvent event, const MessageArgs& args)
{
    switch (style) {
    case StyleBusiness: return business(event, args);
    case StyleRpg: return rpg(event, args);
    case StyleViolent: return violent(event, args);
    default: return {};
    }
}

} // namespace dm
