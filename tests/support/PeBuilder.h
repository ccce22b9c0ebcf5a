#pragma once
// A minimal Windows program made in memory: DOS header, PE header, one
// .rsrc section with an RT_VERSION resource holding the given fixed version
// information. Offsets of its parts are named, so tests can spoil them.
#include "services/VersionInfo.h"

#include <QByteArray>
#include <QtEndian>

namespace dm::test {

struct PeLayout {
    static constexpr int kPeHeader = 0x40;
    static constexpr int kSectionRaw = 0x200;   // file offset of .rsrc
    static constexpr int kSectionRva = 0x1000;  // its virtual address
    static constexpr int kVersionBlock = 0x60;  // VS_VERSIONINFO, in .rsrc
    static constexpr int kFixedInfo = kVersionBlock + 40;
    static constexpr int kEnd = kSectionRaw + kFixedInfo + 52; // last byte read
};

inline void putU16(QByteArray& b, int at, std::uint16_t v) { qToLittleEndian(v, b.data() + at); }
inline void putU32(QByteArray& b, int at, std::uint32_t v) { qToLittleEndian(v, b.data() + at); }

inline QByteArray BuildPe(const FixedFileInfo& info, bool pe32plus = false)
{
    using L = PeLayout;
    QByteArray b(0x400, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    putU32(b, 0x3C, L::kPeHeader);
    b.replace(L::kPeHeader, 4, QByteArray("PE\0\0", 4));
    const int optionalSize = pe32plus ? 240 : 224;
    putU16(b, L::kPeHeader + 4, pe32plus ? 0x8664 : 0x14C);
    putU16(b, L::kPeHeader + 6, 1);
    putU16(b, L::kPeHeader + 20, static_cast<std::uint16_t>(optionalSize));
    const int opt = L::kPeHeader + 24;
    putU16(b, opt, pe32plus ? 0x20B : 0x10B);
    const int dirs = opt + (pe32plus ? 112 : 96);
    putU32(b, dirs - 4, 16);
    putU32(b, dirs + 2 * 8, L::kSectionRva);
    putU32(b, dirs + 2 * 8 + 4, 0x200);
    const int section = opt + optionalSize;
    b.replace(section, 5, ".rsrc");
    putU32(b, section + 8, 0x200);
    putU32(b, section + 12, L::kSectionRva);
    putU32(b, section + 16, 0x200);
    putU32(b, section + 20, L::kSectionRaw);

    // Type RT_VERSION, name 1, language 0x411, each a directory of one entry.
    const int r = L::kSectionRaw;
    const auto directory = [&](int at, std::uint32_t id, std::uint32_t offset) {
        putU16(b, r + at + 14, 1);
        putU32(b, r + at + 16, id);
        putU32(b, r + at + 20, offset);
    };
    directory(0x00, 16, 0x80000018U);
    directory(0x18, 1, 0x80000030U);
    directory(0x30, 0x411, 0x48);
    putU32(b, r + 0x48, L::kSectionRva + L::kVersionBlock);
    putU32(b, r + 0x4C, 92);
    putU16(b, r + L::kVersionBlock, 92);
    putU16(b, r + L::kVersionBlock + 2, 52);
    b.replace(r + L::kVersionBlock + 6, 32, QByteArray(reinterpret_cast<const char*>(u"VS_VERSION_INFO"), 32));
    const std::uint32_t fields[] = {info.signature,        info.strucVersion,  info.fileVersionMS,
                                    info.fileVersionLS,    info.productVersionMS, info.productVersionLS,
                                    info.fileFlagsMask,    info.fileFlags,     info.fileOS,
                                    info.fileType,         info.fileSubtype,   info.fileDateMS,
                                    info.fileDateLS};
    for (int i = 0; i < 13; ++i)
        putU32(b, r + L::kFixedInfo + 4 * i, fields[i]);
    return b;
}

} // namespace dm::test
