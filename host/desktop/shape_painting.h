#pragma once

// How a shape becomes pixels: its coordinates mapped into the picture (through the map's
// coordinate system when its class has another), its outline as a painter path, and a
// coverage of the picture's cells so that what falls on a cell already marked is skipped.

#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QSize>

#include <cstdint>
#include <span>
#include <vector>

#include "desktop/viewport.h"
#include "gis/geometry/geos_include.h"
#include "gis/geometry/shape.h"

class OGRCoordinateTransformation;

namespace selvane::desktop {

class PixelMapper {
public:
    PixelMapper(const Viewport& viewport, OGRCoordinateTransformation* to_map)
        : m_shown(viewport.Shown()), m_upp(viewport.UnitsPerPixel()), m_to_map(to_map) {}

    QPointF operator()(double x, double y) const;
    double UnitsPerPixel() const { return m_upp; }
    bool Projects() const { return m_to_map != nullptr; }

private:
    QRectF m_shown;
    double m_upp;
    OGRCoordinateTransformation* m_to_map;
};

/// Adds a shape's outline to `path`, and its points to `points`.
void AddShape(const geos::geom::Geometry& shape, const PixelMapper& map, QPainterPath& path, QPolygonF& points);

/// Adds the outline of a shape's checked WKB to `path`, and its points to `points`, without
/// making the shape; true when it has a polygon's ring. `traced` is room for a run of
/// coordinates, kept from shape to shape.
bool AddShapeBytes(std::span<const unsigned char> wkb, const PixelMapper& map, QPainterPath& path, QPolygonF& points,
                   std::vector<gis::PlainPoint>& traced);

/// One mark per cell of the picture: what falls in a cell already marked would not
/// change the picture, so it is not drawn again.
class Coverage {
public:
    Coverage(QSize size, int cell);
    /// Marks the cell of `pixel`; false when it was marked already or lies outside.
    bool Mark(QPointF pixel);

private:
    int m_cell;
    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_marks;
};

}  // namespace selvane::desktop
