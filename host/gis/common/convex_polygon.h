#pragma once

#include "gis/common/geos_include.h"

namespace selvane::gis {

/// True when `shape` is a polygon without holes whose ring turns the same way at every
/// vertex, never going straight on or back, and goes round once: the ring of a convex
/// area, so a valid polygon that IsValidOp need not check. False decides nothing.
bool IsStrictlyConvexPolygon(const geos::geom::Geometry& shape);

}  // namespace selvane::gis
