#include "character/CharaFile.h"
#include "character/LoadChara.h"
#include "character/ParamText.h"
#include "cli/Cli.h"
#include "cli/Json.h"

namespace dm::cli {
namespace {

JsonObject fourOf(const CharaRecord& r)
{
    JsonObject o;
    o.add("Strength", std::int64_t{r.Strength})
        .add("Defense", std::int64_t{r.Defense})
        .add("Agility", std::int64_t{r.Agility})
        .add("Luck", std::int64_t{r.Luck});
    return o;
}

QByteArray toJson(const CharaRecord& c, const CharaRecord& item)
{
    JsonObject o;
    o.add("Name", c.Name)
        .add("Level", std::int64_t{c.Level})
        .add("MaxVitarity", std::int64_t{c.MaxVitarity})
        .add("Vitarity", std::int64_t{c.Vitarity})
        .add("Strength", std::int64_t{c.Strength})
        .add("Defense", std::int64_t{c.Defense})
        .add("Agility", std::int64_t{c.Agility})
        .add("Luck", std::int64_t{c.Luck})
        .add("ItemNo", std::int64_t{c.ItemNo})
        .add("Item", c.Item)
        .add("Tribe", c.Tribe)
        .add("Experience", std::int64_t{c.Experience})
        .add("LongPath", c.LongPath)
        .add("LevelStep", std::int64_t{c.LevelStep})
        .add("FileName", c.FileName)
        .add("ItemPercent", fourOf(item))
        .add("Effective", fourOf(WithItemApplied(c, item)))
        .add("NextLevel", NextLevelExperience(c));
    return o.toJson();
}

void printSheet(const CharaRecord& c, const CharaRecord& item)
{
    const ParamText t = ShowParamText(c.FileName, c, item);
    const auto row = [](const char* caption, const QString& value) {
        out(QStringLiteral("  %1 %2").arg(QString::fromLatin1(caption), 12).arg(value.trimmed()));
    };
    out(c.FileName);
    row("Name :", t.name);
    row("Tribe :", t.tribe);
    row("Level :", t.level);
    row("Vitarity :", t.vitarity);
    row("Strength :", t.strength);
    row("Defense :", t.defense);
    row("Agility :", t.agility);
    row("Luck :", t.luck);
    row("Experience :", t.experience);
    row("Next Level :", t.nextLevel);
    row("Item :", t.item);
}

} // namespace

int runInspect(const QStringList& args)
{
    bool json = false;
    QStringList paths;
    bool optionsDone = false;
    for (const QString& a : args) {
        if (!optionsDone && a == QLatin1String("--json"))
            json = true;
        else if (!optionsDone && a == QLatin1String("--"))
            optionsDone = true;
        else if (!optionsDone && a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return usageError(QStringLiteral("inspect: unknown option '%1'").arg(a));
        else
            paths << a;
    }
    if (paths.isEmpty())
        return usageError(QStringLiteral("inspect: no file given"));

    const std::optional<QStringList> absolute = absolutePaths(paths);
    if (!absolute)
        return ExitUsage;
    int status = ExitOk;
    bool first = true;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& arg = paths[i];
        const QString& path = (*absolute)[i];
        CharaRecord chara;
        CharaRecord item;
        if (LoadChara(path, chara, item) != 0) {
            status = ExitFailure;
            const QString reason = refusalReason(path);
            if (json) {
                JsonObject o;
                o.add("FileName", path).add("error", reason);
                out(QString::fromUtf8(o.toJson()));
            } else {
                err(QStringLiteral("dustmaw-cli: %1: %2").arg(arg, reason));
            }
            continue;
        }
        if (json) {
            out(QString::fromUtf8(toJson(chara, item)));
        } else {
            if (!first)
                out(QString());
            printSheet(chara, item);
        }
        first = false;
    }
    return status;
}

int runVerify(const QStringList& args)
{
    QStringList paths;
    for (const QString& a : args) {
        if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return usageError(QStringLiteral("verify: unknown option '%1'").arg(a));
        paths << a;
    }
    if (paths.isEmpty())
        return usageError(QStringLiteral("verify: no file given"));

    const std::optional<QStringList> absolute = absolutePaths(paths);
    if (!absolute)
        return ExitUsage;
    int status = ExitOk;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& arg = paths[i];
        const QString& path = (*absolute)[i];
        CharaRecord chara;
        CharaRecord item;
        if (LoadChara(path, chara, item) != 0) {
            err(QStringLiteral("dustmaw-cli: %1: %2").arg(arg, refusalReason(path)));
            status = ExitFailure;
        } else if (CheckCharaFile(path)) {
            out(QStringLiteral("%1: valid").arg(arg));
        } else {
            out(QStringLiteral("%1: invalid (header %2, size %3 needs %4)")
                    .arg(arg)
                    .arg(StoredCheckValue(path), 3, 10, QLatin1Char('0'))
                    .arg(chara.Experience)
                    .arg(CheckSum(chara.Experience), 3, 10, QLatin1Char('0')));
            status = ExitFailure;
        }
    }
    return status;
}

} // namespace dm::cli
