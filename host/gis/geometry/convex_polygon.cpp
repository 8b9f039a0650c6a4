#include "gis/geometry/convex_polygon.h"

#include <geos/algorithm/Orientation.h>
#include <geos/geom/CoordinateSequence.h>
#include <geos/geom/LinearRing.h>
#include <geos/geom/Polygon.h>

#include <cmath>

namespace selvane::gis {

// Why the answer is exact. Walk the ring's edges: a strict turn the same way at every
// vertex (Orientation::index, which ExactSide gives, is exact) turns the edges' direction by less than half a
// turn each time, always the same way, so the direction goes round a whole number of
// times, k >= 1. Each time round, it passes the two directions straight up and straight
// down once each, and the sign of the edges' x step (an exact comparison of doubles)
// changes there and nowhere else: an edge that runs exactly up or down lies between two
// edges of opposite signs, and two such edges cannot follow each other without going
// straight on or back. So the sign changes 2k times round the ring, and two changes mean
// k = 1. A closed polygon that turns one way only and goes round once is the boundary of
// a convex area: it never meets itself, so with no holes the polygon is valid in every
// respect IsValidOp checks (finite coordinates, a closed ring of at least four points, no
// self-intersection).
bool IsStrictlyConvexPolygon(const geos::geom::Geometry& shape) {
    if (shape.getGeometryTypeId() != geos::geom::GeometryTypeId::GEOS_POLYGON) return false;
    const auto& polygon = static_cast<const geos::geom::Polygon&>(shape);
    if (polygon.getNumInteriorRing() != 0 || polygon.isEmpty()) return false;
    const auto* ring = polygon.getExteriorRing()->getCoordinatesRO();
    const std::size_t size = ring->size();
    if (size < 4 || !ring->getAt(0).equals2D(ring->getAt(size - 1))) return false;
    const std::size_t vertices = size - 1;  // the last repeats the first
    int way = 0;
    int changes = 0;
    int first_step = 0;
    int last_step = 0;
    // Each vertex's turn from the edge before it to the edge after it, walking a window of
    // three: the vertex after the last is the first's repeat, and the one after that the
    // second (the same values the ring holds at those places, read once each).
    const auto finite = [](const geos::geom::Coordinate& at) { return std::isfinite(at.x) && std::isfinite(at.y); };
    const geos::geom::Coordinate* from = &ring->getAt(0);
    const geos::geom::Coordinate* to = &ring->getAt(1);
    if (!finite(*from) || !finite(*to)) return false;
    for (std::size_t index = 0; index < vertices; ++index) {
        const geos::geom::Coordinate* next = &ring->getAt(index + 2 <= vertices ? index + 2 : 1);
        if (!finite(*next)) return false;
        const int turn = ExactSide(*from, *to, *next);
        if (turn == geos::algorithm::Orientation::COLLINEAR || (way != 0 && turn != way)) return false;
        way = turn;
        const int step = (to->x > from->x) - (to->x < from->x);
        from = to;
        to = next;
        if (step == 0) continue;
        if (first_step == 0) first_step = step;
        if (last_step != 0 && step != last_step) ++changes;
        last_step = step;
    }
    if (last_step != first_step) ++changes;  // round the corner from the last edge to the first
    return changes == 2;
}

}  // namespace selvane::gis
