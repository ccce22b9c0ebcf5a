// The fight: gauges filled by Agility decide who acts, the attack order picks
// the character's target, draws decide hit, critical hit and damage.
#include "battle/Battle.h"
#include "services/Settings.h"
#include "services/Numeric.h"
#include "services/Random.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace dm {

namespace {

double draw() { return static_cast<double>(Rnd()); }

// The living enemy the character attacks under the attack order.
std::int16_t chooseTarget(const Roster& roster, const std::vector<bool>& beaten, std::int16_t n)
{
    const auto alive = [&](int k) { return !beaten[static_cast<size_t>(k)]; };
    const auto at = [&](int k) -> const CharaRecord& { return roster[static_cast<size_t>(k)]; };
    std::int16_t t = 0;
    switch (AttSr) {
    case 1:
    case 3: {
        std::int64_t best = 9999999;
        for (std::int16_t k = 1; k <= n; ++k) {
            const std::int64_t v = AttSr == 1 ? at(k).Vitarity : at(k).Defense;
            if (alive(k) && v < best) {
                best = v;
                t = k;
            }
        }
        break;
    }
    case 2: {
        std::int64_t best = 0;
        for (std::int16_t k = 1; k <= n; ++k) {
            // The first living enemy is taken whatever its Strength, so a
            // roster of Strength 0 or less is still attacked.
            if (alive(k) && (t == 0 || at(k).Strength > best)) {
                best = at(k).Strength;
                t = k;
            }
        }
        break;
    }
    case 4:
        for (;;) {
            const float r = Rnd() * static_cast<float>(n);
            const auto k = static_cast<std::int32_t>(std::trunc(r)) + 1;
            // A draw just below 1 can round up to n in single precision.
            if (k >= 1 && k <= n && alive(k)) {
                t = static_cast<std::int16_t>(k);
                break;
            }
        }
        break;
    default: break;
    }
    if (t == 0) {
        for (std::int16_t k = 1; k <= n; ++k) {
            if (alive(k)) {
                t = k;
                break;
            }
        }
    }
    return t;
}

} // namespace

void Battle::RunBattle(Roster& roster)
{
    const auto n = static_cast<std::int16_t>(std::min<size_t>(roster.size() - 1, 32767));
    const auto size = static_cast<size_t>(n) + 1;
    std::vector<std::int32_t> gauge(size, 0);
    std::vector<bool> beaten(size, false);
    std::int32_t highest = -1;
    for (size_t k = 0; k < size; ++k)
        highest = std::max(highest, roster[k].Agility);
    const std::int64_t turnThreshold = std::int64_t{10} * highest;

    std::int16_t beatenCount = 0;
    std::int32_t bonusExp = 0;
    std::int32_t maxHitTaken = 0;
    std::int16_t i = 0;

    m_report = BattleReport{};
    m_report.enemies = n;
    m_report.oldLevel = roster[0].Level;

    CharaRecord& chara = roster[0];
    const auto left = [&] { return static_cast<std::int32_t>(n - beatenCount); };
    MessageArgs args;
    args.chara = chara.Name;

    ShowVitarity(chara.Vitarity);
    say(BattleEvent::BattleStart, args, 2.0F, left());

    // With every Agility 0 no gauge can ever pass the threshold: nobody can
    // act, so the battle ends at once without a winner.
    if (turnThreshold <= 0) {
        m_report.outcome = BattleOutcome::Stalemate;
        Chara.Vitarity = Chara.MaxVitarity;
        Idle = kTrue;
        return;
    }

    for (;;) {
        std::int64_t g = gauge[static_cast<size_t>(i)];
        if (!beaten[static_cast<size_t>(i)])
            g += roster[static_cast<size_t>(i)].Agility;
        if (g <= turnThreshold) {
            gauge[static_cast<size_t>(i)] = static_cast<std::int32_t>(g);
            i = i == n ? std::int16_t{0} : static_cast<std::int16_t>(i + 1);
            continue;
        }
        gauge[static_cast<size_t>(i)] = static_cast<std::int32_t>(g - turnThreshold);
        ++m_report.turns;

        // One turn of combatant i against t.
        const std::int16_t t = i != 0 ? std::int16_t{0} : chooseTarget(roster, beaten, n);
        CharaRecord& attacker = roster[static_cast<size_t>(i)];
        CharaRecord& target = roster[static_cast<size_t>(t)];
        args.attacker = attacker.Name;
        args.target = target.Name;

        if (t != 0) {
            m_view.SelectEntryRow(target, true);
            m_view.ProcessEvents();
        }
        say(t != 0 ? BattleEvent::AttackByCharacter : BattleEvent::AttackOnCharacter, args, 0.0F, left());

        const double a = draw();
        const double b = draw();
        if (!(b * target.Agility < a * attacker.Agility)) {
            say(t != 0 ? BattleEvent::EnemyDodged : BattleEvent::CharacterDodged, args, 0.0F, left());
            if (t == 0 && chara.Agility < attacker.Agility)
                bonusExp += 2;
        } else {
            std::int32_t dmg;
            const double u = draw();
            if (u * (static_cast<double>(target.Luck) + target.Agility) < attacker.Luck * 0.05) {
                const double d = draw();
                dmg = roundToInt<std::int32_t>(std::fabs(attacker.Strength - d * target.Defense));
                say(i == 0 ? BattleEvent::CriticalByCharacter : BattleEvent::CriticalByEnemy, args, 0.0F, left());
                if (i == 0 && chara.Agility < target.Agility)
                    bonusExp += 3;
            } else {
                const double e = draw();
                dmg = roundToInt<std::int32_t>((e + 0.3) * (static_cast<double>(attacker.Strength) - target.Defense));
                if (dmg <= 0)
                    dmg = 1;
                if (i == 0)
                    bonusExp += 1;
            }
            args.damage = dmg;

            target.Vitarity = static_cast<std::int32_t>(std::max<std::int64_t>(std::int64_t{target.Vitarity} - dmg, 0));
            if (t != 0) {
                const QString text = MessageText(MsgType, BattleEvent::DamageDealt, args);
                m_view.UpdateEntryRow(target, true);
                m_view.ProcessEvents();
                tell(BattleEvent::DamageDealt, text, 0.0F, left());
            } else {
                const QString text = MessageText(MsgType, BattleEvent::DamageTaken, args);
                ShowVitarity(chara.Vitarity);
                maxHitTaken = std::max(maxHitTaken, dmg);
                tell(BattleEvent::DamageTaken, text, 0.0F, left());
            }

            if (target.Vitarity <= 0) {
                beaten[static_cast<size_t>(t)] = true;
                if (t != 0) {
                    const QString text = MessageText(MsgType, BattleEvent::EnemyBeaten, args);
                    gauge[static_cast<size_t>(t)] = 0;
                    ++beatenCount;
                    ++m_report.beaten;
                    m_view.SetEntryRowIcon(target, QStringLiteral("Dead"));
                    m_view.ProcessEvents();
                    if (target.Level > chara.Level)
                        bonusExp += 3 * (target.Level - chara.Level);
                    DisposeFile(target.FileName);
                    tell(BattleEvent::EnemyBeaten, text, 0.0F, left());
                } else {
                    const QString text = MessageText(MsgType, BattleEvent::CharacterDied, args);
                    beatenCount = -1;
                    tell(BattleEvent::CharacterDied, text, 2.0F, left());
                }
            }
        }

        if (beatenCount == n || beatenCount == -1) {
            m_report.bonusExp = bonusExp;
            m_report.maxHitTaken = maxHitTaken;
            if (beatenCount == n)
                Victory(roster);
            else
                Defeat(roster);
            return;
        }
    }
}

} // namespace dm
