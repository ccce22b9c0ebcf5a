#pragma once
// The version resource of Windows programs (PE files), read by the program
// itself, and the display texts of its codes.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace dm {

// VS_FIXEDFILEINFO, the thirteen 32-bit fields in their order.
struct FixedFileInfo {
    std::uint32_t signature, strucVersion;
    std::uint32_t fileVersionMS, fileVersionLS;
    std::uint32_t productVersionMS, productVersionLS;
    std::uint32_t fileFlagsMask, fileFlags;
    std::uint32_t fileOS, fileType, fileSubtype;
    std::uint32_t fileDateMS, fileDateLS;
};

inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

// Bytes of a file at an offset: exactly `length` bytes, or nullopt when the
// file does not hold them.
using ReadAt = std::function<std::optional<QByteArray>(std::uint32_t offset, std::uint32_t length)>;

// The fixed version information of a PE file, through DOS header, PE
// header, section table and resource directory down to RT_VERSION. Nullopt
// for anything else: a file that is not PE, has no version resource, or is
// truncated, looping or lying. Reads a bounded number of small pieces.
[[nodiscard]] std::optional<FixedFileInfo> ReadFixedFileInfo(const ReadAt& read);
// The same for bytes in memory.
[[nodiscard]] std::optional<FixedFileInfo> ReadFixedFileInfo(const QByteArray& bytes);
// The same for a file on disk.
[[nodiscard]] std::optional<FixedFileInfo> ReadFixedFileInfo(const QString& path);

// "1.0.0.0": the four unsigned 16-bit parts of MS and LS.
[[nodiscard]] QString VersionNumberText(std::uint32_t ms, std::uint32_t ls);
[[nodiscard]] QString FileTypeText(std::uint32_t type);
[[nodiscard]] QString FileSubtypeText(std::uint32_t type, std::uint32_t subtype);
[[nodiscard]] QString FileOSText(std::uint32_t os);
[[nodiscard]] QString BuildTypeText(std::uint32_t flags);

} // namespace dm
