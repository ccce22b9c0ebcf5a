#include "services/VersionInfo.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <utility>

namespace dm {

namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000U;
// A PE file has at most 96 sections; more is a lie.
constexpr std::uint16_t kMaxSections = 96;
// Entries looked at per resource directory: far more than real files have,
// few enough that a lying count costs nothing.
constexpr std::uint32_t kMaxEntries = 4096;

std::uint16_t u16(const QByteArray& b, qsizetype at) { return qFromLittleEndian<std::uint16_t>(b.constData() + at); }
std::uint32_t u32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<std::uint32_t>(b.constData() + at); }

struct Section {
    std::uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class PeReader {
public:
    explicit PeReader(const ReadAt& read) : m_read(read) {}

    std::optional<FixedFileInfo> fixedFileInfo()
    {
        if (!readHeaders())
            return std::nullopt;
        // Type (RT_VERSION), then the first name and the first language.
        std::optional<std::uint32_t> entry = findEntry(0, kRtVersion);
        for (int level = 0; level < 2 && entry; ++level) {
            if ((*entry & kSubdirectoryBit) == 0)
                return std::nullopt;
            entry = findEntry(*entry & ~kSubdirectoryBit, std::nullopt);
        }
        if (!entry || (*entry & kSubdirectoryBit) != 0)
            return std::nullopt;
        const std::optional<QByteArray> data = readResource(*entry, 16);
        if (!data)
            return std::nullopt;
        return versionBlock(u32(*data, 0), u32(*data, 4));
    }

private:
    // Reads at offsets computed from the file's own numbers, which may lie.
    std::optional<QByteArray> readAt(std::uint64_t offset, std::uint64_t length)
    {
        if (offset + length > UINT32_MAX)
            return std::nullopt;
        return m_read(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length));
    }

    bool readHeaders()
    {
        const std::optional<QByteArray> dos = m_read(0, 64);
        if (!dos || dos->left(2) != "MZ")
            return false;
        const std::uint64_t pe = u32(*dos, 0x3C);
        const std::optional<QByteArray> coff = readAt(pe, 24);
        if (!coff || coff->left(4) != QByteArray("PE\0\0", 4))
            return false;
        const std::uint16_t sections = u16(*coff, 6);
        const std::uint16_t optionalSize = u16(*coff, 20);
        if (sections > kMaxSections)
            return false;
        const std::optional<QByteArray> opt = readAt(pe + 24, optionalSize);
        if (!opt || opt->size() < 2)
            return false;
        // PE32 and PE32+ keep the data directories at different places.
        const std::uint16_t magic = u16(*opt, 0);
        const qsizetype countAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : -1;
        // The count, then directory entries of 8 bytes; the resources' is the third.
        constexpr qsizetype kEntry = 8;
        if (countAt < 0 || opt->size() < countAt + 4 || u32(*opt, countAt) < 3
            || opt->size() < countAt + 4 + 3 * kEntry)
            return false;
        m_resourceRva = u32(*opt, countAt + 4 + 2 * kEntry);
        if (m_resourceRva == 0)
            return false;
        const std::optional<QByteArray> table = readAt(pe + 24 + optionalSize, std::uint64_t{sections} * 40);
        if (!table)
            return false;
        for (std::uint16_t s = 0; s < sections; ++s) {
            const qsizetype at = qsizetype{s} * 40;
            m_sections[s] = {u32(*table, at + 12), u32(*table, at + 8), u32(*table, at + 16), u32(*table, at + 20)};
        }
        m_sectionCount = sections;
        return true;
    }

    // The bytes at a virtual address, from the section that holds all of them.
    std::optional<QByteArray> readRva(std::uint32_t rva, std::uint32_t length)
    {
        for (std::uint16_t s = 0; s < m_sectionCount; ++s) {
            const Section& sec = m_sections[s];
            const std::uint64_t offsetIn = std::uint64_t{rva} - sec.virtualAddress;
            if (rva < sec.virtualAddress || offsetIn + length > sec.rawSize)
                continue;
            return readAt(sec.rawOffset + offsetIn, length);
        }
        return std::nullopt;
    }

    // Directory and data offsets count from the start of the resources.
    std::optional<QByteArray> readResource(std::uint32_t offset, std::uint32_t length)
    {
        const std::uint64_t rva = std::uint64_t{m_resourceRva} + offset;
        return rva > UINT32_MAX ? std::nullopt : readRva(static_cast<std::uint32_t>(rva), length);
    }

    // The entry of the directory at `offset` with the ID `id`, or its first
    // entry; its OffsetToData.
    std::optional<std::uint32_t> findEntry(std::uint32_t offset, std::optional<std::uint32_t> id)
    {
        const std::optional<QByteArray> head = readResource(offset, 16);
        if (!head)
            return std::nullopt;
        const std::uint32_t named = u16(*head, 12);
        const std::uint32_t ids = u16(*head, 14);
        const std::uint32_t total = std::min(named + ids, kMaxEntries);
        if (total == 0)
            return std::nullopt;
        const std::optional<QByteArray> entries = readResource(offset + 16, total * 8);
        if (!entries)
            return std::nullopt;
        if (!id)
            return u32(*entries, 4);
        // Named entries come first; an ID is never found among them.
        for (std::uint32_t i = named; i < total; ++i) {
            if (u32(*entries, qsizetype{i} * 8) == *id)
                return u32(*entries, qsizetype{i} * 8 + 4);
        }
        return std::nullopt;
    }

    // VS_VERSIONINFO: lengths, type, the key "VS_VERSION_INFO", padding to a
    // 32-bit boundary, then VS_FIXEDFILEINFO.
    std::optional<FixedFileInfo> versionBlock(std::uint32_t rva, std::uint32_t size)
    {
        constexpr std::uint32_t kValueAt = 40;
        constexpr std::uint32_t kFixedSize = 52;
        if (size < kValueAt + kFixedSize)
            return std::nullopt;
        const std::optional<QByteArray> b = readRva(rva, kValueAt + kFixedSize);
        if (!b || u16(*b, 2) < kFixedSize
            || b->mid(6, 32) != QByteArray(reinterpret_cast<const char*>(u"VS_VERSION_INFO"), 32))
            return std::nullopt;
        std::array<std::uint32_t, 13> f{};
        for (size_t i = 0; i < f.size(); ++i)
            f[i] = u32(*b, qsizetype{kValueAt} + 4 * static_cast<qsizetype>(i));
        if (f[0] != kFixedFileInfoSignature)
            return std::nullopt;
        return FixedFileInfo{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12]};
    }

    const ReadAt& m_read;
    std::uint32_t m_resourceRva = 0;
    std::array<Section, kMaxSections> m_sections{};
    std::uint16_t m_sectionCount = 0;
};

QString pick(std::uint32_t code, std::initializer_list<std::pair<std::uint32_t, const char*>> table,
             QString otherwise = {})
{
    for (const auto& [c, text] : table) {
        if (c == code)
            return QString::fromUtf8(text);
    }
    return otherwise;
}

QString unknown() { return QStringLiteral("不明"); }

} // namespace

std::optional<FixedFileInfo> ReadFixedFileInfo(const ReadAt& read) { return PeReader(read).fixedFileInfo(); }

std::optional<FixedFileInfo> ReadFixedFileInfo(const QByteArray& bytes)
{
    const ReadAt read = [&bytes](std::uint32_t offset, std::uint32_t length) -> std::optional<QByteArray> {
        if (std::uint64_t{offset} + length > static_cast<std::uint64_t>(bytes.size()))
            return std::nullopt;
        return bytes.mid(offset, length);
    };
    return ReadFixedFileInfo(read);
}

std::optional<FixedFileInfo> ReadFixedFileInfo(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    const qint64 size = file.size();
    const ReadAt read = [&file, size](std::uint32_t offset, std::uint32_t length) -> std::optional<QByteArray> {
        if (qint64{offset} + length > size || !file.seek(offset))
            return std::nullopt;
        QByteArray bytes = file.read(length);
        return bytes.size() == qsizetype{length} ? std::optional<QByteArray>(std::move(bytes)) : std::nullopt;
    };
    return ReadFixedFileInfo(read);
}

QString VersionNumberText(std::uint32_t ms, std::uint32_t ls)
{
    return QStringLiteral("%1.%2.%3.%4").arg(ms >> 16).arg(ms & 0xFFFFU).arg(ls >> 16).arg(ls & 0xFFFFU);
}

QString FileTypeText(std::uint32_t type)
{
    return pick(type,
                {{0, "不明"},
                 {1, "ｱﾌﾟﾘｹｰｼｮﾝ"},
                 {2, "ﾀﾞｲﾅﾐｯｸﾘﾝｸﾗｲﾌﾞﾗﾘ"},
                 {3, "ﾃﾞﾊﾞｲｽﾄﾞﾗｲﾊﾞ"},
                 {4, "ﾌｫﾝﾄ"},
                 {5, "仮想ﾃﾞﾊﾞｲｽﾄﾞﾗｲﾊﾞ"},
                 {7, "ｽﾀﾃｲｯｸﾗｲﾌﾞﾗﾘ"}});
}

QString FileSubtypeText(std::uint32_t type, std::uint32_t subtype)
{
    if (type == 3)
        return pick(subtype,
                    {{0, "不明"},
                     {1, "ﾌﾟﾘﾝﾀﾄﾞﾗｲﾊﾞ"},
                     {2, "ｷｰﾎﾞｰﾄﾞﾄﾞﾗｲﾊﾞ"},
                     {3, "言語ﾄﾞﾗｲﾊﾞ"},
                     {4, "ﾃﾞｨｽﾌﾟﾚｲﾄﾞﾗｲﾊﾞ"},
                     {5, "ﾏｳｽﾄﾞﾗｲﾊﾞ"},
                     {6, "ﾈｯﾄﾜｰｸﾄﾞﾗｲﾊﾞ"},
                     {7, "ｼｽﾃﾑﾄﾞﾗｲﾊﾞ"},
                     {8, "ｲﾝｽﾄｰﾙﾄﾞﾗｲﾊﾞ"},
                     {9, "ｻｳﾝﾄﾞﾄﾞﾗｲﾊﾞ"},
                     {10, "通信ﾄﾞﾗｲﾊﾞ"},
                     {11, "IMEﾄﾞﾗｲﾊﾞ"}});
    if (type == 4)
        return pick(subtype, {{1, "ﾗｽﾀｰﾌｫﾝﾄ"}, {2, "ﾍﾞｸﾀｰﾌｫﾝﾄ"}, {3, "ﾄｩﾙｰﾀｲﾌﾟﾌｫﾝﾄ"}});
    return unknown();
}

QString FileOSText(std::uint32_t os)
{
    return pick(os,
                {{0, "不明"},
                 {1, "16bit Windows"},
                 {2, "16bit Presentation Manager"},
                 {3, "32bit Presentation Manager"},
                 {4, "32bit Windows"},
                 {0x10000, "DOS"},
                 {0x10001, "DOS上の16bit Windows"},
                 {0x10004, "DOS上の32bit Windows"},
                 {0x20000, "16bit OS/2"},
                 {0x20002, "16bit OS/2上のPresentation Manager"},
                 {0x30000, "32bit OS/2"},
                 {0x30003, "32bit OS/2上のPresentation Manager"},
                 {0x40000, "Windows NT"},
                 {0x40004, "32bit Windows NT"}});
}

QString BuildTypeText(std::uint32_t flags)
{
    return pick(flags,
                {{1, "ﾃﾞﾊﾞｯｸﾞﾋﾞﾙﾄﾞ"},
                 {2, "ﾌﾟﾚﾘﾘｰｽﾋﾞﾙﾄﾞ"},
                 {4, "ﾊﾟｯﾁﾋﾞﾙﾄﾞ"},
                 {8, "ﾌﾟﾗｲﾍﾞｰﾄﾋﾞﾙﾄﾞ"},
                 {16, ""},
                 {32, "ｽﾍﾟｼｬﾙﾋﾞﾙﾄﾞ"}},
                unknown());
}

} // namespace dm
