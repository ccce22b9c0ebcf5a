#pragma once
// The window outline as rectangle data: built from the picture's pixels,
// kept in DM.rgn in the Windows region-data layout (little-endian), and
// turned into the window's mask.
#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QRegion>

#include <optional>
#include <vector>

namespace dm {

using RectList = std::vector<QRect>;

// Rectangles the cache can hold; a file claiming more gives no region.
inline constexpr int kMaxRgnRects = 4001;
// Region data of this many bytes or more is too large to cache.
inline constexpr int kRgnDataLimit = 64000;
inline constexpr int kRgnHeaderSize = 32;
// The largest coordinate region data may hold.
inline constexpr int kMaxRgnCoordinate = (1 << 27) - 1;

// One rectangle per run of pixels whose colour differs from pixel (0, 0),
// row by row, left to right; no run carries over into the next row.
[[nodiscard]] RectList OutlineRuns(const QImage& picture);

// The union of `rects` in canonical y-x banded form: bands from top to
// bottom, spans within a band from left to right and never touching,
// vertically adjacent bands with identical spans merged. Two rectangle lists
// cover the same pixels exactly when their canonical forms are equal.
[[nodiscard]] RectList CanonicalRects(const RectList& rects);

[[nodiscard]] QRegion RegionOf(const RectList& rects);
[[nodiscard]] RectList RectsOf(const QRegion& region);

// Header and rectangles of a canonical list, as DM.rgn holds them.
[[nodiscard]] QByteArray RgnDataBytes(const RectList& canonical);
// The rectangles of region data in canonical form; nullopt when the data
// gives no region (short header, a count that is negative, above
// kMaxRgnRects or not matched by the bytes that follow, a coordinate beyond
// kMaxRgnCoordinate).
[[nodiscard]] std::optional<RectList> ParseRgnData(const QByteArray& data);

} // namespace dm
