#pragma once
// The texts of the parameter sheet's value rows, shared by the sheet and the
// command-line tool so both show a character the same way.
#include "character/CharaRecord.h"

#include <QString>

namespace dm {

struct ParamText {
    QString name; // " " + name
    QString tribe; // " " + tribe
    QString level; // level + " "
    QString vitarity; // "134/134 "
    QString strength; // "52(15%) "
    QString defense;
    QString agility;
    QString luck;
    QString experience;
    QString item;
    QString nextLevel;
};

[[nodiscard]] ParamText ShowParamText(const QString& path, const CharaRecord& chara, const CharaRecord& item);

} // namespace dm
