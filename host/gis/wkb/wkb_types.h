#pragma once

// The words of well-known binary that every reader of it shares: its geometry types, how
// deep it may nest, and the fault its bytes can have.

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace selvane::gis {

/// What is wrong with a shape's bytes, in words a user can act on.
class ShapeBytesFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// WKB geometry types by their simple-feature codes.
enum class WkbType : std::uint32_t {
    Point = 1,
    LineString = 2,
    Polygon = 3,
    MultiPoint = 4,
    MultiLineString = 5,
    MultiPolygon = 6,
    GeometryCollection = 7,
};

/// How deep collections may nest inside one another, as GDAL allows.
inline constexpr std::size_t kMaxWkbNesting = 32;

}  // namespace selvane::gis
