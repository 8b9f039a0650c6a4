#pragma once

#include <geos/algorithm/CGAlgorithmsDD.h>
#include <geos/algorithm/Orientation.h>

#include "gis/geometry/geos_include.h"

namespace selvane::gis {

/// Orientation::index(from, to, at), exactly: GEOS's floating-point filter inline, which
/// settles all but points on or next to the line, and GEOS's full test for those.
inline int ExactSide(const geos::geom::Coordinate& from, const geos::geom::Coordinate& to,
                     const geos::geom::Coordinate& at) {
    using geos::algorithm::CGAlgorithmsDD;
    const int side = CGAlgorithmsDD::orientationIndexFilter(from.x, from.y, to.x, to.y, at.x, at.y);
    return side != CGAlgorithmsDD::FAILURE ? side : geos::algorithm::Orientation::index(from, to, at);
}

/// True when `shape` is a polygon without holes whose ring turns the same way at every
/// vertex, never going straight on or back, and goes round once: the ring of a convex
/// area, so a valid polygon that IsValidOp need not check. False decides nothing.
bool IsStrictlyConvexPolygon(const geos::geom::Geometry& shape);

}  // namespace selvane::gis
