#include "character/ParamText.h"

#include "character/LoadChara.h"
#include "services/clsFile.h"

namespace dm {
namespace {
QString withBonus(std::int32_t percent, std::int32_t base)
{
    return QStringLiteral("%1(%2%) ").arg(EffectiveParameter(percent, base)).arg(percent - 100);
}
} // namespace

ParamText ShowParamText(const QString& path, const CharaRecord& chara, const CharaRecord& item)
{
    clsFile file;
    file.setFileName(path);
    ParamText t;
    t.name = QLatin1Char(' ') + file.ShortFileName();
    t.tribe = QLatin1Char(' ') + chara.Tribe;
    t.level = QString::number(chara.Level) + QLatin1Char(' ');
    t.vitarity = QStringLiteral("%1/%2 ").arg(chara.Vitarity).arg(chara.MaxVitarity);
    t.strength = withBonus(item.Strength, chara.Strength);
    t.defense = withBonus(item.Defense, chara.Defense);
    t.agility = withBonus(item.Agility, chara.Agility);
    t.luck = withBonus(item.Luck, chara.Luck);
    t.experience = QString::number(chara.Experience) + QLatin1Char(' ');
    t.item = chara.Item + QLatin1Char(' ');
    t.nextLevel = QString::number(NextLevelExperience(chara)) + QLatin1Char(' ');
    return t;
}

} // namespace dm
