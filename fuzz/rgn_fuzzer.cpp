// Arbitrary bytes as a DM.rgn: whatever region they give must be canonical
// and survive the way to a window's mask and back, and to bytes and back.
#include "desktop/RgnData.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<dm::RectList> rects = dm::ParseRgnData(bytes);
    if (!rects)
        return 0;
    if (dm::CanonicalRects(*rects) != *rects || dm::RectsOf(dm::RegionOf(*rects)) != *rects)
        __builtin_trap();
    if (rects->size() <= static_cast<size_t>(dm::kMaxRgnRects) && dm::ParseRgnData(dm::RgnDataBytes(*rects)) != rects)
        __builtin_trap();
    return 0;
}
