#pragma once
// Any file becomes a combatant: its name gives the base parameters and the
// item, its extension the tribe and the experience step, its size the level.
#include "character/CharaRecord.h"
#include "services/clsFile.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <array>

namespace dm {

// Fills chara and item from the file at path and returns 0; returns -1 and
// leaves both as they were when path is a folder, missing or unreadable.
[[nodiscard]] std::int16_t LoadChara(const QString& path, CharaRecord& chara, CharaRecord& item);
// The same for a file already probed, so a caller that has just opened it
// (the drop's filter) does not open it again.
[[nodiscard]] std::int16_t LoadChara(const clsFile& file, const clsFile::Probe& probe, CharaRecord& chara,
                                     CharaRecord& item);

// The k-th byte (from 1) of bytes, or 0 when k is past the byte length less
// one: the last byte is never returned.
[[nodiscard]] std::int16_t ByteAt(const QByteArray& bytes, int k);

// The item that chara.ItemNo selects; two items draw their bonuses anew.
[[nodiscard]] CharaRecord PickItem(const CharaRecord& chara);

// The value a base parameter takes in battle under an item percentage.
[[nodiscard]] std::int32_t EffectiveParameter(std::int32_t percent, std::int32_t base);

// The character with its item's percentages applied to the four parameters.
[[nodiscard]] CharaRecord WithItemApplied(const CharaRecord& chara, const CharaRecord& item);

// The level that `experience` reaches with `levelStep` bytes per level.
[[nodiscard]] std::int32_t LevelForExperience(std::int32_t levelStep, std::int64_t experience);

// Total experience at which chara's next level is reached.
[[nodiscard]] std::int64_t NextLevelExperience(const CharaRecord& chara);

// The steps of the derivation, exposed for the tests and the tool.
[[nodiscard]] std::int32_t LevelStepOf(const QString& tribe);
struct NameDigits {
    std::array<int, 8> d{};
};
[[nodiscard]] NameDigits DigitsOf(const QString& name);
[[nodiscard]] std::int32_t ItemNoOf(const NameDigits& digits);

} // namespace dm
