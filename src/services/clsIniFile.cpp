#include "services/clsIniFile.h"

#include "services/AtomicFile.h"

#include <QAnyStringView>
#include <QByteArrayView>
#include <QFile>
#include <QUtf8StringView>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace dm {
namespace {

// mGetString hands the platform 256 bytes: at most 255 bytes of value.
constexpr qsizetype kValueBufferSize = 256;
// Both enumerations hand it 32767 bytes.
constexpr qsizetype kListBufferSize = 32767;

// Blanks around names and values in the file.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

QByteArrayView trimBlanks(QByteArrayView v)
{
    qsizetype b = 0;
    qsizetype e = v.size();
    while (b < e && isBlank(v[b]))
        ++b;
    while (e > b && isBlank(v[e - 1]))
        --e;
    return v.sliced(b, e - b);
}

// Section and key arguments lose spaces only, so an argument with a tab at
// its end never matches a name in the file.
QString trimSpaces(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' '))
        --e;
    return s.sliced(b, e - b);
}

bool isAscii(QByteArrayView v)
{
    return std::all_of(v.begin(), v.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A section or key argument, matched against names in the file ignoring case.
class Name {
public:
    explicit Name(const QString& arg) : m_arg(arg), m_utf8(arg.toUtf8()), m_ascii(isAscii(m_utf8)) {}

    [[nodiscard]] bool matches(QByteArrayView inFile) const
    {
        // Plain ASCII on both sides, nearly every line, needs no decoding.
        if (m_ascii && isAscii(inFile))
            return inFile.size() == m_utf8.size()
                && qstrnicmp(inFile.data(), m_utf8.constData(), static_cast<size_t>(m_utf8.size())) == 0;
        return QAnyStringView::compare(QUtf8StringView(inFile.data(), inFile.size()), m_arg, Qt::CaseInsensitive) == 0;
    }

private:
    QString m_arg;
    QByteArray m_utf8;
    bool m_ascii;
};

// One outer pair of matching quotes goes; mismatched or lone quotes stay.
QByteArrayView unquote(QByteArrayView v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.sliced(1, v.size() - 2);
    return v;
}

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first `max` bytes at most, never ending inside a multi-byte character
// (a character is at most four bytes, so garbage is cut at `max`).
QByteArrayView cutUtf8(QByteArrayView v, qsizetype max)
{
    if (v.size() <= max)
        return v;
    qsizetype cut = max;
    for (int back = 0; back < 3 && cut > 0 && isUtf8Continuation(v[cut]); ++back)
        --cut;
    if (isUtf8Continuation(v[cut]))
        cut = max;
    return v.first(cut);
}

enum class Kind { Blank, Comment, Header, Entry };

struct Line {
    qsizetype begin = 0; // first byte of the line
    qsizetype end = 0; // first byte of its line end
    qsizetype next = 0; // first byte of the following line
    Kind kind = Kind::Blank;
    QByteArrayView text; // trimmed line
    QByteArrayView name; // section name, or key when hasEquals
    QByteArrayView value; // trimmed value, quotes kept
    bool hasEquals = false;

    [[nodiscard]] bool terminated() const { return next > end; }
};

// Splits the file into lines; CR LF, LF and CR each end one.
class LineReader {
public:
    // Editors may put a UTF-8 byte order mark in front; it is skipped, not
    // taken as part of the first line, and stays in the file on writing.
    explicit LineReader(QByteArrayView file) : m_file(file), m_pos(file.startsWith("\xEF\xBB\xBF") ? 3 : 0) {}

    [[nodiscard]] bool atEnd() const { return m_pos >= m_file.size(); }
    Line next();

private:
    // Where the next `c` at or after the current line lies; remembered, so a
    // file without any CR is not searched to its end for every line.
    qsizetype nextOf(char c, qsizetype& cached) const
    {
        if (cached < m_pos) {
            const void* hit = std::memchr(m_file.data() + m_pos, c, static_cast<size_t>(m_file.size() - m_pos));
            cached = hit != nullptr ? static_cast<const char*>(hit) - m_file.data() : m_file.size();
        }
        return cached;
    }

    QByteArrayView m_file;
    qsizetype m_pos;
    qsizetype m_cr = -1;
    qsizetype m_lf = -1;
};

Line LineReader::next()
{
    Line l;
    l.begin = m_pos;
    l.end = std::min(nextOf('\r', m_cr), nextOf('\n', m_lf));
    l.next = l.end;
    if (l.end < m_file.size())
        l.next += (m_file[l.end] == '\r' && l.end + 1 < m_file.size() && m_file[l.end + 1] == '\n') ? 2 : 1;
    m_pos = l.next;

    l.text = trimBlanks(m_file.sliced(l.begin, l.end - l.begin));
    if (l.text.isEmpty()) {
        l.kind = Kind::Blank;
    } else if (l.text.front() == ';') {
        l.kind = Kind::Comment;
    } else if (l.text.front() == '[') {
        // The name runs to the first ']'; a header without one still counts.
        l.kind = Kind::Header;
        const QByteArrayView rest = l.text.sliced(1);
        const qsizetype close = rest.indexOf(']');
        l.name = trimBlanks(close < 0 ? rest : rest.first(close));
    } else {
        l.kind = Kind::Entry;
        const qsizetype eq = l.text.indexOf('=');
        if (eq >= 0) {
            l.hasEquals = true;
            l.name = trimBlanks(l.text.first(eq));
            l.value = trimBlanks(l.text.sliced(eq + 1));
        }
    }
    return l;
}

template <class F>
void forEachLine(QByteArrayView file, F&& f)
{
    for (LineReader lines(file); !lines.atEnd();) {
        if (!f(lines.next()))
            return;
    }
}

// What a read or write needs to know about the first section of a name;
// later sections of the same name are never searched.
struct SectionScan {
    std::optional<Line> header;
    std::optional<Line> key; // the first line of the key
    std::optional<Line> lastEntry; // the last line that is neither blank nor comment
};

SectionScan scanSection(QByteArrayView file, const QString& section, const QString& key)
{
    const Name sectionName(section);
    const Name keyName(key);
    SectionScan s;
    forEachLine(file, [&](const Line& l) {
        if (l.kind == Kind::Header) {
            if (s.header)
                return false;
            if (sectionName.matches(l.name))
                s.header = l;
            return true;
        }
        if (s.header && l.kind == Kind::Entry) {
            s.lastEntry = l;
            if (!s.key && l.hasEquals && keyName.matches(l.name))
                s.key = l;
        }
        return true;
    });
    return s;
}

enum class ReadStatus { Ok, Missing, Failed };

ReadStatus readProfile(const QString& path, QByteArray& out)
{
    out.clear();
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty())
        return ReadStatus::Missing;
    // O_NONBLOCK: a FIFO in place of the file must not hang the program.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    struct stat st {};
    ReadStatus status = ReadStatus::Ok;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        status = ReadStatus::Failed;
    } else {
        out.reserve(static_cast<qsizetype>(st.st_size));
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                status = ReadStatus::Failed;
                out.clear();
                break;
            }
            out.append(buf, n);
        }
    }
    ::close(fd);
    return status;
}

// The value of the key in the first section of that name.
std::optional<QByteArray> lookUp(const QString& fileName, const QString& section, const QString& strKey)
{
    const QString key = trimSpaces(strKey);
    QByteArray file;
    if (key.isEmpty() || readProfile(fileName, file) != ReadStatus::Ok)
        return std::nullopt;
    const SectionScan s = scanSection(file, trimSpaces(section), key);
    if (!s.key)
        return std::nullopt;
    return unquote(s.key->value).toByteArray();
}

// New lines follow the file's own convention; LF when it has none yet.
QByteArray lineEndOf(QByteArrayView file)
{
    const qsizetype i
        = std::find_if(file.begin(), file.end(), [](char c) { return c == '\n' || c == '\r'; }) - file.begin();
    if (i == file.size() || file[i] == '\n')
        return "\n";
    return (i + 1 < file.size() && file[i + 1] == '\n') ? QByteArray("\r\n") : QByteArray("\r");
}

// The file with bytes [from, to) replaced by `insert`, built in one buffer:
// the file may be large.
QByteArray spliced(const QByteArray& file, qsizetype from, qsizetype to, const QByteArray& insert)
{
    QByteArray out;
    out.reserve(file.size() - (to - from) + insert.size());
    out.append(QByteArrayView(file).first(from)).append(insert).append(QByteArrayView(file).sliced(to));
    return out;
}

// Edits the file in place: only the key's own line changes, or one line (and
// a header) is added; every other byte stays.
QByteArray withValue(const QByteArray& file, const QString& section, const QString& key, const QByteArray& value)
{
    const QByteArray le = lineEndOf(file);
    const SectionScan s = scanSection(file, section, key);
    if (s.key) {
        const Line& l = *s.key;
        // The key keeps its spelling in the file, the line its line end.
        return spliced(file, l.begin, l.end, l.name.toByteArray() + '=' + value + (l.terminated() ? QByteArray() : le));
    }
    const QByteArray entry = key.toUtf8() + '=' + value + le;
    if (s.header) {
        // After the section's last entry, so its trailing comments and the
        // blank line before the next section stay where they are.
        const Line& after = s.lastEntry ? *s.lastEntry : *s.header;
        return spliced(file, after.next, after.next, (after.terminated() ? QByteArray() : le) + entry);
    }
    const bool terminated = file.isEmpty() || file.endsWith('\n') || file.endsWith('\r');
    return spliced(file, file.size(), file.size(),
                   (terminated ? QByteArray() : le) + '[' + section.toUtf8() + ']' + le + entry);
}

bool hasLineBreakOrNul(const QString& s)
{
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r')) || s.contains(QChar(0));
}

// Whether what would be written reads back as the same key of the same
// section with the same value.
bool storable(const QString& section, const QString& key, const QString& value)
{
    if (key.isEmpty() || hasLineBreakOrNul(section) || hasLineBreakOrNul(key) || hasLineBreakOrNul(value))
        return false;
    // The file's names lose their blanks when read, the arguments only their
    // spaces: a tab at either end could be written but never found again.
    const auto blankEnds = [](const QString& name) {
        return !name.isEmpty() && (isBlank(name.front().toLatin1()) || isBlank(name.back().toLatin1()));
    };
    if (blankEnds(section) || blankEnds(key))
        return false;
    // "k=1=2" would be key "k"; ";k" a comment; "[k" a section header.
    if (key.contains(QLatin1Char('=')) || key.startsWith(QLatin1Char(';')) || key.startsWith(QLatin1Char('[')))
        return false;
    return !section.contains(QLatin1Char(']'));
}

// The platform's list buffer: entries and one more NUL; a list too long for
// it loses its end, the last entry cut short and followed by two NULs.
QString fitListBuffer(const QByteArray& list)
{
    if (list.size() + 1 <= kListBufferSize)
        return QString::fromUtf8(list + '\0');
    return QString::fromUtf8(cutUtf8(list, kListBufferSize - 2).toByteArray() + QByteArray(2, '\0'));
}

} // namespace

std::int32_t SplitNulList(const QString& text, QStringList& array)
{
    std::int32_t count = 0;
    for (qsizetype pos = 0;;) {
        const qsizetype nul = text.indexOf(QChar(0), pos);
        if (nul <= pos) // none left, or an empty entry
            return count;
        array.resize(count + 1);
        array[count] = text.sliced(pos, nul - pos);
        pos = nul + 1;
        ++count;
    }
}

std::int32_t clsIniFile::mEmnumSection(QStringList& astrSections) const
{
    QByteArray file;
    if (readProfile(m_fileName, file) != ReadStatus::Ok)
        return 0;
    QByteArray list;
    forEachLine(file, [&](const Line& l) {
        if (l.kind == Kind::Header)
            list += l.name.toByteArray() + '\0';
        return list.size() < kListBufferSize;
    });
    return SplitNulList(fitListBuffer(list), astrSections);
}

std::int32_t clsIniFile::mEnumSectionString(QStringList& astrLines) const
{
    QByteArray file;
    if (readProfile(m_fileName, file) != ReadStatus::Ok)
        return 0;
    const Name section(trimSpaces(m_section));
    QByteArray list;
    bool inside = false;
    forEachLine(file, [&](const Line& l) {
        if (l.kind == Kind::Header) {
            if (inside)
                return false;
            inside = section.matches(l.name);
        } else if (inside && l.kind == Kind::Entry) {
            list += l.text.toByteArray() + '\0';
        }
        return list.size() < kListBufferSize;
    });
    return SplitNulList(fitListBuffer(list), astrLines);
}

bool clsIniFile::mSetString(const QString& strKey, const QString& strValue) const
{
    const QString section = trimSpaces(m_section);
    const QString key = trimSpaces(strKey);
    if (!storable(section, key, strValue))
        return false;
    QByteArray file;
    const ReadStatus status = readProfile(m_fileName, file);
    if (status == ReadStatus::Failed)
        return false;
    const QByteArray value = strValue.toUtf8();
    const QByteArray updated = status == ReadStatus::Missing
        ? '[' + section.toUtf8() + "]\n" + key.toUtf8() + '=' + value + '\n'
        : withValue(file, section, key, value);
    return writeFileAtomically(m_fileName, updated);
}

QString clsIniFile::mGetString(const QString& strKey, const QString& strDefault) const
{
    const std::optional<QByteArray> found = lookUp(m_fileName, m_section, strKey);
    QByteArray bytes;
    if (found) {
        bytes = *found;
    } else {
        // The platform drops the default's trailing spaces, not its leading ones.
        bytes = strDefault.toUtf8();
        while (bytes.endsWith(' '))
            bytes.chop(1);
    }
    const QByteArrayView value = cutUtf8(bytes, kValueBufferSize - 1);
    return value.isEmpty() ? strDefault : QString::fromUtf8(value);
}

std::int16_t clsIniFile::mGetInteger(const QString& strKey, std::int16_t intDefault) const
{
    const std::optional<QByteArray> found = lookUp(m_fileName, m_section, strKey);
    if (!found || found->isEmpty())
        return intDefault;
    const QByteArray& v = *found;
    qsizetype i = 0;
    while (i < v.size() && isBlank(v[i]))
        ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-'))
        negative = v[i++] == '-';
    int base = 10;
    if (i + 1 < v.size() && v[i] == '0' && (v[i + 1] == 'x' || v[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    // Saturates far beyond 16 bits, so a long run of digits cannot overflow.
    constexpr std::int64_t kCeiling = std::int64_t{1} << 40;
    std::int64_t n = 0;
    for (; i < v.size(); ++i) {
        const char c = v[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        n = std::min(n * base + digit, kCeiling);
    }
    if (negative)
        n = -n;
    // Windows would hand back the number modulo 2^32; a 16-bit result cannot
    // hold it, so it counts as no usable value.
    if (n < INT16_MIN || n > INT16_MAX)
        return intDefault;
    return static_cast<std::int16_t>(n);
}

} // namespace dm
