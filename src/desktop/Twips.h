#pragma once
// Window positions are kept in twips (1440 to the inch) at the primary
// screen's logical DPI, so DM.ini means the same place on every start.
#include <QPoint>
#include <QPointF>

#include <cstdint>

class QWidget;

namespace dm {

[[nodiscard]] double TwipsPerPixelX();
[[nodiscard]] double TwipsPerPixelY();

[[nodiscard]] int PixelsFromTwipsX(double twips);
[[nodiscard]] int PixelsFromTwipsY(double twips);
[[nodiscard]] QPointF TwipsFromPixels(const QPoint& pixels);

// Moves a top-level window to the top-left of the primary screen when no part
// of it lies on any screen (a monitor was unplugged, the resolution changed).
// True when it moved.
bool KeepOnScreen(QWidget& window);

} // namespace dm
