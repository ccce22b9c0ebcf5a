// The outline: runs of the picture's pixels, the canonical rectangle form,
// and the region data DM.rgn keeps.
#include "desktop/RgnData.h"
#include "desktop/WindowTest.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <optional>

namespace dm {
namespace {

using test::CaseName;
using test::PrintTo;

// Rectangles as Windows writes them: left, top, right, bottom (exclusive).
struct Ltrb {
    int l, t, r, b;
};
RectList rects(std::initializer_list<Ltrb> list)
{
    RectList out;
    for (const Ltrb& x : list)
        out.emplace_back(x.l, x.t, x.r - x.l, x.b - x.t);
    return out;
}

QByteArray longs(std::initializer_list<std::int32_t> values)
{
    QByteArray out;
    for (const std::int32_t v : values) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    return out;
}

bool covers(const RectList& list, const QPoint& p)
{
    return std::any_of(list.begin(), list.end(), [&p](const QRect& r) { return r.contains(p); });
}

TEST(Outline, ShippedPictureIsItsNonBluePixels)
{
    const QImage hero(QStringLiteral(":/pictures/hero.xpm"));
    ASSERT_EQ(hero.size(), QSize(54, 50));
    const QRgb blue = qRgb(0, 0, 255);
    ASSERT_EQ(hero.pixel(0, 0), blue);

    const RectList outline = CanonicalRects(OutlineRuns(hero));
    int opaque = 0;
    for (int y = 0; y < hero.height(); ++y) {
        for (int x = 0; x < hero.width(); ++x) {
            const bool figure = hero.pixel(x, y) != blue;
            opaque += figure ? 1 : 0;
            ASSERT_EQ(covers(outline, {x, y}), figure) << x << "," << y;
        }
    }
    EXPECT_GT(opaque, 500);
    EXPECT_LT(RgnDataBytes(outline).size(), kRgnDataLimit);
}

TEST(Outline, RunsNeverLeaveThePictureNorCrossRows)
{
    // Background colour inside the figure is a hole; a run reaching the
    // last column ends there; an empty row adds nothing.
    QImage img(5, 3, QImage::Format_RGB32);
    img.fill(Qt::blue);
    for (int x : {1, 3, 4})
        img.setPixel(x, 0, qRgb(255, 0, 0));
    img.setPixel(4, 1, qRgb(0, 0, 0));
    EXPECT_EQ(OutlineRuns(img), rects({{1, 0, 2, 1}, {3, 0, 5, 1}, {4, 1, 5, 2}}));
}

struct CanonCase {
    std::string name;
    RectList in;
    RectList out;
};

class Canonical : public ::testing::TestWithParam<CanonCase> {};

TEST_P(Canonical, IsTheBandedUnion)
{
    const CanonCase& c = GetParam();
    EXPECT_EQ(CanonicalRects(c.in), c.out);
    // Whatever order or overlap, the same pixels give the same list.
    RectList reversed(c.in.rbegin(), c.in.rend());
    EXPECT_EQ(CanonicalRects(reversed), c.out);
    EXPECT_EQ(RectsOf(RegionOf(c.in)), c.out);
}

INSTANTIATE_TEST_SUITE_P(Rects, Canonical,
    ::testing::Values(
        CanonCase{"TwoSpansOverTwoRowsThenOneWide",
                  rects({{0, 0, 2, 1}, {5, 0, 7, 1}, {0, 1, 2, 2}, {5, 1, 7, 2}, {0, 2, 7, 3}}),
                  rects({{0, 0, 2, 2}, {5, 0, 7, 2}, {0, 2, 7, 3}})},
        CanonCase{"IdenticalRowsMerge", rects({{0, 0, 10, 1}, {0, 1, 10, 2}, {0, 2, 10, 3}}), rects({{0, 0, 10, 3}})},
        CanonCase{"TouchingSpansMerge", rects({{0, 0, 2, 1}, {2, 0, 5, 1}}), rects({{0, 0, 5, 1}})},
        CanonCase{"OverlapIsUnited", rects({{0, 0, 4, 4}, {2, 2, 6, 6}}),
                  rects({{0, 0, 4, 2}, {0, 2, 6, 4}, {2, 4, 6, 6}})},
        CanonCase{"GapBetweenBandsStays", rects({{0, 0, 3, 1}, {0, 2, 3, 3}}), rects({{0, 0, 3, 1}, {0, 2, 3, 3}})},
        CanonCase{"EmptyRectsVanish", rects({{3, 3, 3, 8}, {1, 1, 4, 1}}), {}}),
    CaseName());

TEST(RgnData, WindowsLayout)
{
    const RectList region = rects({{0, 0, 2, 2}, {5, 0, 7, 2}, {0, 2, 7, 3}});
    const QByteArray bytes = RgnDataBytes(region);
    EXPECT_EQ(bytes, longs({32, 1, 3, 48, 0, 0, 7, 3, 0, 0, 2, 2, 5, 0, 7, 2, 0, 2, 7, 3}));
    EXPECT_EQ(RgnDataBytes(*ParseRgnData(bytes)), bytes);
}

struct ParseCase {
    std::string name;
    QByteArray data;
    std::optional<RectList> result;
};

class ParseRgn : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseRgn, GivesTheRegionOrNone)
{
    EXPECT_EQ(ParseRgnData(GetParam().data), GetParam().result);
}

QByteArray header(std::int32_t n) { return longs({32, 1, n, 16 * n, 0, 0, 9, 9}); }

INSTANTIATE_TEST_SUITE_P(Data, ParseRgn,
    ::testing::Values(
        ParseCase{"ShorterThanHeader", header(0).left(31), std::nullopt},
        ParseCase{"FewerRectsThanCount", header(3) + longs({0, 0, 1, 1, 1, 0, 2, 1}), std::nullopt},
        ParseCase{"NegativeCount", header(-1), std::nullopt},
        ParseCase{"MoreThanItHolds", header(kMaxRgnRects + 1) + QByteArray(16 * (kMaxRgnRects + 1), '\0'),
                  std::nullopt},
        ParseCase{"TrailingBytesIgnored", header(1) + longs({1, 1, 3, 2}) + "junk", rects({{1, 1, 3, 2}})},
        ParseCase{"UnorderedAndOverlappingAreUnited", header(2) + longs({0, 1, 4, 2, 0, 0, 4, 2}),
                  rects({{0, 0, 4, 2}})},
        ParseCase{"NoRectangles", header(0), RectList{}},
        // Found by fuzzing: two spans of 2^31 each would merge into a width
        // no int holds.
        ParseCase{"CoordinateBeyond27Bits", header(2) + longs({-(1 << 27), 0, 0, 1, 0, 0, 1 << 27, 1}), std::nullopt}),
    CaseName());

} // namespace
} // namespace dm
