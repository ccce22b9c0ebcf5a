// Writes the hicolor theme's PNG icons from the pixel-art pictures: each
// size gets the picture and whole factor that fill it most, scaled by
// repeating pixels and centred on a transparent square, so no size blurs.
#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <cstdio>
#include <vector>

namespace {

struct Choice {
    const QImage* art = nullptr;
    int factor = 0;
};

Choice choose(const std::vector<QImage>& arts, int size)
{
    Choice best;
    for (const QImage& art : arts) {
        const int factor = size / art.width();
        const int covered = factor * art.width();
        const int bestCovered = best.art == nullptr ? 0 : best.factor * best.art->width();
        // At equal cover the larger picture has more detail.
        if (factor >= 1 && (covered > bestCovered || (covered == bestCovered && art.width() > best.art->width())))
            best = {&art, factor};
    }
    return best;
}

QImage icon(const Choice& c, int size)
{
    QImage out(size, size, QImage::Format_ARGB32);
    out.fill(Qt::transparent);
    const int side = c.art->width() * c.factor;
    const int offset = (size - side) / 2;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x)
            out.setPixel(offset + x, offset + y, c.art->pixel(x / c.factor, y / c.factor));
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fputs("Usage: dustmaw-icons OUTDIR PICTURE.xpm...\n", stderr);
        return 2;
    }
    std::vector<QImage> arts;
    for (qsizetype i = 2; i < args.size(); ++i) {
        QImage art(args[i]);
        if (art.isNull() || art.width() != art.height()) {
            std::fprintf(stderr, "dustmaw-icons: %s is not a square picture\n", qPrintable(args[i]));
            return 1;
        }
        arts.push_back(art.convertToFormat(QImage::Format_ARGB32));
    }
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const Choice c = choose(arts, size);
        if (c.art == nullptr) {
            std::fprintf(stderr, "dustmaw-icons: no picture fits %d pixels\n", size);
            return 1;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(args[1]).arg(size);
        if (!QDir().mkpath(folder) || !icon(c, size).save(folder + QStringLiteral("/dustmaw.png"), "PNG")) {
            std::fprintf(stderr, "dustmaw-icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
