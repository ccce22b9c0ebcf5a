#include "desktop/RgnData.h"

#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <map>

namespace dm {

RectList OutlineRuns(const QImage& picture)
{
    RectList runs;
    if (picture.isNull())
        return runs;
    const QImage img = picture.convertToFormat(QImage::Format_RGB32);
    const int w = img.width();
    const QRgb transparent = img.pixel(0, 0);
    for (int y = 0; y < img.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int start = -1;
        for (int x = 0; x <= w; ++x) {
            const bool opaque = x < w && row[x] != transparent;
            if (opaque && start < 0) {
                start = x;
            } else if (!opaque && start >= 0) {
                runs.emplace_back(start, y, x - start, 1);
                start = -1;
            }
        }
    }
    return runs;
}

RectList CanonicalRects(const RectList& rects)
{
    RectList live;
    live.reserve(rects.size());
    std::vector<int> edges;
    for (const QRect& r : rects) {
        if (r.isEmpty())
            continue;
        live.push_back(r);
        edges.push_back(r.top());
        edges.push_back(r.top() + r.height());
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::sort(live.begin(), live.end(), [](const QRect& a, const QRect& b) { return a.top() < b.top(); });

    struct Band {
        int top, bottom;
        std::vector<std::pair<int, int>> spans;
    };
    std::vector<Band> bands;
    std::vector<const QRect*> active;
    size_t next = 0;
    for (size_t e = 0; e + 1 < edges.size(); ++e) {
        const int y0 = edges[e];
        const int y1 = edges[e + 1];
        while (next < live.size() && live[next].top() <= y0)
            active.push_back(&live[next++]);
        std::erase_if(active, [y0](const QRect* r) { return r->top() + r->height() <= y0; });

        std::vector<std::pair<int, int>> spans;
        spans.reserve(active.size());
        for (const QRect* r : active)
            spans.emplace_back(r->left(), r->left() + r->width());
        std::sort(spans.begin(), spans.end());
        std::vector<std::pair<int, int>> merged;
        for (const auto& s : spans) {
            if (!merged.empty() && s.first <= merged.back().second)
                merged.back().second = std::max(merged.back().second, s.second);
            else
                merged.push_back(s);
        }
        if (merged.empty())
            continue;
        if (!bands.empty() && bands.back().bottom == y0 && bands.back().spans == merged)
            bands.back().bottom = y1;
        else
            bands.push_back({y0, y1, std::move(merged)});
    }

    RectList out;
    for (const Band& b : bands) {
        for (const auto& [left, right] : b.spans)
            out.emplace_back(left, b.top, right - left, b.bottom - b.top);
    }
    return out;
}

QRegion RegionOf(const RectList& rects)
{
    // setRects trusts its input to be banded already.
    const RectList canonical = CanonicalRects(rects);
    QRegion region;
    region.setRects(canonical.data(), static_cast<int>(canonical.size()));
    return region;
}

RectList RectsOf(const QRegion& region) { return CanonicalRects(RectList(region.begin(), region.end())); }

namespace {

void putLong(QByteArray& out, std::int32_t v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

std::int32_t longAt(const QByteArray& data, qsizetype offset)
{
    return qFromLittleEndian<std::int32_t>(data.constData() + offset);
}

} // namespace

QByteArray RgnDataBytes(const RectList& canonical)
{
    QRect bound;
    for (const QRect& r : canonical)
        bound = bound.united(r);
    const auto n = static_cast<std::int32_t>(canonical.size());
    QByteArray out;
    out.reserve(kRgnHeaderSize + 16 * n);
    putLong(out, kRgnHeaderSize);
    putLong(out, 1);
    putLong(out, n);
    putLong(out, 16 * n);
    const auto putRect = [&out](const QRect& r) {
        putLong(out, r.isNull() ? 0 : r.left());
        putLong(out, r.isNull() ? 0 : r.top());
        putLong(out, r.isNull() ? 0 : r.left() + r.width());
        putLong(out, r.isNull() ? 0 : r.top() + r.height());
    };
    putRect(bound);
    for (const QRect& r : canonical)
        putRect(r);
    return out;
}

std::optional<RectList> ParseRgnData(const QByteArray& data)
{
    if (data.size() < kRgnHeaderSize)
        return std::nullopt;
    const std::int32_t n = longAt(data, 8);
    if (n < 0 || n > kMaxRgnRects || data.size() < kRgnHeaderSize + qsizetype{16} * n)
        return std::nullopt;
    RectList rects;
    rects.reserve(static_cast<size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        const qsizetype at = kRgnHeaderSize + qsizetype{16} * i;
        const std::int64_t left = longAt(data, at);
        const std::int64_t top = longAt(data, at + 4);
        const std::int64_t right = longAt(data, at + 8);
        const std::int64_t bottom = longAt(data, at + 12);
        // Windows keeps region coordinates within 27 bits; beyond that a
        // union of spans could no longer be measured in an int.
        const auto outside = [](std::int64_t v) { return v < -kMaxRgnCoordinate || v > kMaxRgnCoordinate; };
        if (outside(left) || outside(top) || outside(right) || outside(bottom))
            return std::nullopt;
        // Empty rectangles add nothing.
        if (right <= left || bottom <= top)
            continue;
        rects.emplace_back(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                           static_cast<int>(bottom - top));
    }
    return CanonicalRects(rects);
}

} // namespace dm
