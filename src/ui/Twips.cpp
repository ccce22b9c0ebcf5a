#include "ui/Twips.h"

#include "services/Numeric.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace dm {

namespace {

constexpr double kTwipsPerInch = 1440.0;
// 96 DPI, for a process without a screen.
constexpr double kFallbackTwipsPerPixel = 15.0;

double twipsPerPixel(qreal (QScreen::*dpi)() const)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double d = screen != nullptr ? (screen->*dpi)() : 0.0;
    return d > 0.0 ? kTwipsPerInch / d : kFallbackTwipsPerPixel;
}

} // namespace

double TwipsPerPixelX() { return twipsPerPixel(&QScreen::logicalDotsPerInchX); }
double TwipsPerPixelY() { return twipsPerPixel(&QScreen::logicalDotsPerInchY); }

int PixelsFromTwipsX(double twips) { return roundToInt<int>(twips / TwipsPerPixelX()); }
int PixelsFromTwipsY(double twips) { return roundToInt<int>(twips / TwipsPerPixelY()); }

QPointF TwipsFromPixels(const QPoint& pixels) { return {pixels.x() * TwipsPerPixelX(), pixels.y() * TwipsPerPixelY()}; }

QRect PixelsFromTwips(int left, int top, int width, int height)
{
    const int x = PixelsFromTwipsX(left);
    const int y = PixelsFromTwipsY(top);
    return {x, y, PixelsFromTwipsX(left + width) - x, PixelsFromTwipsY(top + height) - y};
}

void StoreTwips(const QPoint& pixels, std::int32_t& left, std::int32_t& top)
{
    const QPointF twips = TwipsFromPixels(pixels);
    left = roundToInt<std::int32_t>(twips.x());
    top = roundToInt<std::int32_t>(twips.y());
}

bool KeepOnScreen(QWidget& window)
{
    const QRect frame(window.pos(), window.frameGeometry().size().expandedTo(window.size()));
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (const QScreen* s : screens) {
        if (s->availableGeometry().intersects(frame))
            return false;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr)
        return false;
    window.move(primary->availableGeometry().topLeft());
    return true;
}

} // namespace dm
