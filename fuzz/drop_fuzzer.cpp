// Arbitrary text/uri-list bytes as a drop: the paths the battle receives,
// filtered and derived into a roster as a real drop's are.
#include "battle/Battle.h"

#include <QMimeData>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QMimeData mime;
    mime.setData(QStringLiteral("text/uri-list"),
                 QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const std::optional<QStringList> paths = dm::DroppedPaths(mime);
    if (!paths)
        return 0;
    for (const QString& p : *paths) {
        if (!p.startsWith(QLatin1Char('/')))
            __builtin_trap();
    }
    // Each path is looked up on disk: a few of them exercise the filter, more
    // would only slow the search down.
    const QStringList some = paths->mid(0, 8);
    dm::BattleView view;
    dm::Battle battle(view);
    const dm::Roster roster = battle.BuildRoster(some);
    if (roster.empty() || roster.size() > static_cast<size_t>(some.size()) + 1)
        __builtin_trap();
    return 0;
}
