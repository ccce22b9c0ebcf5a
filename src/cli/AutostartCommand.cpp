#include "cli/Cli.h"
#include "services/Autostart.h"

#include <QDir>
#include <QFileInfo>

namespace dm::cli {
namespace {

// The desktop program beside this one: in the same bindir when installed,
// one folder up in the build tree.
QString guiProgram()
{
    const QDir here = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).dir();
    for (const QString& candidate : {QStringLiteral("dustmaw"), QStringLiteral("../dustmaw")}) {
        const QFileInfo gui(here.filePath(candidate));
        if (gui.isFile() && gui.isExecutable())
            return gui.canonicalFilePath();
    }
    return {};
}

QString describeOn()
{
    const QString program = AutostartProgram();
    return QStringLiteral("%1 starts %2")
        .arg(AutostartPath(), program.isEmpty() ? QStringLiteral("nothing: it has no Exec") : program);
}

bool programGone()
{
    const QFileInfo program(AutostartProgram());
    return !program.isFile() || !program.isExecutable();
}

} // namespace

int runAutostart(const QStringList& args)
{
    if (args.size() != 1)
        return usageError(QStringLiteral("autostart: expected one of on, off, status"));
    const QString& what = args.front();
    const bool on = AutostartEnabled();

    if (what == QLatin1String("status")) {
        if (!on) {
            out(QStringLiteral("autostart: off"));
            return ExitOk;
        }
        if (programGone()) {
            out(QStringLiteral("autostart: on (%1)").arg(describeOn()));
            err(QStringLiteral("dustmaw-cli: warning: the entry's program is not there; 'dustmaw-cli autostart on' "
                               "points it at this installation's"));
            return ExitOk;
        }
        // The program is there, yet sessions would skip the entry, e.g. an older version's for a path with '%'.
        if (!AutostartStartable()) {
            out(QStringLiteral("autostart: on, but the desktop cannot start it (%1)").arg(describeOn()));
            err(QStringLiteral("dustmaw-cli: autostart: desktop sessions skip this entry: they find no program to "
                               "start in it (a path holding '%' is one cause); 'dustmaw-cli autostart on' writes it "
                               "anew or says why it cannot"));
            return ExitFailure;
        }
        out(QStringLiteral("autostart: on (%1)").arg(describeOn()));
        return ExitOk;
    }

    if (what == QLatin1String("on")) {
        if (on && !programGone() && AutostartStartable()) {
            out(QStringLiteral("autostart: was already on (%1)").arg(describeOn()));
            return ExitOk;
        }
        const QString gui = guiProgram();
        if (gui.isEmpty()) {
            err(QStringLiteral("dustmaw-cli: autostart: no dustmaw program beside this dustmaw-cli, so nothing to "
                               "start at login"));
            return ExitFailure;
        }
        const AutostartResult r = EnableAutostart(gui);
        if (!r.ok) {
            err(QStringLiteral("dustmaw-cli: autostart: ") + r.error);
            return ExitFailure;
        }
        out(QStringLiteral("autostart: on (%1)").arg(describeOn()));
        return ExitOk;
    }

    if (what == QLatin1String("off")) {
        if (!on) {
            out(QStringLiteral("autostart: was already off"));
            return ExitOk;
        }
        const AutostartResult r = DisableAutostart();
        if (!r.ok) {
            err(QStringLiteral("dustmaw-cli: autostart: ") + r.error);
            return ExitFailure;
        }
        out(QStringLiteral("autostart: off (removed %1)").arg(AutostartPath()));
        return ExitOk;
    }
    return usageError(QStringLiteral("autostart: unknown state '%1' (on, off or status)").arg(what));
}

} // namespace dm::cli
