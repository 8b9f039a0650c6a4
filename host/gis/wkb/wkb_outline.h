#pragma once

// The structure of well-known binary, checked without recursion before GEOS's reader (which
// recurses once per level of nesting) sees it: byte orders, geometry types, nesting depth,
// and every count against the bytes that remain.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <geos/geom/Coordinate.h>
#include <geos/geom/Envelope.h>

#include "gis/geometry/shape.h"
#include "gis/wkb/wkb_types.h"

namespace selvane::gis {

/// What the walk of one WKB geometry found.
struct WkbOutline {
    WkbType type = WkbType::Point;  ///< of the outer geometry
    bool measured = false;          ///< some part carries M values
    bool curved = false;            ///< some part is a curve or a surface type (8 to 17)
    std::size_t size = 0;           ///< bytes the geometry takes, from the start
};

/// Walks the WKB at `bytes` (ISO or extended WKB, either byte order, each part with its
/// own) and returns its outline; throws ShapeBytesFault for an unknown byte order or type,
/// a count that the remaining bytes cannot hold, a multi-part geometry holding the wrong
/// kind of part, or nesting deeper than kMaxWkbNesting. A curved geometry is outlined, not
/// walked (`curved`): GDAL reads those.
WkbOutline OutlineWkb(const unsigned char* bytes, std::size_t size);

/// The coordinates of WKB that OutlineWkb has outlined (not curved): the box around the
/// finite ones, null for an empty shape, and whether every one is a finite number.
struct WkbExtent {
    WkbType type = WkbType::Point;
    geos::geom::Envelope box;
    bool finite = true;
};
WkbExtent ExtentOfWkb(const unsigned char* bytes, std::size_t size);

/// The outline and the coordinates' extent of WKB that GEOS's reader reads as it stands,
/// found in one walk without it; nullopt where GEOS might refuse the shape (a line string
/// of one point, a ring of one to three points or not closed, an empty ring), where the
/// bytes are at fault, and for a curved or measured shape. A caller keeping the bytes of
/// a shape it was given then needs no GEOS shape to know that GEOS can make one; nullopt
/// leaves the shape to GEOS, which names what is wrong with it.
struct ReadableWkb {
    WkbOutline outline;
    WkbExtent extent;
};
std::optional<ReadableWkb> CheckReadableWkb(const unsigned char* bytes, std::size_t size);

/// What a run of coordinates is: a point's one, a line string's, or a polygon's ring.
enum class WkbRun { Point, Line, Ring };
/// What TraceWkb hands each run to (an interface, so that tracing a shape allocates nothing).
class WkbTracer {
public:
    virtual void Trace(std::span<const PlainPoint> points, WkbRun run) = 0;

protected:
    ~WkbTracer() = default;
};

/// The x and y of each coordinate of WKB that OutlineWkb has outlined (not curved), a run
/// at a time, in the order of the bytes; the span is valid during the call. An empty
/// point's run is one point of NaNs. `points` holds each run in turn: a caller tracing
/// many shapes passes the same vector, which then stops growing.
void TraceWkb(const unsigned char* bytes, std::size_t size, WkbTracer& tracer, std::vector<PlainPoint>& points);

/// The box the WKB's shape is when it is an axis-parallel rectangle of positive width and
/// height (a polygon of one ring that goes once round the box's four corners), as
/// RectangleBox says of the same shape read by GEOS; nullopt otherwise.
std::optional<geos::geom::Envelope> RectangleOfWkb(const unsigned char* bytes, std::size_t size);

/// The vertices of a WKB line string (x and y) written to `out`, and their number; 0 for
/// any other shape, or one of more vertices than `out` holds.
std::size_t LineStringVertices(const unsigned char* bytes, std::size_t size, std::span<geos::geom::Coordinate> out);

/// The WKB of one finite 2D point (21 bytes, either byte order) read as its coordinates,
/// without a GEOS object; nullopt for any other WKB, which the full parse reads and checks.
std::optional<PlainPoint> PlainPointOfWkb(const unsigned char* bytes, std::size_t size);

/// The dimension of a WKB type's shapes; Mixed for a collection.
ShapeDimension DimensionOfWkb(WkbType type);

/// The name of a WKB type for messages ("Polygon").
std::string WkbTypeName(WkbType type);

}  // namespace selvane::gis
