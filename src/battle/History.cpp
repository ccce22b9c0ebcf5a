#include "battle/History.h"

#include "services/AtomicFile.h"
#include "services/HomeFolder.h"
#include "services/Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dm {

namespace {

constexpr const char* kSuffix = ".battle";

constexpr std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

std::uint32_t crc32(const char* data, qsizetype size)
{
    std::uint32_t c = 0xFFFFFFFFU;
    for (qsizetype i = 0; i < size; ++i)
        c = kCrcTable[(c ^ static_cast<unsigned char>(data[i])) & 0xFFU] ^ (c >> 8);
    return c ^ 0xFFFFFFFFU;
}

// One line of a record under construction: a JSON object whose keys keep
// their order. 64-bit values that a double cannot hold exactly (times in
// nanoseconds, inodes) are written as strings.
class Line {
public:
    Line& str(const char* key, const QString& value)
    {
        this->key(key);
        quote(value.toUtf8());
        return *this;
    }
    Line& num(const char* key, std::int64_t value)
    {
        this->key(key);
        m_json += QByteArray::number(static_cast<qlonglong>(value));
        return *this;
    }
    Line& big(const char* key, std::uint64_t value)
    {
        this->key(key);
        m_json += '"' + QByteArray::number(static_cast<qulonglong>(value)) + '"';
        return *this;
    }
    Line& bigSigned(const char* key, std::int64_t value)
    {
        this->key(key);
        m_json += '"' + QByteArray::number(static_cast<qlonglong>(value)) + '"';
        return *this;
    }
    [[nodiscard]] QByteArray done() const
    {
        const QByteArray json = m_json + '}';
        char crc[10];
        std::snprintf(crc, sizeof crc, "\t%08x", crc32(json.constData(), json.size()));
        return json + crc + '\n';
    }

private:
    void key(const char* key)
    {
        m_json += m_json.size() == 1 ? "\"" : ",\"";
        m_json += key;
        m_json += "\":";
    }
    void quote(const QByteArray& utf8)
    {
        m_json += '"';
        for (const char c : utf8) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                m_json += '\\';
                m_json += c;
            } else if (u < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", u);
                m_json += esc;
            } else {
                m_json += c;
            }
        }
        m_json += '"';
    }
    QByteArray m_json = "{";
};

// The line's object when its checksum holds; empty otherwise.
std::optional<QJsonObject> checkedObject(QByteArrayView line)
{
    const qsizetype tab = line.lastIndexOf('\t');
    if (tab < 0 || line.size() - tab != 9)
        return std::nullopt;
    bool ok = false;
    const std::uint32_t stored = line.sliced(tab + 1).toUInt(&ok, 16);
    const QByteArrayView json = line.first(tab);
    if (!ok || stored != crc32(json.data(), json.size()))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(json.toByteArray());
    if (!doc.isObject())
        return std::nullopt;
    return doc.object();
}

std::uint64_t bigValue(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString().toULongLong();
}
std::int64_t bigSignedValue(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString().toLongLong();
}

const char* const kFateNames[]
    = {"untouched", "trashing", "trashed", "deleting", "deleted", "vanished", "failed", "kept"};
const char* const kOutcomeNames[] = {"none", "victory", "defeat", "stalemate"};

std::optional<Fate> fateFromName(const QString& name)
{
    for (size_t k = 0; k < std::size(kFateNames); ++k) {
        if (name == QLatin1String(kFateNames[k]))
            return static_cast<Fate>(k);
    }
    return std::nullopt;
}

Line fileLine(const HistoryFile& f)
{
    Line line;
    line.num("file", f.index)
        .str("path", f.path)
        .num("size", f.size)
        .num("mode", f.mode)
        .bigSigned("atime", f.atimeNs)
        .bigSigned("mtime", f.mtimeNs)
        .bigSigned("ctime", f.ctimeNs)
        .big("dev", f.id.dev)
        .big("ino", f.id.ino);
    return line;
}

void addSlot(Line& line, const TrashSlot& slot, const FileId& moved)
{
    line.str("trash", slot.trashDir).str("name", slot.name).big("mdev", moved.dev).big("mino", moved.ino);
}

void readSlot(const QJsonObject& o, HistoryFile& f)
{
    f.slot.trashDir = o.value(QLatin1String("trash")).toString();
    f.slot.name = o.value(QLatin1String("name")).toString();
    f.movedId = {bigValue(o, "mdev"), bigValue(o, "mino")};
}

bool plainName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".")
        && name != QLatin1String("..");
}

// Applies one line to the record being read; false when it makes no sense.
bool apply(BattleRecord& r, const QJsonObject& o)
{
    const auto index = [&](const char* key) -> HistoryFile* {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isDouble())
            return nullptr;
        const double d = v.toDouble();
        if (d < 0 || d >= static_cast<double>(r.files.size()) || d != static_cast<double>(static_cast<int>(d)))
            return nullptr;
        return &r.files[static_cast<size_t>(d)];
    };
    if (o.contains(QLatin1String("file"))) {
        const QJsonValue v = o.value(QLatin1String("file"));
        if (!v.isDouble() || v.toDouble() != static_cast<double>(r.files.size()))
            return false;
        HistoryFile f;
        f.index = static_cast<int>(r.files.size());
        f.path = o.value(QLatin1String("path")).toString();
        if (!f.path.startsWith(QLatin1Char('/')))
            return false;
        f.size = static_cast<std::int64_t>(o.value(QLatin1String("size")).toDouble());
        f.mode = static_cast<std::uint32_t>(o.value(QLatin1String("mode")).toInt());
        f.atimeNs = bigSignedValue(o, "atime");
        f.mtimeNs = bigSignedValue(o, "mtime");
        f.ctimeNs = bigSignedValue(o, "ctime");
        f.id = {bigValue(o, "dev"), bigValue(o, "ino")};
        if (o.contains(QLatin1String("fate"))) {
            const std::optional<Fate> fate = fateFromName(o.value(QLatin1String("fate")).toString());
            if (!fate)
                return false;
            f.fate = *fate;
            if (f.fate == Fate::Trashing || f.fate == Fate::Trashed) {
                readSlot(o, f);
                if (!plainName(f.slot.name) || !f.slot.trashDir.startsWith(QLatin1Char('/')))
                    return false;
            }
            f.reason = o.value(QLatin1String("reason")).toString();
        }
        r.files.push_back(std::move(f));
        return true;
    }
    if (HistoryFile* f = index("trashing")) {
        readSlot(o, *f);
        if (!plainName(f->slot.name) || !f->slot.trashDir.startsWith(QLatin1Char('/')))
            return false;
        f->fate = Fate::Trashing;
        return true;
    }
    if (HistoryFile* f = index("deleting")) {
        f->fate = Fate::Deleting;
        return true;
    }
    if (HistoryFile* f = index("disposed")) {
        if (f->fate == Fate::Trashing)
            f->fate = Fate::Trashed;
        else if (f->fate == Fate::Deleting)
            f->fate = Fate::Deleted;
        else
            return false;
        return true;
    }
    if (HistoryFile* f = index("failed")) {
        f->fate = Fate::Failed;
        f->reason = o.value(QLatin1String("reason")).toString();
        return true;
    }
    if (HistoryFile* f = index("vanished")) {
        f->fate = Fate::Vanished;
        return true;
    }
    if (HistoryFile* f = index("kept")) {
        f->fate = Fate::Kept;
        return true;
    }
    if (o.contains(QLatin1String("refused"))) {
        r.refused << o.value(QLatin1String("refused")).toString();
        return true;
    }
    if (o.contains(QLatin1String("restore"))) {
        const QString folder = o.value(QLatin1String("restore")).toString();
        if (!folder.isEmpty() && !folder.startsWith(QLatin1Char('/')))
            return false;
        if (!r.restoreFolders.contains(folder))
            r.restoreFolders << folder;
        return true;
    }
    if (o.contains(QLatin1String("ended"))) {
        r.endedMs = static_cast<std::int64_t>(o.value(QLatin1String("ended")).toDouble());
        const QString outcome = o.value(QLatin1String("outcome")).toString();
        for (size_t k = 0; k < std::size(kOutcomeNames); ++k) {
            if (outcome == QLatin1String(kOutcomeNames[k]))
                r.outcome = static_cast<BattleOutcome>(k);
        }
        return r.endedMs != 0;
    }
    return false;
}

QByteArray headerLine(const BattleRecord& r)
{
    return Line()
        .num("battle", r.number)
        .num("started", r.startedMs)
        .str("chara", r.chara)
        .str("name", r.charaName)
        .num("order", r.order)
        .num("style", r.style)
        .num("disposal", r.disposal)
        .done();
}

bool readHeader(BattleRecord& r, const QJsonObject& o)
{
    const QJsonValue number = o.value(QLatin1String("battle"));
    if (!number.isDouble() || number.toDouble() < 1)
        return false;
    r.number = static_cast<std::int64_t>(number.toDouble());
    r.startedMs = static_cast<std::int64_t>(o.value(QLatin1String("started")).toDouble());
    r.chara = o.value(QLatin1String("chara")).toString();
    r.charaName = o.value(QLatin1String("name")).toString();
    r.order = static_cast<std::int16_t>(o.value(QLatin1String("order")).toInt());
    r.style = static_cast<std::int16_t>(o.value(QLatin1String("style")).toInt());
    r.disposal = static_cast<std::int16_t>(o.value(QLatin1String("disposal")).toInt());
    return true;
}

// The numbers of the records in the history folder, ascending.
std::vector<std::int64_t> recordNumbers()
{
    std::vector<std::int64_t> numbers;
    const QByteArray folder = QFile::encodeName(HistoryFolder());
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return numbers;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.endsWith(kSuffix))
            continue;
        bool ok = false;
        const qlonglong n = name.chopped(static_cast<qsizetype>(std::strlen(kSuffix))).toLongLong(&ok);
        if (ok && n > 0 && name.front() != '+' && name.front() != '-')
            numbers.push_back(n);
    }
    ::closedir(dir);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

QString baseName(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

QString HistoryFolder() { return HomeFolder() + QStringLiteral("/history"); }

QString BattleRecordPath(std::int64_t number)
{
    return HistoryFolder() + QLatin1Char('/') + QStringLiteral("%1").arg(number, 6, 10, QLatin1Char('0'))
        + QLatin1String(kSuffix);
}

const HistoryFile* BattleRecord::file(int index) const
{
    return index >= 0 && static_cast<size_t>(index) < files.size() ? &files[static_cast<size_t>(index)] : nullptr;
}

QString FateName(Fate fate) { return QLatin1String(kFateNames[static_cast<size_t>(fate)]); }
QString OutcomeName(BattleOutcome outcome) { return QLatin1String(kOutcomeNames[static_cast<size_t>(outcome)]); }
QString WhereaboutsName(Whereabouts where)
{
    static const char* const names[]
        = {"in place", "in the Trash", "restored", "deleted", "purged from the Trash", "unknown"};
    return QLatin1String(names[static_cast<size_t>(where)]);
}

std::optional<BattleRecord> ParseBattleRecord(const QByteArray& bytes)
{
    BattleRecord r;
    bool header = false;
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', at);
        const bool torn = end < 0;
        if (torn)
            end = bytes.size();
        const QByteArrayView line(bytes.constData() + at, end - at);
        at = end + 1;
        const std::optional<QJsonObject> o = torn ? std::nullopt : checkedObject(line);
        if (!header) {
            if (!o || !readHeader(r, *o))
                return std::nullopt;
            header = true;
            continue;
        }
        if (!o || !apply(r, *o))
            ++r.badLines;
    }
    if (!header)
        return std::nullopt;
    return r;
}

QByteArray SerializeBattleRecord(const BattleRecord& r)
{
    QByteArray out = headerLine(r);
    for (const HistoryFile& f : r.files) {
        Line line = fileLine(f);
        if (f.fate != Fate::Untouched) {
            line.str("fate", FateName(f.fate));
            if (f.fate == Fate::Trashing || f.fate == Fate::Trashed)
                addSlot(line, f.slot, f.movedId);
            if (!f.reason.isEmpty())
                line.str("reason", f.reason);
        }
        out += line.done();
    }
    for (const QString& path : r.refused)
        out += Line().str("refused", path).done();
    for (const QString& folder : r.restoreFolders)
        out += Line().str("restore", folder).done();
    if (r.finished())
        out += Line().num("ended", r.endedMs).str("outcome", OutcomeName(r.outcome)).done();
    return out;
}

Whereabouts Locate(const BattleRecord& record, const HistoryFile& f)
{
    switch (f.fate) {
    case Fate::Trashing:
    case Fate::Trashed: {
        const FileId moved = f.movedId.valid() ? f.movedId : f.id;
        if (fileIdAt(f.slot.filesPath()) == moved)
            return Whereabouts::InTrash;
        const bool confirmed = f.fate == Fate::Trashed;
        for (const QString& folder : record.restoreFolders) {
            const QString at = folder.isEmpty() ? f.path : folder + QLatin1Char('/') + baseName(f.path);
            if (fileIdAt(at) == moved)
                return folder.isEmpty() && !confirmed ? Whereabouts::InPlace : Whereabouts::Restored;
        }
        // Killed between the record and the move: it never went.
        if (!confirmed && fileIdAt(f.path) == moved)
            return Whereabouts::InPlace;
        return confirmed ? Whereabouts::PurgedFromTrash : Whereabouts::Unknown;
    }
    case Fate::Deleting: return fileIdAt(f.path) == f.id ? Whereabouts::InPlace : Whereabouts::Deleted;
    case Fate::Deleted: return Whereabouts::Deleted;
    case Fate::Untouched:
    case Fate::Vanished:
    case Fate::Failed:
    case Fate::Kept: break;
    }
    return fileIdAt(f.path) == f.id ? Whereabouts::InPlace : Whereabouts::Unknown;
}

std::optional<BattleRecord> ReadBattleRecord(std::int64_t number)
{
    QFile file(BattleRecordPath(number));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<BattleRecord> r = ParseBattleRecord(file.readAll());
    if (r && r->number != number)
        return std::nullopt;
    return r;
}

History ReadHistory()
{
    History h;
    std::vector<std::int64_t> numbers = recordNumbers();
    std::reverse(numbers.begin(), numbers.end());
    for (const std::int64_t n : numbers) {
        std::optional<BattleRecord> r = ReadBattleRecord(n);
        if (!r) {
            h.problems << QStringLiteral("%1: unreadable, skipped").arg(BattleRecordPath(n));
            continue;
        }
        if (r->badLines > 0)
            h.problems << QStringLiteral("%1: %2 unreadable line(s) skipped").arg(BattleRecordPath(n)).arg(r->badLines);
        h.battles.push_back(std::move(*r));
    }
    return h;
}

bool BattleRunning(std::int64_t number)
{
    const int fd = ::open(QFile::encodeName(BattleRecordPath(number)).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool running = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return running;
}

// ---------------------------------------------------------------- writing

HistoryWriter::~HistoryWriter()
{
    if (m_fd >= 0) {
        std::ignore = writeAll(m_fd, m_pending);
        ::close(m_fd);
    }
}

void HistoryWriter::fail(const QString& why)
{
    if (m_error.isEmpty())
        m_error = why;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool HistoryWriter::begin(const Roster& roster, const QStringList& refused)
{
    if (roster.empty() || !EnsureHomeFolder())
        return false;
    const QByteArray folder = QFile::encodeName(HistoryFolder());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        fail(QStringLiteral("%1: %2").arg(HistoryFolder(), errnoText(errno)));
        return false;
    }
    const std::vector<std::int64_t> numbers = recordNumbers();
    std::int64_t number = numbers.empty() ? 1 : numbers.back() + 1;
    for (int tries = 0; tries < 100; ++tries, ++number) {
        m_path = BattleRecordPath(number);
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        fail(QStringLiteral("%1: %2").arg(m_path, errnoText(errno)));
        return false;
    }
    // Held while the battle runs: a restore waits for the end.
    ::flock(m_fd, LOCK_EX);

    m_record = BattleRecord{};
    m_record.number = number;
    m_record.startedMs = QDateTime::currentMSecsSinceEpoch();
    m_record.chara = roster.front().FileName;
    m_record.charaName = roster.front().Name;
    m_record.order = AttSr;
    m_record.style = MsgType;
    m_record.disposal = DeadAfter;
    m_record.refused = refused;
    m_record.files.reserve(roster.size());
    for (const CharaRecord& c : roster) {
        HistoryFile f;
        f.index = static_cast<int>(m_record.files.size());
        f.path = c.FileName;
        struct stat st {};
        if (::lstat(QFile::encodeName(c.FileName).constData(), &st) == 0) {
            f.size = st.st_size;
            f.mode = st.st_mode;
            f.atimeNs = std::int64_t{st.st_atim.tv_sec} * 1000000000 + st.st_atim.tv_nsec;
            f.mtimeNs = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
            f.ctimeNs = std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
            f.id = {st.st_dev, st.st_ino};
        }
        m_record.files.push_back(std::move(f));
    }
    append(SerializeBattleRecord(m_record), true);
    return m_fd >= 0;
}

int HistoryWriter::indexOf(const QString& path) const
{
    // The character's file first: a defeat disposes of it.
    for (const HistoryFile& f : m_record.files) {
        if (f.path == path)
            return f.index;
    }
    return -1;
}

void HistoryWriter::append(const QByteArray& line, bool now)
{
    if (m_fd < 0)
        return;
    m_pending += line;
    if (!now)
        return;
    if (!writeAll(m_fd, m_pending))
        fail(QStringLiteral("%1: %2").arg(m_path, errnoText(errno)));
    m_pending.clear();
}

void HistoryWriter::trashing(const QString& path, const TrashMove& move)
{
    const int i = indexOf(path);
    if (m_fd < 0 || i < 0)
        return;
    HistoryFile& f = m_record.files[static_cast<size_t>(i)];
    f.fate = Fate::Trashing;
    f.slot = move.slot();
    f.movedId = move.id();
    Line line;
    line.num("trashing", i);
    addSlot(line, f.slot, f.movedId);
    append(line.done(), true);
}

void HistoryWriter::deleting(const QString& path)
{
    const int i = indexOf(path);
    if (m_fd < 0 || i < 0)
        return;
    m_record.files[static_cast<size_t>(i)].fate = Fate::Deleting;
    append(Line().num("deleting", i).done(), true);
}

void HistoryWriter::disposed(const QString& path)
{
    const int i = indexOf(path);
    if (m_fd < 0 || i < 0)
        return;
    HistoryFile& f = m_record.files[static_cast<size_t>(i)];
    f.fate = f.fate == Fate::Trashing ? Fate::Trashed : Fate::Deleted;
    // The next line (or the end) carries it to disk: the record already
    // says where the file went, and a reader checks that on disk.
    append(Line().num("disposed", i).done(), false);
}

void HistoryWriter::failed(const QString& path, const QString& reason)
{
    const int i = indexOf(path);
    if (m_fd < 0 || i < 0)
        return;
    HistoryFile& f = m_record.files[static_cast<size_t>(i)];
    f.fate = Fate::Failed;
    f.reason = reason;
    append(Line().num("failed", i).str("reason", reason).done(), true);
}

void HistoryWriter::vanished(const QString& path)
{
    const int i = indexOf(path);
    if (m_fd < 0 || i < 0)
        return;
    m_record.files[static_cast<size_t>(i)].fate = Fate::Vanished;
    append(Line().num("vanished", i).done(), false);
}

void HistoryWriter::kept(const QString& path)
{
    const int i = indexOf(path);
    if (m_fd < 0 || i < 0)
        return;
    m_record.files[static_cast<size_t>(i)].fate = Fate::Kept;
    append(Line().num("kept", i).done(), false);
}

void HistoryWriter::end(BattleOutcome outcome)
{
    if (m_fd < 0)
        return;
    m_record.endedMs = QDateTime::currentMSecsSinceEpoch();
    m_record.outcome = outcome;
    append(Line().num("ended", m_record.endedMs).str("outcome", OutcomeName(outcome)).done(), true);
    if (m_fd < 0)
        return;
    QString error;
    if (!writeFileAtomically(m_path, SerializeBattleRecord(m_record), &error))
        m_error = error; // the appended lines say the same
    ::close(m_fd);
    m_fd = -1;

    const std::vector<std::int64_t> numbers = recordNumbers();
    const auto excess = static_cast<std::ptrdiff_t>(numbers.size()) - kHistoryLimit;
    for (std::ptrdiff_t k = 0; k < excess; ++k)
        ::unlink(QFile::encodeName(BattleRecordPath(numbers[static_cast<size_t>(k)])).constData());
}

// ---------------------------------------------------------------- restoring

RestoreReport RestoreBattle(std::int64_t number, const QString& toFolder, bool dryRun)
{
    RestoreReport report;
    if (number == 0) {
        const std::vector<std::int64_t> numbers = recordNumbers();
        if (numbers.empty())
            return report;
        number = numbers.back();
    }
    const QByteArray path = QFile::encodeName(BattleRecordPath(number));
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return report;
    // A battle holds its record locked until it ends; so does a restore.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        report.found = true;
        report.running = true;
        if (std::optional<BattleRecord> r = ReadBattleRecord(number))
            report.record = std::move(*r);
        return report;
    }
    std::optional<BattleRecord> read = ReadBattleRecord(number);
    if (!read) {
        ::close(fd);
        return report;
    }
    report.found = true;
    report.record = std::move(*read);
    BattleRecord& r = report.record;

    bool announced = dryRun;
    for (const HistoryFile& f : r.files) {
        if (f.fate != Fate::Trashing && f.fate != Fate::Trashed && f.fate != Fate::Deleting && f.fate != Fate::Deleted)
            continue;
        RestoredFile line;
        line.index = f.index;
        line.path = f.path;
        line.target = toFolder.isEmpty() ? f.path : toFolder + QLatin1Char('/') + baseName(f.path);
        const Whereabouts where = Locate(r, f);
        if (where == Whereabouts::InPlace)
            continue; // it never left
        if (where == Whereabouts::Deleted) {
            line.result = RestoredFile::DeletedForGood;
        } else if (where == Whereabouts::Restored) {
            line.result = RestoredFile::AlreadyBack;
        } else if (where != Whereabouts::InTrash) {
            line.result = RestoredFile::Purged;
        } else if (dryRun) {
            struct stat st {};
            line.result = ::lstat(QFile::encodeName(line.target).constData(), &st) == 0 ? RestoredFile::Occupied
                                                                                        : RestoredFile::WouldRestore;
        } else {
            if (!announced) {
                // Before anything moves, so that a kill leaves a record that
                // knows where to look.
                QFile check(QFile::decodeName(path));
                QByteArray lead;
                if (check.open(QIODevice::ReadOnly) && check.size() > 0 && check.seek(check.size() - 1)
                    && check.read(1) != "\n")
                    lead = "\n"; // after a torn last line
                if (!writeAll(fd, lead + Line().str("restore", toFolder).done()))
                    report.error = QStringLiteral("%1: %2").arg(QFile::decodeName(path), errnoText(errno));
                if (!r.restoreFolders.contains(toFolder))
                    r.restoreFolders << toFolder;
                announced = true;
            }
            const FileId moved = f.movedId.valid() ? f.movedId : f.id;
            switch (restoreFromTrash(f.slot, line.target, moved, &line.reason)) {
            case RestoreResult::Restored: line.result = RestoredFile::Restored; break;
            case RestoreResult::Occupied: line.result = RestoredFile::Occupied; break;
            case RestoreResult::NotInTrash: line.result = RestoredFile::Purged; break;
            case RestoreResult::Failed: line.result = RestoredFile::Failed; break;
            }
        }
        switch (line.result) {
        case RestoredFile::Restored:
        case RestoredFile::WouldRestore:
            ++report.restored;
            report.charaBack = report.charaBack || f.index == 0;
            break;
        case RestoredFile::Occupied:
        case RestoredFile::Purged:
        case RestoredFile::Failed: ++report.notBack; break;
        case RestoredFile::AlreadyBack:
        case RestoredFile::DeletedForGood: break;
        }
        report.files.push_back(std::move(line));
    }
    if (announced && !dryRun) {
        QString error;
        if (!writeFileAtomically(QFile::decodeName(path), SerializeBattleRecord(r), &error) && report.error.isEmpty())
            report.error = error;
    }
    ::close(fd);
    return report;
}

} // namespace dm
