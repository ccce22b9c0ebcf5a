#pragma once
// The record of the character, of every enemy and of an item. An item uses
// only Item and the four percentages Strength..Luck (100 + bonus).
#include <QString>

#include <cstdint>

namespace dm {

struct CharaRecord {
    QString Name;
    std::int32_t Level = 0;
    std::int32_t MaxVitarity = 0;
    std::int32_t Vitarity = 0;
    std::int32_t Strength = 0;
    std::int32_t Defense = 0;
    std::int32_t Agility = 0;
    std::int32_t Luck = 0;
    std::int32_t ItemNo = 0;
    QString Item;
    QString Tribe;
    std::int32_t Experience = 0;
    QString LongPath;
    std::int32_t LevelStep = 0;
    QString FileName;

    bool operator==(const CharaRecord&) const = default;
};

// The current character, process-wide, as derived from CharaPath (a
// setting).
extern CharaRecord Chara;
extern CharaRecord CharaItem;

// The settings (ResetSettings) and the current character to their start
// values. Start-up calls it once; tests call it between cases.
void ResetSharedState();

} // namespace dm
