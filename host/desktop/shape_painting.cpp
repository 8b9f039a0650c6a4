#include "desktop/shape_painting.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>

#include <geos/geom/LineString.h>
#include <geos/geom/Point.h>
#include <geos/geom/Polygon.h>

#include "gis/wkb/wkb_outline.h"

namespace selvane::desktop {
namespace {

void AddSequence(QPainterPath& path, const geos::geom::CoordinateSequence& sequence, const PixelMapper& map,
                 bool closed) {
    const std::size_t size = sequence.size();
    if (size == 0) return;
    QPolygonF polygon;
    polygon.reserve(static_cast<qsizetype>(size));
    for (std::size_t index = 0; index < size; ++index) {
        const auto& coordinate = sequence.getAt(index);
        polygon.append(map(coordinate.x, coordinate.y));
    }
    path.addPolygon(polygon);
    if (closed) path.closeSubpath();
}

}  // namespace

QPointF PixelMapper::operator()(double x, double y) const {
    if (m_to_map && !m_to_map->Transform(1, &x, &y)) return {qQNaN(), qQNaN()};
    return {(x - m_shown.left()) / m_upp, (m_shown.bottom() - y) / m_upp};
}

void AddShape(const geos::geom::Geometry& shape, const PixelMapper& map, QPainterPath& path, QPolygonF& points) {
    using geos::geom::GeometryTypeId;
    switch (shape.getGeometryTypeId()) {
        case GeometryTypeId::GEOS_POINT: {
            const auto& point = static_cast<const geos::geom::Point&>(shape);
            if (!point.isEmpty()) points.append(map(point.getX(), point.getY()));
            break;
        }
        case GeometryTypeId::GEOS_LINESTRING:
        case GeometryTypeId::GEOS_LINEARRING:
            AddSequence(path, *static_cast<const geos::geom::LineString&>(shape).getCoordinatesRO(), map, false);
            break;
        case GeometryTypeId::GEOS_POLYGON: {
            const auto& polygon = static_cast<const geos::geom::Polygon&>(shape);
            AddSequence(path, *polygon.getExteriorRing()->getCoordinatesRO(), map, true);
            for (std::size_t ring = 0; ring < polygon.getNumInteriorRing(); ++ring) {
                AddSequence(path, *polygon.getInteriorRingN(ring)->getCoordinatesRO(), map, true);
            }
            break;
        }
        default:
            for (std::size_t part = 0; part < shape.getNumGeometries(); ++part) {
                AddShape(*shape.getGeometryN(part), map, path, points);
            }
            break;
    }
}

bool AddShapeBytes(std::span<const unsigned char> wkb, const PixelMapper& map, QPainterPath& path, QPolygonF& points,
                   std::vector<gis::PlainPoint>& traced) {
    struct Painter final : gis::WkbTracer {
        const PixelMapper& map;
        QPainterPath& path;
        QPolygonF& points;
        QPolygonF polygon;
        bool rings = false;

        Painter(const PixelMapper& to_pixels, QPainterPath& outline, QPolygonF& dots)
            : map(to_pixels), path(outline), points(dots) {}
        void Trace(std::span<const gis::PlainPoint> run, gis::WkbRun kind) override {
            if (kind == gis::WkbRun::Point) {
                // An empty point is one of NaNs.
                if (!std::isnan(run[0].x)) points.append(map(run[0].x, run[0].y));
                return;
            }
            if (run.empty()) return;
            polygon.clear();
            polygon.reserve(static_cast<qsizetype>(run.size()));
            for (const auto& vertex : run) polygon.append(map(vertex.x, vertex.y));
            path.addPolygon(polygon);
            if (kind == gis::WkbRun::Ring) {
                path.closeSubpath();
                rings = true;
            }
        }
    } painter(map, path, points);
    gis::TraceWkb(wkb.data(), wkb.size(), painter, traced);
    return painter.rings;
}

Coverage::Coverage(QSize size, int cell)
    : m_cell(std::max(1, cell)),
      m_width(size.width() / m_cell + 1),
      m_height(size.height() / m_cell + 1),
      m_marks(static_cast<std::size_t>(m_width) * m_height, 0) {}

bool Coverage::Mark(QPointF pixel) {
    if (!(pixel.x() >= 0 && pixel.y() >= 0)) return false;  // NaN too
    const int x = static_cast<int>(pixel.x()) / m_cell;
    const int y = static_cast<int>(pixel.y()) / m_cell;
    if (x >= m_width || y >= m_height) return false;
    auto& mark = m_marks[static_cast<std::size_t>(y) * m_width + x];
    if (mark) return false;
    mark = 1;
    return true;
}

}  // namespace selvane::desktop
