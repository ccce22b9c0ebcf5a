// The installed icons: every hicolor size, the pixel art in whole-pixel
// blocks (never blended), centred on a transparent square.
#include <QImage>

#include <gtest/gtest.h>

namespace {

// The largest opaque rectangle's edges.
QRect opaqueBounds(const QImage& image)
{
    QRect r;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0)
                r |= QRect(x, y, 1, 1);
        }
    }
    return r;
}

// Whether the rectangle is made of `block`×`block` squares of one colour each.
bool inBlocks(const QImage& image, const QRect& r, int block)
{
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const int cornerX = r.left() + (x - r.left()) / block * block;
            const int cornerY = r.top() + (y - r.top()) / block * block;
            if (image.pixel(x, y) != image.pixel(cornerX, cornerY))
                return false;
        }
    }
    return true;
}

class IconTest : public testing::TestWithParam<int> {};

TEST_P(IconTest, IsThePixelArtInWholeBlocksCentred)
{
    const int size = GetParam();
    const QString path = QStringLiteral(DUSTMAW_ICON_DIR "/%1x%1/apps/dustmaw.png").arg(size);
    const QImage icon(path);
    ASSERT_FALSE(icon.isNull()) << path.toStdString();
    ASSERT_EQ(icon.size(), QSize(size, size));

    const QRect drawn = opaqueBounds(icon);
    EXPECT_EQ(drawn.width(), drawn.height());
    EXPECT_EQ(drawn.left(), size - 1 - drawn.right()) << "not centred across";
    EXPECT_EQ(drawn.top(), size - 1 - drawn.bottom()) << "not centred down";
    // Two thirds at least: the art is as large as a whole factor allows.
    EXPECT_GE(drawn.width() * 3, size * 2);
    const bool crisp = (drawn.width() % 16 == 0 && inBlocks(icon, drawn, drawn.width() / 16))
        || (drawn.width() % 32 == 0 && inBlocks(icon, drawn, drawn.width() / 32));
    EXPECT_TRUE(crisp) << "not whole blocks of 16 or 32 pixels across";
}

INSTANTIATE_TEST_SUITE_P(Hicolor, IconTest, testing::Values(16, 24, 32, 48, 64, 128, 256));

} // namespace
