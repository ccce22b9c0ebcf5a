#include "battle/History.h"

#include "services/AtomicFile.h"
#include "services/HomeFolder.h"
#include "services/Settings.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <charconv>
#include <string>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace dm {

namespace {

constexpr const char* kSuffix = ".battle";

// Bounds on what a record may hold, so that reading one takes bounded
// memory whatever its bytes: a text (a path is at most PATH_MAX bytes, a
// reason names two), a line (the longest a record's final form can make of
// them, every character escaped, fits many times over), the files of a
// battle (it counts its combatants in 16 bits), refused drops and restores.
constexpr qsizetype kMaxText = 4096;
constexpr qsizetype kMaxReason = 4 * kMaxText;
constexpr qsizetype kMaxLine = qsizetype{1024} * 1024;
constexpr std::int64_t kMaxFiles = 32768;
constexpr qsizetype kMaxRefused = 100000;
constexpr qsizetype kMaxRestores = 1000;
// Record numbers stay far from any overflow; a file named beyond is no record.
constexpr std::int64_t kMaxRecordNumber = 999999999999;

std::uint32_t lineCrc(const char* data, qsizetype size)
{
    return static_cast<std::uint32_t>(::crc32(0L, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

// Whole numbers as text, without the allocations of QByteArray::number.
template <class T>
void appendNumber(std::string& out, T value)
{
    char buf[24];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, static_cast<size_t>(r.ptr - buf));
}

constexpr const char* kHex = "0123456789abcdef";

// One line of a record, appended to `out` as it is built: a JSON object
// whose keys keep their order, a tab, the object's CRC-32 in hex and a
// newline. 64-bit values that a double cannot hold exactly (times in
// nanoseconds, inodes) are written as strings, so that any JSON reader gets
// them right. A battle writes a line per file twice, so text goes in by runs,
// not by characters.
class Line {
public:
    explicit Line(std::string& out) : m_out(out), m_start(out.size()) { m_out += '{'; }
    Line& str(const char* key, const QString& value)
    {
        this->key(key);
        m_out += '"';
        char run[256];
        size_t n = 0;
        const QChar* p = value.constData();
        const QChar* const end = p + value.size();
        for (; p != end; ++p) {
            const char16_t u = p->unicode();
            if (u >= 0x80)
                break;
            if (u < 0x20 || u == '"' || u == '\\' || n == sizeof run) {
                m_out.append(run, n);
                n = 0;
                if (u < 0x20 || u == '"' || u == '\\') {
                    escape(static_cast<unsigned char>(u));
                    continue;
                }
            }
            run[n++] = static_cast<char>(u);
        }
        m_out.append(run, n);
        if (p != end) {
            const QByteArray rest = QStringView(p, end).toUtf8();
            for (const char c : rest) {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x20 || u == '"' || u == '\\')
                    escape(u);
                else
                    m_out += c;
            }
        }
        m_out += '"';
        return *this;
    }
    Line& num(const char* key, std::int64_t value)
    {
        this->key(key);
        appendNumber(m_out, value);
        return *this;
    }
    template <class T>
    Line& big(const char* key, T value)
    {
        this->key(key);
        m_out += '"';
        appendNumber(m_out, value);
        m_out += '"';
        return *this;
    }
    void done()
    {
        m_out += '}';
        const std::uint32_t crc = lineCrc(m_out.data() + m_start, static_cast<qsizetype>(m_out.size() - m_start));
        char tail[10];
        tail[0] = '\t';
        for (int k = 0; k < 8; ++k)
            tail[1 + k] = kHex[(crc >> (28 - 4 * k)) & 0xFU];
        tail[9] = '\n';
        m_out.append(tail, sizeof tail);
    }

private:
    void key(const char* key)
    {
        if (m_out.size() != m_start + 1)
            m_out += ',';
        m_out += '"';
        m_out += key;
        m_out += "\":";
    }
    void escape(unsigned char u)
    {
        if (u == '"' || u == '\\') {
            const char esc[] = {'\\', static_cast<char>(u)};
            m_out.append(esc, sizeof esc);
        } else {
            const char esc[] = {'\\', 'u', '0', '0', kHex[u >> 4], kHex[u & 0xFU]};
            m_out.append(esc, sizeof esc);
        }
    }
    std::string& m_out;
    size_t m_start;
};

QByteArray toBytes(const std::string& s) { return {s.data(), static_cast<qsizetype>(s.size())}; }

// A line's object as read back: keys with a string or a whole-number value,
// nothing else (the writer makes nothing else). Views into the line, which
// outlives it.
class Object {
public:
    static std::optional<Object> parse(QByteArrayView json);

    [[nodiscard]] bool has(const char* key) const { return find(key) != nullptr; }
    [[nodiscard]] QString str(const char* key) const
    {
        const Field* f = find(key);
        return f != nullptr && !f->isNumber ? decode(f->raw) : QString();
    }
    [[nodiscard]] std::optional<std::int64_t> num(const char* key) const
    {
        const Field* f = find(key);
        return f != nullptr && f->isNumber ? std::optional(f->number) : std::nullopt;
    }
    // A number written as a string.
    template <class T>
    [[nodiscard]] T big(const char* key) const
    {
        const Field* f = find(key);
        T value = 0;
        if (f != nullptr && !f->isNumber)
            std::from_chars(f->raw.data(), f->raw.data() + f->raw.size(), value);
        return value;
    }

private:
    struct Field {
        QByteArrayView key;
        QByteArrayView raw; // a string's bytes between the quotes, escapes and all
        std::int64_t number = 0;
        bool isNumber = false;
    };
    [[nodiscard]] const Field* find(const char* key) const
    {
        const QByteArrayView k(key);
        for (const Field& f : m_fields) {
            if (f.key == k)
                return &f;
        }
        return nullptr;
    }
    static QString decode(QByteArrayView raw);
    std::vector<Field> m_fields;
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The string's text; raw was checked by parse().
QString Object::decode(QByteArrayView raw)
{
    if (!raw.contains('\\'))
        return QString::fromUtf8(raw);
    QString out;
    qsizetype run = 0;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\')
            continue;
        out += QString::fromUtf8(raw.sliced(run, i - run));
        const char c = raw[++i];
        if (c == 'u') {
            int code = 0;
            for (int k = 1; k <= 4; ++k)
                code = code * 16 + hexDigit(raw[i + k]);
            out += QChar(static_cast<char16_t>(code));
            i += 4;
        } else {
            const char* const from = "\"\\/bfnrt";
            const char* const to = "\"\\/\b\f\n\r\t";
            out += QLatin1Char(to[std::strchr(from, c) - from]);
        }
        run = i + 1;
    }
    return out + QString::fromUtf8(raw.sliced(run));
}

std::optional<Object> Object::parse(QByteArrayView json)
{
    Object o;
    o.m_fields.reserve(16);
    qsizetype i = 0;
    const qsizetype n = json.size();
    // A string from just after its opening quote; its end, or -1.
    const char* const data = json.data();
    const auto string = [&](qsizetype at) -> qsizetype {
        while (at < n) {
            // Most of a line is plain text.
            while (at < n && data[at] != '"' && data[at] != '\\' && static_cast<unsigned char>(data[at]) >= 0x20)
                ++at;
            if (at >= n)
                break;
            const char c = json[at];
            if (c == '"')
                return at;
            if (static_cast<unsigned char>(c) < 0x20)
                return -1;
            if (c == '\\') {
                if (++at >= n)
                    return -1;
                if (json[at] == 'u') {
                    for (int k = 1; k <= 4; ++k) {
                        if (at + k >= n || hexDigit(json[at + k]) < 0)
                            return -1;
                    }
                    at += 4;
                } else if (std::strchr("\"\\/bfnrt", json[at]) == nullptr || json[at] == '\0') {
                    return -1;
                }
            }
            ++at;
        }
        return -1;
    };
    if (n < 2 || json[0] != '{')
        return std::nullopt;
    i = 1;
    if (json[i] == '}')
        return i + 1 == n ? std::optional(o) : std::nullopt;
    for (;;) {
        if (i >= n || json[i] != '"')
            return std::nullopt;
        const qsizetype keyEnd = string(i + 1);
        if (keyEnd < 0 || keyEnd + 1 >= n || json[keyEnd + 1] != ':')
            return std::nullopt;
        Field f;
        f.key = json.sliced(i + 1, keyEnd - i - 1);
        i = keyEnd + 2;
        if (i >= n)
            return std::nullopt;
        if (json[i] == '"') {
            const qsizetype end = string(i + 1);
            if (end < 0)
                return std::nullopt;
            f.raw = json.sliced(i + 1, end - i - 1);
            i = end + 1;
        } else {
            const std::from_chars_result r = std::from_chars(json.data() + i, json.data() + n, f.number);
            if (r.ec != std::errc() || r.ptr == json.data() + i)
                return std::nullopt;
            f.isNumber = true;
            i = r.ptr - json.data();
        }
        o.m_fields.push_back(f);
        if (i >= n)
            return std::nullopt;
        if (json[i] == '}')
            return i + 1 == n ? std::optional(o) : std::nullopt;
        if (json[i] != ',')
            return std::nullopt;
        ++i;
    }
}

// The line's object when its checksum holds; empty otherwise.
std::optional<Object> checkedObject(QByteArrayView line)
{
    const qsizetype tab = line.size() - 9;
    if (tab < 2 || line[tab] != '\t')
        return std::nullopt;
    std::uint32_t stored = 0;
    for (qsizetype k = tab + 1; k < line.size(); ++k) {
        const int d = hexDigit(line[k]);
        if (d < 0)
            return std::nullopt;
        stored = stored << 4 | static_cast<std::uint32_t>(d);
    }
    const QByteArrayView json = line.first(tab);
    if (stored != lineCrc(json.data(), json.size()))
        return std::nullopt;
    return Object::parse(json);
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

void addStat(Line& line, const HistoryFile& f)
{
    line.num("size", f.size)
        .num("mode", f.mode)
        .big("atime", f.atimeNs)
        .big("mtime", f.mtimeNs)
        .big("ctime", f.ctimeNs)
        .big("dev", f.id.dev)
        .big("ino", f.id.ino);
}

void readStat(const Object& o, HistoryFile& f)
{
    if (!o.has("ino"))
        return;
    f.size = o.num("size").value_or(0);
    f.mode = static_cast<std::uint32_t>(o.num("mode").value_or(0));
    f.atimeNs = o.big<std::int64_t>("atime");
    f.mtimeNs = o.big<std::int64_t>("mtime");
    f.ctimeNs = o.big<std::int64_t>("ctime");
    f.id = {o.big<std::uint64_t>("dev"), o.big<std::uint64_t>("ino")};
}

void statInto(HistoryFile& f, const struct stat& st)
{
    f.size = st.st_size;
    f.mode = st.st_mode;
    f.atimeNs = std::int64_t{st.st_atim.tv_sec} * 1000000000 + st.st_atim.tv_nsec;
    f.mtimeNs = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    f.ctimeNs = std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    f.id = {st.st_dev, st.st_ino};
}

Line fileLine(std::string& out, const HistoryFile& f)
{
    Line line(out);
    line.num("file", f.index).str("path", f.path);
    if (f.id.valid())
        addStat(line, f);
    return line;
}

void addSlot(Line& line, const TrashSlot& slot) { line.str("trash", slot.trashDir).str("name", slot.name); }

bool plainName(const QString& name)
{
    return !name.isEmpty() && name.size() <= kMaxText && !name.contains(QLatin1Char('/'))
        && !name.contains(QChar(u'\0')) && name != QLatin1String(".") && name != QLatin1String("..");
}

// An absolute path no NUL cuts short.
bool absolute(const QString& path)
{
    return path.startsWith(QLatin1Char('/')) && path.size() <= kMaxText && !path.contains(QChar(u'\0'));
}

bool readSlot(const Object& o, HistoryFile& f)
{
    f.slot.trashDir = o.str("trash");
    f.slot.name = o.str("name");
    return plainName(f.slot.name) && absolute(f.slot.trashDir);
}

// Applies one line to the record being read; false when it makes no sense.
bool apply(BattleRecord& r, const Object& o)
{
    const auto index = [&](const char* key) -> HistoryFile* {
        const std::optional<std::int64_t> i = o.num(key);
        if (!i || *i < 0 || *i >= static_cast<std::int64_t>(r.files.size()))
            return nullptr;
        return &r.files[static_cast<size_t>(*i)];
    };
    if (const std::optional<std::int64_t> i = o.num("file")) {
        if (*i != static_cast<std::int64_t>(r.files.size()) || *i >= kMaxFiles)
            return false;
        HistoryFile f;
        f.index = static_cast<int>(r.files.size());
        f.path = o.str("path");
        if (!absolute(f.path))
            return false;
        readStat(o, f);
        if (o.has("fate")) {
            const std::optional<Fate> fate = fateFromName(o.str("fate"));
            if (!fate)
                return false;
            f.fate = *fate;
            if ((f.fate == Fate::Trashing || f.fate == Fate::Trashed) && !readSlot(o, f))
                return false;
            f.reason = o.str("reason");
            if (f.reason.size() > kMaxReason)
                return false;
        }
        r.files.push_back(std::move(f));
        return true;
    }
    if (HistoryFile* f = index("trashing")) {
        HistoryFile read = *f;
        readStat(o, read);
        if (!readSlot(o, read))
            return false;
        *f = std::move(read);
        f->fate = Fate::Trashing;
        return true;
    }
    if (HistoryFile* f = index("deleting")) {
        readStat(o, *f);
        f->fate = Fate::Deleting;
        return true;
    }
    if (HistoryFile* f = index("stat")) {
        readStat(o, *f);
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
        const QString reason = o.str("reason");
        if (reason.size() > kMaxReason)
            return false;
        f->fate = Fate::Failed;
        f->reason = reason;
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
    if (o.has("refused")) {
        const QString path = o.str("refused");
        if (r.refused.size() >= kMaxRefused || path.size() > kMaxText)
            return false;
        r.refused << path;
        return true;
    }
    if (o.has("restore")) {
        const QString folder = o.str("restore");
        if ((!folder.isEmpty() && !absolute(folder)) || r.restoreFolders.size() >= kMaxRestores)
            return false;
        if (!r.restoreFolders.contains(folder))
            r.restoreFolders << folder;
        return true;
    }
    if (const std::optional<std::int64_t> ended = o.num("ended")) {
        r.endedMs = *ended;
        const QString outcome = o.str("outcome");
        for (size_t k = 0; k < std::size(kOutcomeNames); ++k) {
            if (outcome == QLatin1String(kOutcomeNames[k]))
                r.outcome = static_cast<BattleOutcome>(k);
        }
        return r.endedMs != 0;
    }
    return false;
}

void headerLine(std::string& out, const BattleRecord& r)
{
    Line(out)
        .num("battle", r.number)
        .num("started", r.startedMs)
        .str("chara", r.chara)
        .str("name", r.charaName)
        .num("order", r.order)
        .num("style", r.style)
        .num("disposal", r.disposal)
        .done();
}

// The record's final lines, appended to `out`.
void serialize(std::string& out, const BattleRecord& r)
{
    out.reserve(out.size() + (r.files.size() + 2) * 256);
    headerLine(out, r);
    for (const HistoryFile& f : r.files) {
        Line line = fileLine(out, f);
        if (f.fate != Fate::Untouched) {
            line.str("fate", FateName(f.fate));
            if (f.fate == Fate::Trashing || f.fate == Fate::Trashed)
                addSlot(line, f.slot);
            if (!f.reason.isEmpty())
                line.str("reason", f.reason);
        }
        line.done();
    }
    for (const QString& path : r.refused)
        Line(out).str("refused", path).done();
    for (const QString& folder : r.restoreFolders)
        Line(out).str("restore", folder).done();
    if (r.finished())
        Line(out).num("ended", r.endedMs).str("outcome", OutcomeName(r.outcome)).done();
}

bool readHeader(BattleRecord& r, const Object& o)
{
    const std::optional<std::int64_t> number = o.num("battle");
    if (!number || *number < 1 || *number > kMaxRecordNumber)
        return false;
    r.number = *number;
    r.startedMs = o.num("started").value_or(0);
    r.chara = o.str("chara");
    r.charaName = o.str("name");
    if (r.chara.size() > kMaxText || r.charaName.size() > kMaxText)
        return false;
    r.order = static_cast<std::int16_t>(o.num("order").value_or(0));
    r.style = static_cast<std::int16_t>(o.num("style").value_or(0));
    r.disposal = static_cast<std::int16_t>(o.num("disposal").value_or(0));
    return true;
}

// A record's mark while its battle or a restore of it moves files: a kill
// leaves it, and the next battle or restore then looks for what a move cut
// short left in the Trash. Only marked records are looked at, so that a
// battle's start does not read the whole history.
constexpr const char* kMoving = ".moving";

// The numbers of the records in the history folder and of the marked ones,
// ascending.
struct Listing {
    std::vector<std::int64_t> records, marked;
};
Listing listHistory()
{
    Listing listing;
    const QByteArray folder = QFile::encodeName(HistoryFolder());
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return listing;
    while (const dirent* entry = ::readdir(dir)) {
        QByteArray name(entry->d_name);
        const bool mark = name.endsWith(kMoving);
        if (mark)
            name.chop(static_cast<qsizetype>(std::strlen(kMoving)));
        if (!name.endsWith(kSuffix))
            continue;
        bool ok = false;
        const qlonglong n = name.chopped(static_cast<qsizetype>(std::strlen(kSuffix))).toLongLong(&ok);
        if (ok && n > 0 && n <= kMaxRecordNumber && name.front() != '+' && name.front() != '-')
            (mark ? listing.marked : listing.records).push_back(n);
    }
    ::closedir(dir);
    std::sort(listing.records.begin(), listing.records.end());
    return listing;
}

std::vector<std::int64_t> recordNumbers() { return listHistory().records; }

QByteArray markPath(std::int64_t number)
{
    return QFile::encodeName(BattleRecordPath(number) + QLatin1String(kMoving));
}

// Without a mark (no inode left) a kill's traces wait for a restore of the record.
void mark(std::int64_t number)
{
    const int fd = ::open(markPath(number).constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

void unmark(std::int64_t number) { ::unlink(markPath(number).constData()); }

// Clears the marks no battle or restore holds any more, and what their
// records' cut-short moves left in the Trash.
void settle(const std::vector<std::int64_t>& marked);

QString baseName(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

bool writeAll(int fd, const char* p, size_t left)
{
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
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

QString FateName(Fate fate) { return QLatin1String(kFateNames[static_cast<size_t>(fate)]); }
QString OutcomeName(BattleOutcome outcome) { return QLatin1String(kOutcomeNames[static_cast<size_t>(outcome)]); }
QString WhereaboutsName(Whereabouts where)
{
    static const char* const names[]
        = {"in place", "in the Trash", "restored", "deleted", "no longer in the Trash", "unknown"};
    return QLatin1String(names[static_cast<size_t>(where)]);
}

namespace {

// Builds a record from its lines in order.
class RecordParser {
public:
    // A torn line is the end of a record whose writer was killed.
    void take(QByteArrayView line, bool torn)
    {
        const std::optional<Object> o = torn ? std::nullopt : checkedObject(line);
        if (!m_header) {
            m_header = o && readHeader(m_record, *o);
            m_dead = !m_header;
            return;
        }
        if (!o || !apply(m_record, *o))
            ++m_record.badLines;
    }
    [[nodiscard]] bool dead() const { return m_dead; }
    std::optional<BattleRecord> result() { return m_header ? std::optional(std::move(m_record)) : std::nullopt; }

private:
    BattleRecord m_record;
    bool m_header = false;
    bool m_dead = false; // no header: nothing more is read
};

// Feeds the whole lines of `bytes` to `parser` and returns where the
// unfinished rest begins. A line longer than kMaxLine is passed on empty,
// so damaged; `skipping` carries over that the rest of one is still to come.
qsizetype takeLines(QByteArrayView bytes, RecordParser& parser, bool& skipping)
{
    qsizetype at = 0;
    while (!parser.dead()) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            break;
        if (!skipping)
            parser.take(end - at > kMaxLine ? QByteArrayView() : bytes.sliced(at, end - at), false);
        skipping = false;
        at = end + 1;
    }
    return at;
}

} // namespace

std::optional<BattleRecord> ParseBattleRecord(const QByteArray& bytes)
{
    RecordParser parser;
    bool skipping = false;
    const qsizetype rest = takeLines(bytes, parser, skipping);
    if (rest < bytes.size() && !parser.dead())
        parser.take(bytes.size() - rest > kMaxLine ? QByteArrayView() : QByteArrayView(bytes).sliced(rest), true);
    return parser.result();
}

namespace {

// The record read from `fd` a buffer at a time, so that however large or
// garbled it is, reading it holds no more than two of its longest lines.
std::optional<BattleRecord> readRecord(int fd)
{
    struct stat st {};
    const qsizetype size = ::fstat(fd, &st) == 0 ? static_cast<qsizetype>(st.st_size) : 0;
    QByteArray buffer(std::clamp<qsizetype>(size + 1, 1, 2 * kMaxLine), Qt::Uninitialized);
    RecordParser parser;
    qsizetype have = 0;
    bool skipping = false;
    while (!parser.dead()) {
        ssize_t got = 0;
        do
            got = ::read(fd, buffer.data() + have, static_cast<size_t>(buffer.size() - have));
        while (got < 0 && errno == EINTR);
        if (got <= 0)
            break;
        have += got;
        const qsizetype at = takeLines(QByteArrayView(buffer.constData(), have), parser, skipping);
        std::memmove(buffer.data(), buffer.constData() + at, static_cast<size_t>(have - at));
        have -= at;
        if (have == buffer.size() && buffer.size() < 2 * kMaxLine) {
            buffer.resize(std::min(2 * buffer.size(), 2 * kMaxLine)); // the file grew as it was read
        } else if (have > kMaxLine) {
            if (!skipping)
                parser.take({}, false);
            skipping = true;
            have = 0;
        }
    }
    if (have > 0 && !skipping && !parser.dead())
        parser.take(QByteArrayView(buffer.constData(), have), true);
    return parser.result();
}

} // namespace

QByteArray SerializeBattleRecord(const BattleRecord& r)
{
    std::string out;
    serialize(out, r);
    return toBytes(out);
}

Whereabouts Locate(const BattleRecord& record, const HistoryFile& f)
{
    switch (f.fate) {
    case Fate::Trashing:
    case Fate::Trashed: {
        const FileId& moved = f.id;
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
    const int fd = ::open(QFile::encodeName(BattleRecordPath(number)).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<BattleRecord> r = readRecord(fd);
    ::close(fd);
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
        // A battle still writing its record may be caught mid-line.
        const bool damaged = !r || r->badLines > 0;
        if (damaged && BattleRunning(n)) {
            if (r)
                h.battles.push_back(std::move(*r));
            continue;
        }
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
        std::ignore = flush();
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
    if (roster.empty())
        return false;
    if (!EnsureHomeFolder()) {
        fail(QStringLiteral("%1: cannot be created").arg(HomeFolder()));
        return false;
    }
    const QByteArray folder = QFile::encodeName(HistoryFolder());
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        fail(QStringLiteral("%1: %2").arg(HistoryFolder(), errnoText(errno)));
        return false;
    }
    const Listing listing = listHistory();
    settle(listing.marked);
    std::int64_t number = listing.records.empty() ? 1 : listing.records.back() + 1;
    for (int tries = 0; tries < 100 && number <= kMaxRecordNumber; ++tries, ++number) {
        m_path = BattleRecordPath(number);
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    if (number > kMaxRecordNumber) {
        fail(QStringLiteral("%1: the battle numbers are used up; move the records away").arg(HistoryFolder()));
        return false;
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
        m_record.files.push_back(std::move(f));
    }
    // The character's own file first: it is disposed of as itself after a
    // defeat, and never fights as an enemy.
    m_index.reserve(static_cast<qsizetype>(m_record.files.size()));
    for (auto f = m_record.files.rbegin(); f != m_record.files.rend(); ++f)
        m_index.insert(f->path, f->index);
    serialize(m_pending, m_record);
    if (flush()) {
        mark(number);
        return true;
    }
    // Not even the header: no record is left to be read as damaged.
    ::unlink(QFile::encodeName(m_path).constData());
    fail(m_error);
    m_record.number = 0;
    return false;
}

HistoryFile* HistoryWriter::entry(const QString& path)
{
    const int i = m_fd < 0 ? -1 : m_index.value(path, -1);
    return i < 0 ? nullptr : &m_record.files[static_cast<size_t>(i)];
}

bool HistoryWriter::flush()
{
    if (m_fd < 0)
        return false;
    if (m_pending.empty())
        return true;
    if (writeAll(m_fd, m_pending.data(), m_pending.size())) {
        m_written += static_cast<off_t>(m_pending.size());
        m_pending.clear();
        return true;
    }
    const int err = errno;
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1: %2").arg(m_path, errnoText(err));
    // Back to the last whole line, which needs no space: a torn line would
    // end what can be appended, and the lines stay pending for the next try.
    if (::ftruncate(m_fd, m_written) != 0)
        fail(m_error);
    return false;
}

bool HistoryWriter::flushIntent(size_t mark)
{
    if (flush())
        return true;
    m_pending.resize(mark); // the intent goes; confirmations before it wait
    return false;
}

bool HistoryWriter::trashing(const QString& path, const TrashMove& move)
{
    HistoryFile* f = entry(path);
    if (f == nullptr)
        return false;
    HistoryFile was = *f;
    // What prepare() found is what goes: no second look.
    statInto(*f, move.stat());
    f->fate = Fate::Trashing;
    f->slot = move.slot();
    const size_t mark = m_pending.size();
    Line line(m_pending);
    line.num("trashing", f->index);
    addStat(line, *f);
    addSlot(line, f->slot);
    line.done();
    if (flushIntent(mark))
        return true;
    *f = std::move(was);
    return false;
}

bool HistoryWriter::deleting(const QString& path)
{
    HistoryFile* f = entry(path);
    if (f == nullptr)
        return false;
    HistoryFile was = *f;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
        statInto(*f, st);
    f->fate = Fate::Deleting;
    const size_t mark = m_pending.size();
    Line line(m_pending);
    line.num("deleting", f->index);
    if (f->id.valid())
        addStat(line, *f);
    line.done();
    if (flushIntent(mark))
        return true;
    *f = std::move(was);
    return false;
}

void HistoryWriter::disposed(const QString& path)
{
    HistoryFile* f = entry(path);
    if (f == nullptr)
        return;
    f->fate = f->fate == Fate::Trashing ? Fate::Trashed : Fate::Deleted;
    // The next line (or the end) carries it to disk: the record already
    // says where the file went, and a reader checks that on disk.
    Line(m_pending).num("disposed", f->index).done();
}

void HistoryWriter::failed(const QString& path, const QString& reason)
{
    HistoryFile* f = entry(path);
    if (f == nullptr)
        return;
    f->fate = Fate::Failed;
    f->reason = reason;
    Line(m_pending).num("failed", f->index).str("reason", reason).done();
    std::ignore = flush(); // or with a later line
}

void HistoryWriter::vanished(const QString& path) { settled(path, Fate::Vanished); }

void HistoryWriter::kept(const QString& path) { settled(path, Fate::Kept); }

void HistoryWriter::settled(const QString& path, Fate fate)
{
    HistoryFile* f = entry(path);
    if (f == nullptr)
        return;
    f->fate = fate;
    // Nothing moved: no hurry to write it.
    Line(m_pending).num(fate == Fate::Vanished ? "vanished" : "kept", f->index).done();
}

void HistoryWriter::end(BattleOutcome outcome)
{
    if (m_fd < 0)
        return;
    // What the battle did not dispose of is looked at once, here, rather
    // than every file before the battle.
    for (HistoryFile& f : m_record.files) {
        struct stat st {};
        if (f.id.valid() || (f.fate != Fate::Untouched && f.fate != Fate::Kept && f.fate != Fate::Failed)
            || ::lstat(QFile::encodeName(f.path).constData(), &st) != 0)
            continue;
        statInto(f, st);
        Line line(m_pending);
        line.num("stat", f.index);
        addStat(line, f);
        line.done();
    }
    m_record.endedMs = QDateTime::currentMSecsSinceEpoch();
    m_record.outcome = outcome;
    Line(m_pending).num("ended", m_record.endedMs).str("outcome", OutcomeName(outcome)).done();
    // Without its end the record reads as an interrupted battle, which is
    // what it then is: every move it made is in it.
    if (!flush())
        m_pending.clear();
    // On disk as the character file's growth is, before the battle is over.
    if (::fdatasync(m_fd) != 0 && m_error.isEmpty())
        m_error = QStringLiteral("%1: %2").arg(m_path, errnoText(errno));
    ::close(m_fd);
    m_fd = -1;
    unmark(m_record.number);

    const std::vector<std::int64_t> numbers = recordNumbers();
    const auto excess = static_cast<std::ptrdiff_t>(numbers.size()) - kHistoryLimit;
    for (std::ptrdiff_t k = 0; k < excess; ++k)
        ::unlink(QFile::encodeName(BattleRecordPath(numbers[static_cast<size_t>(k)])).constData());
}

// ---------------------------------------------------------------- restoring

namespace {

// A record open for appending, cut back to its last whole line when a line
// cannot be written.
struct Appender {
    int fd = -1;
    off_t written = 0;
    ~Appender()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool append(const std::string& line, const QString& path, QString* error)
    {
        if (writeAll(fd, line.data(), line.size()) && ::fdatasync(fd) == 0) {
            written += static_cast<off_t>(line.size());
            return true;
        }
        *error = QStringLiteral("%1: %2").arg(path, errnoText(errno));
        std::ignore = ::ftruncate(fd, written);
        return false;
    }
};

// Adds a restore into `folder` to the record at `path`: one more line after
// a clean end; after a torn or damaged line (a killed writer) the whole
// record is written aside and renamed instead, so that nothing is ever
// appended to garbage. On disk before anything moves.
bool announce(Appender& record, const QString& path, const BattleRecord& folded, const QString& folder, QString* error)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    char last = 0;
    const bool clean = folded.badLines == 0 && ::fstat(record.fd, &st) == 0 && st.st_size > 0
        && ::pread(record.fd, &last, 1, st.st_size - 1) == 1 && last == '\n';
    if (clean) {
        record.written = st.st_size;
        std::string line;
        Line(line).str("restore", folder).done();
        return record.append(line, path, error);
    }
    if (!writeFileAtomically(path, SerializeBattleRecord(folded), error))
        return false;
    const int fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        *error = QStringLiteral("%1: %2").arg(path, errnoText(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(record.fd);
    record.fd = fd;
    record.written = st.st_size;
    return true;
}

// The .trashinfo files moves of `r` cut short left behind.
void dropStaleInfo(const BattleRecord& r)
{
    for (const HistoryFile& f : r.files) {
        if ((f.fate != Fate::Trashing && f.fate != Fate::Trashed) || !f.id.valid())
            continue;
        const Whereabouts where = Locate(r, f);
        if (where == Whereabouts::InPlace || where == Whereabouts::Restored)
            std::ignore = dropStaleTrashInfo(f.slot, f.path);
    }
}

} // namespace

// An open-file-description lock on the battle's own byte of a lock file
// that is never replaced, so a rewritten record changes nothing; released
// with the process.
RestoreLock::RestoreLock(std::int64_t number)
{
    const QByteArray path = QFile::encodeName(HistoryFolder() + QStringLiteral("/.restore.lock"));
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(number);
    lock.l_len = 1;
    if (m_fd >= 0 && ::fcntl(m_fd, F_OFD_SETLK, &lock) == 0)
        return;
    const int err = errno;
    m_busy = m_fd >= 0 && (err == EAGAIN || err == EACCES);
    if (!m_busy)
        m_error = QStringLiteral("%1: cannot be locked: %2").arg(QFile::decodeName(path), errnoText(err));
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

RestoreLock::~RestoreLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {

void settle(const std::vector<std::int64_t>& marked)
{
    for (const std::int64_t n : marked) {
        if (BattleRunning(n))
            continue;
        const RestoreLock lock(n);
        if (!lock.held())
            continue;
        if (const std::optional<BattleRecord> r = ReadBattleRecord(n))
            dropStaleInfo(*r);
        unmark(n);
    }
}

} // namespace

void DropStaleTrashInfo() { settle(listHistory().marked); }

RestoreReport RestoreBattle(std::int64_t number, const QString& toFolder, bool dryRun)
{
    RestoreReport report;
    if (number == 0) {
        const std::vector<std::int64_t> numbers = recordNumbers();
        if (numbers.empty())
            return report;
        number = numbers.back();
    }
    const QString path = BattleRecordPath(number);
    Appender record;
    std::optional<RestoreLock> lock;
    if (!dryRun) {
        record.fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (record.fd < 0)
            return report;
        lock.emplace(number);
        report.restoring = lock->busy();
        report.error = lock->errorString();
    }
    // A battle holds its record locked until it ends.
    report.running = !report.restoring && BattleRunning(number);
    std::optional<BattleRecord> read = ReadBattleRecord(number);
    if (!read)
        return report;
    report.found = true;
    report.record = std::move(*read);
    if (report.running || report.restoring || !report.error.isEmpty())
        return report;
    BattleRecord& r = report.record;
    const bool marked = !dryRun && ::access(markPath(number).constData(), F_OK) == 0;
    if (marked)
        dropStaleInfo(r);

    bool announced = false;
    QString unrecorded; // why the restore could not be recorded: nothing moves
    TrashRestore trash;
    for (const HistoryFile& f : r.files) {
        if (f.fate != Fate::Trashing && f.fate != Fate::Trashed && f.fate != Fate::Deleting && f.fate != Fate::Deleted)
            continue;
        RestoredFile line;
        line.index = f.index;
        line.path = f.path;
        line.target = toFolder.isEmpty() ? f.path : toFolder + QLatin1Char('/') + baseName(f.path);
        const bool trashed = f.fate == Fate::Trashing || f.fate == Fate::Trashed;
        const auto elsewhere = [&]() -> std::optional<RestoredFile::Result> {
            switch (Locate(r, f)) {
            case Whereabouts::InPlace: return std::nullopt; // it never left
            case Whereabouts::Deleted: return RestoredFile::DeletedForGood;
            case Whereabouts::Restored: return RestoredFile::AlreadyBack;
            case Whereabouts::InTrash:
            case Whereabouts::PurgedFromTrash:
            case Whereabouts::Unknown: break;
            }
            return RestoredFile::Purged;
        };
        if (!trashed || dryRun) {
            if (trashed && fileIdAt(f.slot.filesPath()) == f.id) {
                struct stat st {};
                line.result = ::lstat(QFile::encodeName(line.target).constData(), &st) == 0
                    ? RestoredFile::Occupied
                    : RestoredFile::WouldRestore;
            } else if (const std::optional<RestoredFile::Result> result = elsewhere()) {
                line.result = *result;
            } else {
                continue;
            }
        } else {
            // Before anything moves, so that a kill leaves a record that knows
            // where to look; once is enough.
            if (!announced && unrecorded.isEmpty() && fileIdAt(f.slot.filesPath()) == f.id) {
                BattleRecord folded = r;
                if (!folded.restoreFolders.contains(toFolder))
                    folded.restoreFolders << toFolder;
                if (folded.restoreFolders.size() > kMaxRestores)
                    unrecorded = QStringLiteral("%1: too many restores").arg(path);
                else {
                    mark(number);
                    announced = announce(record, path, folded, toFolder, &unrecorded);
                }
                r.restoreFolders = folded.restoreFolders;
            }
            if (!unrecorded.isEmpty() && fileIdAt(f.slot.filesPath()) == f.id) {
                line.result = RestoredFile::Failed;
                line.reason = QStringLiteral("the history could not record the restore, so it stays in the Trash: %1")
                                  .arg(unrecorded);
            } else {
                // The usual case, a file still in the Trash, costs one look.
                switch (trash.restore(f.slot, line.target, f.id, &line.reason)) {
                case RestoreResult::Restored: line.result = RestoredFile::Restored; break;
                case RestoreResult::Occupied: line.result = RestoredFile::Occupied; break;
                case RestoreResult::Failed: line.result = RestoredFile::Failed; break;
                case RestoreResult::NotInTrash:
                    line.reason.clear();
                    if (const std::optional<RestoredFile::Result> result = elsewhere())
                        line.result = *result;
                    else
                        continue;
                    break;
                }
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
    report.error = unrecorded;
    if (announced || marked)
        unmark(number);
    return report;
}

} // namespace dm
