// The installed icons: every hicolor size, the pixel art in whole-pixel
// blocks (never blended), centred on a transparent square.
#include <QBitmap>
#include <QImage>
#include <QRegion>

#include <gtest/gtest.h>

namespace {

class IconTest : public testing::TestWithParam<int> {};

TEST_P(IconTest, IsThePixelArtInWholeBlocksCentred)
{
    const int size = GetParam();
    const QString path = QStringLiteral(DUSTMAW_ICON_DIR "/%1x%1/apps/dustmaw.png").arg(size);
    const QImage icon(path);
    ASSERT_EQ(icon.size(), QSize(size, size)) << path.toStdString();
    const QRect drawn = QRegion(QBitmap::fromImage(icon.createAlphaMask())).boundingRect();
    // Square, centred, and two thirds at least: as large as a whole factor allows.
    EXPECT_TRUE(drawn.width() == drawn.height() && drawn.left() + drawn.right() == size - 1
                && drawn.top() + drawn.bottom() == size - 1
                && drawn.width() * 3 >= size * 2) << drawn.x() << ',' << drawn.y() << ' ' << drawn.width();
    // Art 16 or 32 pixels across, each a block: shrunk to that and grown back it is unchanged.
    const QImage art = icon.copy(drawn);
    const auto blocks = [&art](int across) {
        return art.width() % across == 0 && art.scaled(across, across).scaled(art.size()) == art;
    };
    EXPECT_TRUE(blocks(16) || blocks(32)) << "not whole blocks of 16 or 32 pixels across";
}

INSTANTIATE_TEST_SUITE_P(Hicolor, IconTest, testing::Values(16, 24, 32, 48, 64, 128, 256));

} // namespace
