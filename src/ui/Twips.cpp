#include "ui/Twips.h"

#include "services/Numeric.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace dm {

namespace {

constexpr double kTwipsPerInch = 1440.0;
// 96 DPI, for a process without a screen.
constexpr double kFallbackTwipsPerPixel = 15.0;
// Between the hero and a window placed beside it.
constexpr int kBesideGap = 8;

double twipsPerPixel(qreal (QScreen::*dpi)() const)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double d = screen != nullptr ? (screen->*dpi)() : 0.0;
    return d > 0.0 ? kTwipsPerInch / d : kFallbackTwipsPerPixel;
}

// The frame the window manager gives a window. Before it has shown the
// window nobody knows it: a title bar and thin borders are assumed.
QMargins frameOf(const QWidget& window)
{
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    if (frame != inner)
        return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                frame.bottom() - inner.bottom()};
    const QStyle* style = window.style();
    const int border = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &window);
    return {border, style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window) + border, border, border};
}

// Moves a window so that its frame's top-left corner comes to `at`.
void moveFrameTo(QWidget& window, const QPoint& at)
{
    // Qt places a window not made yet by its frame; one made but never shown
    // it places by its inside, knowing no frame.
    const bool placedByInside
        = window.testAttribute(Qt::WA_WState_Created) && window.frameGeometry() == window.geometry();
    const QMargins frame = frameOf(window);
    window.move(placedByInside ? at + QPoint(frame.left(), frame.top()) : at);
}

QScreen* screenOf(const QWidget* window)
{
    QScreen* screen = window != nullptr ? window->screen() : nullptr;
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
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

void PlaceBeside(QWidget& window, const QWidget& anchor)
{
    const QScreen* screen = screenOf(&anchor);
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    const QRect by = anchor.frameGeometry();
    const QSize size = window.size().grownBy(frameOf(window));
    int x = by.right() + 1 + kBesideGap;
    if (x + size.width() > area.right() + 1)
        x = by.left() - kBesideGap - size.width();
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    const int y = std::clamp(by.top(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    moveFrameTo(window, {x, y});
}

void CentreOnOwnersScreen(QWidget& window)
{
    const QScreen* screen = screenOf(window.parentWidget());
    if (screen == nullptr)
        return;
    QRect frame({}, window.size().grownBy(frameOf(window)));
    frame.moveCenter(screen->availableGeometry().center());
    moveFrameTo(window, frame.topLeft());
}

} // namespace dm
