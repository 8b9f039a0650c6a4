#pragma once

// The structure of well-known binary, checked without recursion before GEOS's reader (which
// recurses once per level of nesting) sees it: byte orders, geometry types, nesting depth,
// and every count against the bytes that remain.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

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

/// What the walk of one WKB geometry found.
struct WkbOutline {
    WkbType type = WkbType::Point;  ///< of the outer geometry
    bool measured = false;          ///< some part carries M values
    bool curved = false;            ///< some part is a curve or a surface type (8 to 17)
    std::size_t size = 0;           ///< bytes the geometry takes, from the start
};

/// How deep collections may nest inside one another, as GDAL allows.
inline constexpr std::size_t kMaxWkbNesting = 32;

/// Walks the WKB at `bytes` (ISO or extended WKB, either byte order, each part with its
/// own) and returns its outline; throws ShapeBytesFault for an unknown byte order or type,
/// a count that the remaining bytes cannot hold, a multi-part geometry holding the wrong
/// kind of part, or nesting deeper than kMaxWkbNesting. A curved geometry is outlined, not
/// walked (`curved`): GDAL reads those.
WkbOutline OutlineWkb(const unsigned char* bytes, std::size_t size);

/// The name of a WKB type for messages ("Polygon").
std::string WkbTypeName(WkbType type);

}  // namespace selvane::gis
