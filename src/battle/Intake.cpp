// A drop of files becomes a roster: the character and one enemy per
// acceptable file, in drop order.
#include "battle/Battle.h"
#include "battle/History.h"
#include "character/LoadChara.h"
#include "services/Settings.h"
#include "services/HomeFolder.h"

#include <QDir>
#include <QSet>
#include <QTime>
#include <QUrl>

#include <limits>

namespace dm {

namespace {
// The battle counts combatants in 16 bits.
constexpr qsizetype kMaxEnemies = std::numeric_limits<std::int16_t>::max();
} // namespace

std::optional<QStringList> DroppedPaths(const QMimeData& data)
{
    if (!data.hasUrls())
        return std::nullopt;
    QStringList paths;
    const QList<QUrl> urls = data.urls();
    // Bytes that are not UTF-8 sent as they are, not as "%FF", are U+FFFD in
    // the URLs already, like a name that really has one: from such a list,
    // no name with U+FFFD is taken.
    const QByteArray list = data.data(QStringLiteral("text/uri-list"));
    const bool rawBytes = QString::fromUtf8(list).toUtf8() != list;
    for (const QUrl& url : urls) {
        // Only plain absolute paths: "file:a.txt" would name a file in the
        // program's working folder, "/a/../b" another entry than it shows.
        // A name that is not UTF-8 ("%FF") comes back with U+FFFD for each
        // bad byte, the name of another file: only bytes that survive count.
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        if (path.startsWith(QLatin1Char('/')) && QDir::cleanPath(path) == path
            && QFile::encodeName(path) == QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())
            && !(rawBytes && path.contains(QChar::ReplacementCharacter)))
            paths << path;
    }
    return paths;
}

std::optional<CharaRecord> Battle::AddEnemy(const clsFile& file, const clsFile::Probe& probe)
{
    CharaRecord record;
    CharaRecord item;
    if (LoadChara(file, probe, record, item) != 0)
        return std::nullopt;
    record = WithItemApplied(record, item);
    m_view.AddEntryRow(record);
    m_view.UpdateEntryRow(record, false);
    m_view.ProcessEvents();
    return record;
}

Roster Battle::BuildRoster(const QStringList& paths)
{
    Roster roster;
    roster.push_back(WithItemApplied(Chara, CharaItem));

    // The character's own file never fights, also when it comes by another
    // name (a link, "/./" in the path): beaten, it would be disposed of.
    clsFile& file = FileObj();
    file.setFileName(CharaPath);
    const clsFile::Probe own = file.probe();
    const auto isOwnFile = [&own](const clsFile::Probe& p) {
        return own.enabled && p.st.st_dev == own.st.st_dev && p.st.st_ino == own.st.st_ino;
    };

    // A path dropped twice is one file and one enemy.
    QSet<QString> seen;
    seen.reserve(paths.size());
    clsFile::Folders folders;
    for (const QString& path : paths) {
        if (static_cast<qsizetype>(roster.size()) > kMaxEnemies)
            break;
        file.setFileName(path);
        if (path == CharaPath)
            continue;
        // One probe answers Directory, Hidden, ReadOnly and System.
        const clsFile::Probe probe = file.probe(clsFile::Look::WithAttributes);
        if (probe.isDirectory() || isOwnFile(probe))
            continue;
        if ((file.attributes(probe, &folders) & (clsFile::AttrHidden | clsFile::AttrReadOnly | clsFile::AttrSystem))
            != 0)
            continue;
        if (seen.contains(path))
            continue;
        seen.insert(path);
        if (std::optional<CharaRecord> enemy = AddEnemy(file, probe))
            roster.push_back(std::move(*enemy));
    }
    return roster;
}

DropResult Battle::Form_OLEDragDrop(const std::optional<QStringList>& paths)
{
    if (Idle != kTrue) {
        m_view.Beep();
        return DropResult::Busy;
    }
    if (CharaPath.isEmpty()) {
        m_view.ShowMessageBox(QStringLiteral("キャラが未設定です"));
        return DropResult::NoCharacter;
    }
    // A dry run writes nothing, so it cannot lose experience either.
    if (!m_options.dryRun && !m_lock.acquire(CharaPath)) {
        m_report = BattleReport{};
        m_report.lockHolder = m_lock.holder();
        return DropResult::CharaBusy;
    }
    m_view.ClearEntryList();
    if (!paths)
        return DropResult::NoFiles;

    Roster roster = BuildRoster(*paths);
    if (roster.size() < 2)
        return DropResult::NothingAccepted;

    if (!m_options.dryRun) {
        QSet<QString> fought;
        fought.reserve(static_cast<qsizetype>(roster.size()));
        for (const CharaRecord& r : roster)
            fought.insert(r.FileName);
        QStringList refused;
        for (const QString& path : *paths) {
            // Inserted into `fought` too, so a path dropped twice is listed once.
            if (!fought.contains(path)) {
                fought.insert(path);
                refused << path;
            }
        }
        // Kept when it cannot begin: no file then moves, each says why.
        m_history = std::make_unique<HistoryWriter>();
        std::ignore = m_history->begin(roster, refused);
    }

    LogPath = Log == 1 ? HomeFolder() + QLatin1Char('/') + Chara.Name + QLatin1Char('_')
            + QTime::currentTime().toString(QStringLiteral("HHmmss")) + QStringLiteral(".Log")
                       : QString();
    m_view.ShowEntryWindow();
    m_view.ProcessEvents();
    Idle = kFalse;
    RunBattle(roster);
    if (m_history) {
        m_history->end(m_report.outcome);
        m_report.historyNumber = m_history->number();
        m_report.historyError = m_history->errorString();
        m_history.reset();
    }
    m_lock.release();
    return DropResult::Fought;
}

} // namespace dm
