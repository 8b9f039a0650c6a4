#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>

namespace selvane::desktop {

/// What part of the map a picture of `pixels` shows: `world` in the map's coordinates,
/// fitted into the picture with the same scale on both axes.
struct Viewport {
    QRectF world;
    QSize pixels;

    /// Map units per pixel.
    double UnitsPerPixel() const;
    /// The map rectangle that the picture shows (world widened to the picture's shape).
    QRectF Shown() const;
    QPointF ToPixel(double x, double y) const;
    QPointF ToWorld(QPointF pixel) const;
};

}  // namespace selvane::desktop
