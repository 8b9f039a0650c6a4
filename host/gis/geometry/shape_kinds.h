#pragma once

// What kind of shape a GEOS geometry is, and the small facts about shapes that the
// prepared query's shortcuts ask.

#include <geos/algorithm/InteriorPointArea.h>
#include <geos/algorithm/locate/SimplePointInAreaLocator.h>
#include <geos/geom/Coordinate.h>
#include <geos/geom/Envelope.h>
#include <geos/geom/Geometry.h>
#include <geos/geom/LineString.h>

#include <optional>

namespace selvane::gis {

inline bool IsArea(const geos::geom::Geometry& shape) {
    const auto type = shape.getGeometryTypeId();
    return type == geos::geom::GeometryTypeId::GEOS_POLYGON || type == geos::geom::GeometryTypeId::GEOS_MULTIPOLYGON;
}

inline bool IsLinear(const geos::geom::Geometry& shape) {
    const auto type = shape.getGeometryTypeId();
    return type == geos::geom::GeometryTypeId::GEOS_LINESTRING || type == geos::geom::GeometryTypeId::GEOS_MULTILINESTRING;
}

// Calls `visit` with each vertex of the line or lines `shape` while it returns true.
template <typename Visit>
void ForEachVertexOfLine(const geos::geom::Geometry& shape, Visit&& visit) {
    for (std::size_t part = 0; part < shape.getNumGeometries(); ++part) {
        const auto* line = static_cast<const geos::geom::LineString*>(shape.getGeometryN(part));
        const auto* vertices = line->getCoordinatesRO();
        for (std::size_t index = 0; index < vertices->size(); ++index) {
            if (!visit(vertices->getAt(index))) return;
        }
    }
}

// Whether the open boxes inside two envelopes meet: the closed ones overlap by more than
// an edge or a corner.
inline bool OpenBoxesMeet(const geos::geom::Envelope& a, const geos::geom::Envelope& b) {
    return a.getMinX() < b.getMaxX() && b.getMinX() < a.getMaxX() && a.getMinY() < b.getMaxY() &&
           b.getMinY() < a.getMaxY();
}

// A point in the interior of the polygon `shape`, checked with a robust locator; nullopt
// when none is found (a degenerate shape), so that no answer rests on a rounded point.
inline std::optional<geos::geom::Coordinate> InteriorPoint(const geos::geom::Geometry& shape) {
    using geos::algorithm::locate::SimplePointInAreaLocator;
    geos::geom::Coordinate point;
    shape.getEnvelopeInternal()->centre(point);
    if (SimplePointInAreaLocator::locate(point, &shape) == geos::geom::Location::INTERIOR) return point;
    geos::algorithm::InteriorPointArea finder(&shape);
    if (finder.getInteriorPoint(point) && SimplePointInAreaLocator::locate(point, &shape) == geos::geom::Location::INTERIOR) {
        return point;
    }
    return std::nullopt;
}

}  // namespace selvane::gis
