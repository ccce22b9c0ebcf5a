#include "cli/Cli.h"
#include "cli/Json.h"
#include "services/Settings.h"
#include "services/HomeFolder.h"

namespace dm::cli {
namespace {

// MsgWait as the decimal the user chose (1.6, not 1.60000002).
double shortestOf(float v) { return QString::number(static_cast<double>(v), 'g', 7).toDouble(); }

} // namespace

int runSettings(const QStringList& args)
{
    bool json = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--json"))
            json = true;
        else
            return usageError(QStringLiteral("settings: unexpected argument '%1'").arg(a));
    }

    // What start-up would do, without creating or writing anything.
    ResetSettings();
    const bool exists = SettingsFileExists();
    const SavedPosition pos = ReadSettings();

    if (json) {
        JsonObject o;
        o.add("IniPath", IniPath())
            .add("IniExists", exists)
            .add("MsgWait", shortestOf(MsgWait))
            .add("AttSr", std::int64_t{AttSr})
            .add("DeadAfter", std::int64_t{DeadAfter})
            .add("FormTop", std::int64_t{FormTop})
            .add("MsgType", std::int64_t{MsgType})
            .add("Log", std::int64_t{Log})
            .add("Minimize", std::int64_t{Minimize})
            .add("CharaPath", CharaPath)
            .add("Left", std::int64_t{pos.Left})
            .add("Top", std::int64_t{pos.Top})
            .add("EntryLeft", std::int64_t{EntryLeft})
            .add("EntryTop", std::int64_t{EntryTop})
            .add("ParamLeft", std::int64_t{ParamLeft})
            .add("ParamTop", std::int64_t{ParamTop});
        out(QString::fromUtf8(o.toJson()));
        return ExitOk;
    }

    const auto row = [](const char* name, const QString& value) {
        out(QStringLiteral("%1 %2").arg(QString::fromLatin1(name) + QLatin1Char(':'), -11).arg(value));
    };
    row("DM.ini", IniPath() + (exists ? QString() : QStringLiteral(" (not found: defaults in effect)")));
    row("MsgWait", QString::number(static_cast<double>(MsgWait), 'g', 7));
    row("AttSr", QString::number(AttSr));
    row("DeadAfter", QString::number(DeadAfter));
    row("FormTop", QString::number(FormTop));
    row("MsgType", QString::number(MsgType));
    row("Log", QString::number(Log));
    row("Minimize", QString::number(Minimize));
    row("CharaPath", CharaPath);
    row("Left", QString::number(pos.Left));
    row("Top", QString::number(pos.Top));
    row("EntryLeft", QString::number(EntryLeft));
    row("EntryTop", QString::number(EntryTop));
    row("ParamLeft", QString::number(ParamLeft));
    row("ParamTop", QString::number(ParamTop));
    return ExitOk;
}

} // namespace dm::cli
