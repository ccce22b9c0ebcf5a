#include "services/clsFile.h"

#include "services/Trash.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace dm {
namespace {

// Samba and Wine keep the DOS attributes of a file in this extended
// attribute, as the text "0x" followed by hex digits.
constexpr const char* kDosAttrib = "user.DOSATTRIB";
// Read-only is left to the mode bits alone, so the ReadOnly let can always
// undo what it reports.
constexpr std::uint16_t kDosAttribBits = clsFile::AttrHidden | clsFile::AttrSystem | clsFile::AttrArchive;

// Samba's "0x..." text as attribute bits; 0 when it is not one.
std::uint16_t parseDosAttrib(const char* buf, ssize_t n)
{
    if (n < 3 || buf[0] != '0' || (buf[1] != 'x' && buf[1] != 'X'))
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

// The DOS attribute bits stored with the file; 0 when it has none.
std::uint16_t readDosAttrib(const QByteArray& path)
{
    char buf[64];
    return parseDosAttrib(buf, ::getxattr(path.constData(), kDosAttrib, buf, sizeof buf));
}

// What the open file's extended attributes say: the DOS bits, and whether it
// has an ACL, which the mode bits alone do not show. One listing answers
// both for the many files that have neither.
struct ExtendedAttributes {
    std::uint16_t dosAttrib = 0;
    bool acl = false;
};
ExtendedAttributes readExtendedAttributes(int fd)
{
    ExtendedAttributes out;
    char names[1024];
    const ssize_t n = ::flistxattr(fd, names, sizeof names);
    // No listing, and the file may have either: ask for each.
    bool dos = n < 0 && errno != ENOTSUP;
    out.acl = dos;
    for (ssize_t i = 0; i < n;) {
        const std::string_view name(names + i);
        dos = dos || name == kDosAttrib;
        out.acl = out.acl || (name.starts_with("system.") && name.find("acl") != std::string_view::npos);
        i += static_cast<ssize_t>(name.size()) + 1;
    }
    if (dos) {
        char buf[64];
        out.dosAttrib = parseDosAttrib(buf, ::fgetxattr(fd, kDosAttrib, buf, sizeof buf));
    }
    return out;
}

// Who this process is; that does not change while it runs.
struct Credentials {
    uid_t uid = ::getuid();
    uid_t euid = ::geteuid();
    gid_t gid = ::getgid();
    std::vector<gid_t> groups;
    Credentials()
    {
        groups.resize(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
        groups.resize(static_cast<size_t>(std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    }
    [[nodiscard]] bool inGroup(gid_t g) const
    {
        return g == gid || std::find(groups.begin(), groups.end(), g) != groups.end();
    }
};
const Credentials& me()
{
    static const Credentials credentials;
    return credentials;
}

// Whether this user may write the file, as access(W_OK) answers: the owner's,
// the group's or the others' bits, whichever class the user falls in first.
// Where the mode bits cannot tell, the kernel is asked.
bool mayWrite(const clsFile::Probe& p, const QString& path)
{
    if (!p.modeDecidesWrite)
        return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
    if (p.immutable)
        return false;
    if (me().uid == 0)
        return true;
    if (p.st.st_uid == me().uid)
        return (p.st.st_mode & S_IWUSR) != 0;
    if (me().inGroup(p.st.st_gid))
        return (p.st.st_mode & S_IWGRP) != 0;
    return (p.st.st_mode & S_IWOTH) != 0;
}

void fromStatx(const struct statx& x, struct stat& st)
{
    st.st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
    st.st_ino = x.stx_ino;
    st.st_mode = x.stx_mode;
    st.st_nlink = x.stx_nlink;
    st.st_uid = x.stx_uid;
    st.st_gid = x.stx_gid;
    st.st_rdev = makedev(x.stx_rdev_major, x.stx_rdev_minor);
    st.st_size = static_cast<off_t>(x.stx_size);
    st.st_blksize = static_cast<blksize_t>(x.stx_blksize);
    st.st_blocks = static_cast<blkcnt_t>(x.stx_blocks);
    st.st_atim = {x.stx_atime.tv_sec, x.stx_atime.tv_nsec};
    st.st_mtim = {x.stx_mtime.tv_sec, x.stx_mtime.tv_nsec};
    st.st_ctim = {x.stx_ctime.tv_sec, x.stx_ctime.tv_nsec};
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

clsFile::Probe clsFile::probe(Look look) const
{
    Probe p;
    if (m_fileName.isEmpty() || m_fileName.endsWith(QLatin1Char('/')))
        return p;
    const QByteArray native = QFile::encodeName(m_fileName);
    // O_NONBLOCK: a FIFO without a writer must not hang the program.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return p;
    // statx rather than fstat: at the same cost it also tells whether the
    // file is immutable.
    struct statx x {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS, &x) == 0) {
        fromStatx(x, p.st);
        // Linux lets a folder be opened; it still is no readable file.
        p.enabled = !S_ISDIR(p.st.st_mode);
        p.immutable = (x.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
        if (look == Look::WithAttributes) {
            const ExtendedAttributes xattrs = readExtendedAttributes(fd);
            p.attributesRead = true;
            p.dosAttrib = xattrs.dosAttrib;
            p.modeDecidesWrite = !xattrs.acl && (x.stx_attributes_mask & STATX_ATTR_IMMUTABLE) != 0;
        }
    }
    ::close(fd);
    return p;
}

bool clsFile::Enabled() const { return probe().enabled; }

std::int32_t clsFile::Size() const { return probe().size(); }

bool clsFile::Directory() const { return probe().isDirectory(); }

clsFile::Folders::Answer clsFile::Folders::of(QStringView folder)
{
    if (m_haveLast && folder == m_last)
        return m_lastAnswer;
    m_last = folder.toString();
    m_haveLast = true;
    const auto known = m_answers.constFind(m_last);
    if (known != m_answers.constEnd()) {
        m_lastAnswer = *known;
        return m_lastAnswer;
    }
    const QByteArray native = QFile::encodeName(m_last);
    struct stat st {};
    Answer a;
    a.removable = ::stat(native.constData(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0
        && ::access(native.constData(), W_OK | X_OK) == 0;
    // In a sticky folder (/tmp, shared folders) only the entry's owner, the
    // folder's owner or root may remove an entry.
    a.ownEntriesOnly = (st.st_mode & S_ISVTX) != 0 && me().euid != 0 && st.st_uid != me().euid;
    m_answers.insert(m_last, a);
    m_lastAnswer = a;
    return a;
}

std::uint16_t clsFile::attributes(const Probe& probed, Folders* folders) const
{
    const Probe p = probed.attributesRead ? probed : probe(Look::WithAttributes);
    std::uint16_t attrs = p.dosAttrib & kDosAttribBits;
    if (S_ISDIR(p.st.st_mode))
        attrs |= AttrDirectory;
    if (!S_ISREG(p.st.st_mode) && !S_ISDIR(p.st.st_mode))
        attrs |= AttrSystem;
    if (fileNamePart(m_fileName).startsWith(QLatin1Char('.')))
        attrs |= AttrHidden;

    // Read-only when the owner may not write it, or this user may not, or the
    // file could not be removed from its folder. Root may write anything, so
    // the owner's bit is looked at on its own too.
    bool readOnly = (p.st.st_mode & S_IWUSR) == 0 || !mayWrite(p, m_fileName);
    if (!readOnly) {
        const qsizetype slash = m_fileName.lastIndexOf(QLatin1Char('/'));
        const QStringView folder = slash <= 0 ? QStringView(u"/") : QStringView(m_fileName).left(slash);
        Folders once;
        const Folders::Answer answer = (folders != nullptr ? folders : &once)->of(folder);
        struct stat own {};
        readOnly = !answer.removable
            || (answer.ownEntriesOnly
                && (::lstat(QFile::encodeName(m_fileName).constData(), &own) != 0 || own.st_uid != me().euid));
    }
    if (readOnly)
        attrs |= AttrReadOnly;
    return attrs;
}

bool clsFile::GetAttrBit(std::uint16_t bit) const
{
    const Probe p = probe(Look::WithAttributes);
    return p.enabled && (attributes(p) & bit) != 0;
}

bool clsFile::SetAttrBit(std::uint16_t bit, bool value)
{
    m_error.clear();
    const Probe p = probe(Look::WithAttributes);
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
