#pragma once
// Window positions are kept in twips (1440 to the inch) at the primary
// screen's logical DPI, so DM.ini means the same place on every start.
#include <QPoint>
#include <QPointF>
#include <QRect>

#include <cstdint>

class QWidget;

namespace dm {

[[nodiscard]] double TwipsPerPixelX();
[[nodiscard]] double TwipsPerPixelY();

[[nodiscard]] int PixelsFromTwipsX(double twips);
[[nodiscard]] int PixelsFromTwipsY(double twips);
[[nodiscard]] QPointF TwipsFromPixels(const QPoint& pixels);
// A control's place from its design in twips.
[[nodiscard]] QRect PixelsFromTwips(int left, int top, int width, int height);
// A window's position in twips, rounded to whole twips.
void StoreTwips(const QPoint& pixels, std::int32_t& left, std::int32_t& top);

// Moves a top-level window to the top-left of the primary screen when no part
// of it lies on any screen (a monitor was unplugged, the resolution changed).
// True when it moved.
bool KeepOnScreen(QWidget& window);

// Places a top-level window not shown yet beside `anchor`: to its right, or to
// its left when there is no room, wholly on the screen `anchor` stands on.
void PlaceBeside(QWidget& window, const QWidget& anchor);

// Centres a top-level window on the screen its owner (parent) stands on, the
// primary one without an owner.
void CentreOnOwnersScreen(QWidget& window);

} // namespace dm
