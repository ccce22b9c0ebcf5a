#pragma once
// The texts of every battle event in the three message styles.
#include <QString>

#include <cstdint>

namespace dm {

enum class BattleEvent {
    BattleStart,
    Victory,
    Experience,
    LevelUp,
    CharacterDied,
    AttackByCharacter, // the character attacks enemy T
    AttackOnCharacter, // enemy A attacks the character
    EnemyDodged, // enemy T dodged
    CharacterDodged,
    CriticalByCharacter,
    CriticalByEnemy, // by enemy A
    DamageDealt, // to enemy T
    DamageTaken,
    EnemyBeaten, // enemy T
};

// Business-like, role-playing, violent.
enum MessageStyle : std::int16_t { StyleBusiness = 0, StyleRpg = 1, StyleViolent = 2 };

struct MessageArgs {
    QString chara; // {C}
    QString attacker; // {A}
    QString target; // {T}
    std::int32_t damage = 0; // {D}
    std::int32_t gain = 0; // {G}
    std::int32_t levels = 0; // {K}
};

// The text of an event in a style; empty for a style that does not exist.
[[nodiscard]] QString MessageText(std::int16_t style, BattleEvent event, const MessageArgs& args);

} // namespace dm
