#include "desktop/viewport.h"

#include <algorithm>

namespace selvane::desktop {

double Viewport::UnitsPerPixel() const {
    if (pixels.isEmpty() || world.isEmpty()) return 1.0;
    return std::max(world.width() / pixels.width(), world.height() / pixels.height());
}

QRectF Viewport::Shown() const {
    const double upp = UnitsPerPixel();
    const QPointF centre = world.center();
    const double width = pixels.width() * upp;
    const double height = pixels.height() * upp;
    return {centre.x() - width / 2, centre.y() - height / 2, width, height};
}

QPointF Viewport::ToPixel(double x, double y) const {
    const QRectF shown = Shown();
    const double upp = UnitsPerPixel();
    return {(x - shown.left()) / upp, (shown.bottom() - y) / upp};
}

QPointF Viewport::ToWorld(QPointF pixel) const {
    const QRectF shown = Shown();
    const double upp = UnitsPerPixel();
    return {shown.left() + pixel.x() * upp, shown.bottom() - pixel.y() * upp};
}

}  // namespace selvane::desktop
