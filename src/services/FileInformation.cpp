// What the file object tells about its file beyond name, size and
// attributes: program or not, allocated size, times, links, and the version
// resource of Windows programs.
#include "services/VersionInfo.h"
#include "services/clsFile.h"

#include <QFile>

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace dm {

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

// One look at the file's times and links; nullopt when it is not Enabled.
std::optional<struct statx> fileInfo(const clsFile& f)
{
    if (!f.Enabled())
        return std::nullopt;
    struct statx stx {};
    if (::statx(AT_FDCWD, native(f.FileName()).constData(), 0, STATX_BTIME | STATX_ATIME | STATX_MTIME | STATX_NLINK,
                &stx)
        != 0)
        return std::nullopt;
    return stx;
}

QString timeText(const std::optional<struct statx>& stx, unsigned mask, statx_timestamp statx::*field)
{
    // Only a time the file system does not keep is empty; the epoch is a time.
    if (!stx || (stx->stx_mask & mask) == 0)
        return {};
    return FormatFileTime(QDateTime::fromSecsSinceEpoch(((*stx).*field).tv_sec, Qt::LocalTime));
}

std::optional<FixedFileInfo> versionInfo(const clsFile& f)
{
    return f.Enabled() ? ReadFixedFileInfo(f.FileName()) : std::nullopt;
}

} // namespace

QString FormatFileTime(const QDateTime& local)
{
    static const char* const kDays[]
        = {" 日曜日 ", " 月曜日 ", " 火曜日 ", " 水曜日 ", " 木曜日 ", " 金曜日 ", " 土曜日 "};
    const QDate d = local.date();
    const QTime t = local.time();
    // Qt counts Monday 1 to Sunday 7; the table starts on Sunday.
    const QString weekday = QString::fromUtf8(kDays[d.dayOfWeek() % 7]).leftJustified(8, QLatin1Char(' '));
    return QStringLiteral("%1年%2月%3日").arg(d.year()).arg(d.month()).arg(d.day()) + weekday
        + QStringLiteral("%1:%2:%3").arg(t.hour()).arg(t.minute()).arg(t.second());
}

bool clsFile::Executable() const
{
    if (!Enabled())
        return false;
    QFile f(m_fileName);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray magic = f.read(4);
    return magic
        == QByteArray("\x7f"
                      "ELF")
        || magic.startsWith("MZ");
}

QString clsFile::ShortPathName() const
{
    const QByteArray path = native(m_fileName);
    struct stat st {};
    if (m_fileName.isEmpty() || ::stat(path.constData(), &st) != 0 || path.size() >= 512)
        return {};
    return m_fileName;
}

std::int32_t clsFile::CompressedSize() const
{
    struct stat st {};
    if (m_fileName.isEmpty() || ::stat(native(m_fileName).constData(), &st) != 0)
        return -1;
    const auto bytes = static_cast<std::uint64_t>(st.st_blocks) * 512U;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes & 0xFFFFFFFFU));
}

QString clsFile::CreationTime() const { return timeText(fileInfo(*this), STATX_BTIME, &statx::stx_btime); }
QString clsFile::LastAccessTime() const { return timeText(fileInfo(*this), STATX_ATIME, &statx::stx_atime); }
// The last write is the last change of the contents.
QString clsFile::LastWriteTime() const { return timeText(fileInfo(*this), STATX_MTIME, &statx::stx_mtime); }

std::int32_t clsFile::Links() const
{
    const std::optional<struct statx> stx = fileInfo(*this);
    return stx && (stx->stx_mask & STATX_NLINK) != 0 ? static_cast<std::int32_t>(stx->stx_nlink) : 0;
}

QString clsFile::FileVersion() const
{
    const std::optional<FixedFileInfo> v = versionInfo(*this);
    return v ? VersionNumberText(v->fileVersionMS, v->fileVersionLS) : QString();
}

QString clsFile::ProductVersion() const
{
    const std::optional<FixedFileInfo> v = versionInfo(*this);
    return v ? VersionNumberText(v->productVersionMS, v->productVersionLS) : QString();
}

QString clsFile::FileType() const
{
    const std::optional<FixedFileInfo> v = versionInfo(*this);
    return FileTypeText(v ? v->fileType : 0);
}

QString clsFile::FileSubtype() const
{
    const std::optional<FixedFileInfo> v = versionInfo(*this);
    return v ? FileSubtypeText(v->fileType, v->fileSubtype) : FileSubtypeText(0, 0);
}

QString clsFile::FileOS() const
{
    const std::optional<FixedFileInfo> v = versionInfo(*this);
    return FileOSText(v ? v->fileOS : 0);
}

QString clsFile::BuildType() const
{
    const std::optional<FixedFileInfo> v = versionInfo(*this);
    return BuildTypeText(v ? v->fileFlags : 0);
}

} // namespace dm
