// Arbitrary bytes as a Windows program whose version resource is read.
#include "services/VersionInfo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<dm::FixedFileInfo> info = dm::ReadFixedFileInfo(bytes);
    if (info && info->signature != dm::kFixedFileInfoSignature)
        __builtin_trap();
    return 0;
}
