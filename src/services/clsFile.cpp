#include "services/clsFile.h"

#include "services/Trash.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace dm {
namespace {

// Samba and Wine keep the DOS attributes of a file in this extended
// attribute, as the text "0x" followed by hex digits.
constexpr const char* kDosAttrib = "user.DOSATTRIB";
// Read-only is left to the mode bits alone, so the ReadOnly let can always
// undo what it reports.
constexpr std::uint16_t kDosAttribBits = clsFile::AttrHidden | clsFile::AttrSystem | clsFile::AttrArchive;

// The DOS attribute bits stored with the file; 0 when it has none.
std::uint16_t readDosAttrib(const QByteArray& path)
{
    char buf[64];
    const ssize_t n = getxattr(path.constData(), kDosAttrib, buf, sizeof buf - 1);
    if (n < 3)
        return 0;
    buf[n] = '\0';
    if (buf[0] != '0' || (buf[1] != 'x' && buf[1] != 'X'))
        return 0;
    unsigned long value = 0;
    for (ssize_t i = 2; i < n; ++i) {
        const char c = buf[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = ((value << 4) | static_cast<unsigned long>(digit)) & 0xFFFFUL;
    }
    return static_cast<std::uint16_t>(value);
}

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

QString fileNamePart(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

} // namespace

std::int32_t clsFile::Probe::size() const
{
    if (!enabled)
        return -1;
    // Size is a 32-bit count. A file of 2 GiB or more saturates rather than
    // wraps, so a huge file stays a huge enemy instead of turning into a
    // negative or tiny one.
    if (st.st_size > INT32_MAX)
        return INT32_MAX;
    return static_cast<std::int32_t>(st.st_size);
}

clsFile::Probe clsFile::probe() const
{
    Probe p;
    if (m_fileName.isEmpty() || m_fileName.endsWith(QLatin1Char('/')))
        return p;
    const QByteArray native = QFile::encodeName(m_fileName);
    // O_NONBLOCK: a FIFO without a writer must not hang the program.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return p;
    // Linux lets a folder be opened; it still is no readable file.
    p.enabled = ::fstat(fd, &p.st) == 0 && !S_ISDIR(p.st.st_mode);
    ::close(fd);
    return p;
}

bool clsFile::Enabled() const { return probe().enabled; }

std::int32_t clsFile::Size() const { return probe().size(); }

bool clsFile::Directory() const { return probe().isDirectory(); }

std::uint16_t clsFile::attributes(const Probe& p) const
{
    const QByteArray native = QFile::encodeName(m_fileName);
    std::uint16_t attrs = readDosAttrib(native) & kDosAttribBits;
    if (S_ISDIR(p.st.st_mode))
        attrs |= AttrDirectory;
    if (!S_ISREG(p.st.st_mode) && !S_ISDIR(p.st.st_mode))
        attrs |= AttrSystem;
    if (fileNamePart(m_fileName).startsWith(QLatin1Char('.')))
        attrs |= AttrHidden;

    // Read-only when the owner may not write it, or this user may not, or the
    // file could not be removed from its folder. access() grants root
    // everything, so the mode bits are looked at on their own too.
    bool readOnly = (p.st.st_mode & S_IWUSR) == 0 || ::access(native.constData(), W_OK) != 0;
    if (!readOnly) {
        const qsizetype slash = m_fileName.lastIndexOf(QLatin1Char('/'));
        const QByteArray folder = slash <= 0 ? QByteArray("/") : QFile::encodeName(m_fileName.left(slash));
        struct stat dirSt {};
        readOnly = ::stat(folder.constData(), &dirSt) != 0 || (dirSt.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0
            || ::access(folder.constData(), W_OK | X_OK) != 0;
        // In a sticky folder (/tmp, shared folders) only the entry's owner,
        // the folder's owner or root may remove it.
        struct stat own {};
        const uid_t me = ::geteuid();
        if (!readOnly && (dirSt.st_mode & S_ISVTX) != 0 && me != 0 && dirSt.st_uid != me
            && (::lstat(native.constData(), &own) != 0 || own.st_uid != me))
            readOnly = true;
    }
    if (readOnly)
        attrs |= AttrReadOnly;
    return attrs;
}

bool clsFile::GetAttrBit(std::uint16_t bit) const
{
    const Probe p = probe();
    return p.enabled && (attributes(p) & bit) != 0;
}

bool clsFile::SetAttrBit(std::uint16_t bit, bool value)
{
    m_error.clear();
    const Probe p = probe();
    if (!p.enabled)
        return true;
    const std::uint16_t current = attributes(p);
    if (value && (current & bit) != 0)
        return true;

    const QByteArray native = QFile::encodeName(m_fileName);
    if (bit == AttrReadOnly) {
        const mode_t mode = p.st.st_mode & 07777;
        const mode_t wanted = value ? (mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
        if (::chmod(native.constData(), wanted) != 0) {
            m_error = errnoText(errno);
            return false;
        }
        return true;
    }

    const std::uint16_t stored = readDosAttrib(native);
    const std::uint16_t updated = value ? (stored | bit) : (stored & ~bit);
    char text[16];
    const int len = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(updated));
    if (::setxattr(native.constData(), kDosAttrib, text, static_cast<size_t>(len), 0) != 0) {
        m_error = errnoText(errno);
        return false;
    }
    return true;
}

QString clsFile::Extension() const
{
    for (qsizetype i = m_fileName.size() - 1; i >= 0; --i) {
        const QChar c = m_fileName.at(i);
        if (c == QLatin1Char('.'))
            return m_fileName.mid(i + 1).toUpper();
        if (c == QLatin1Char('/'))
            break;
    }
    return {};
}

QString clsFile::ShortFileName() const
{
    const QString name = fileNamePart(m_fileName);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A name without a dot (README, Makefile) keeps its whole name, as a user
    // reading the battle list expects.
    return dot < 0 ? name : name.left(dot);
}

QString clsFile::LongPathName() const { return LongPathName(Probe{}); }

QString clsFile::LongPathName(const Probe& p) const
{
    if (m_fileName.isEmpty() || m_fileName.endsWith(QLatin1Char('/')))
        return m_fileName;
    struct stat st {};
    if (!p.enabled && ::lstat(QFile::encodeName(m_fileName).constData(), &st) != 0)
        return m_fileName;
    const QString entry = fileNamePart(m_fileName);
    if (entry == QLatin1String("."))
        return m_fileName;
    return m_fileName.left(m_fileName.size() - entry.size());
}

clsFile::Result clsFile::dispose(bool (*operation)(const QString&, QString*))
{
    m_error.clear();
    if (!Enabled())
        return Result::NothingThere;
    return operation(m_fileName, &m_error) ? Result::Done : Result::Refused;
}

clsFile::Result clsFile::Trash() { return dispose(&moveToTrash); }

clsFile::Result clsFile::Delete() { return dispose(&deleteFile); }

} // namespace dm
