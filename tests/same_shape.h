#pragma once

// Whether two GEOS shapes are the same to the bit, for the tests and fuzz targets that
// check a shape made without GEOS's reader against the one the reader makes.

#include <cstddef>
#include <cstring>

#include <geos/geom/CoordinateSequence.h>
#include <geos/geom/Geometry.h>

namespace selvane::testing {

/// The same type, number of parts and of points, and every coordinate's x and y bit for
/// bit (NaN included), in order.
inline bool SameCoordinateBits(const geos::geom::Geometry& made, const geos::geom::Geometry& read) {
    if (made.getGeometryTypeId() != read.getGeometryTypeId() || made.getNumGeometries() != read.getNumGeometries() ||
        made.getNumPoints() != read.getNumPoints()) {
        return false;
    }
    const auto made_points = made.getCoordinates();
    const auto read_points = read.getCoordinates();
    for (std::size_t index = 0; index < made_points->size(); ++index) {
        const auto& a = made_points->getAt(index);
        const auto& b = read_points->getAt(index);
        if (std::memcmp(&a.x, &b.x, sizeof a.x) != 0 || std::memcmp(&a.y, &b.y, sizeof a.y) != 0) return false;
    }
    return true;
}

}  // namespace selvane::testing
