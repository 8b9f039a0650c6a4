#pragma once

// GEOS shapes made straight from the commonest well-known binary, without GEOS's reader.

#include <cstddef>
#include <memory>

#include "gis/geometry/geos_include.h"

namespace selvane::gis {

/// The shape of the WKB at `bytes` when it is a 2D line string, polygon, multi-line string
/// or multipolygon in little-endian ISO form with no empty part: the shape GEOS's reader
/// makes of the same bytes, built by the same factory calls, so GEOS refuses what it would
/// refuse (a ring that is not closed) with the same exception. nullptr for anything else,
/// and for bytes that do not hold what their counts say: GEOS's reader then reads them.
///
/// GEOS's reader takes each ordinate through a byte-order stream and a virtual setter, which
/// made reading the shapes of a search's candidates cost several times copying them.
std::unique_ptr<geos::geom::Geometry> ShapeOfPlainWkb(const unsigned char* bytes, std::size_t size,
                                                      const geos::geom::GeometryFactory& factory);

}  // namespace selvane::gis
