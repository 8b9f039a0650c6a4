#include "gis/wkb/wkb_outline.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

#include "gis/wkb/wkb_byte_reader.h"

namespace selvane::gis {
namespace {

struct PartType {
    std::uint32_t base = 0;  // 1 to 17
    std::size_t ordinates = 2;
    bool measured = false;
};

// A part's type code, ISO (1000s for Z, M, ZM) or extended (high flag bits, an SRID).
PartType ReadType(ByteReader& reader) {
    const std::uint32_t code = reader.Word("the geometry type");
    PartType type;
    bool z = false;
    if (code & 0xE0000000u) {
        z = (code & 0x80000000u) != 0;
        type.measured = (code & 0x40000000u) != 0;
        if (code & 0x20000000u) reader.Skip(4, "the SRID");
        type.base = code & 0x0FFFFFFFu;
    } else {
        const std::uint32_t dimensions = code / 1000;
        type.base = code % 1000;
        if (dimensions > 3) type.base = 0;
        z = dimensions == 1 || dimensions == 3;
        type.measured = dimensions == 2 || dimensions == 3;
    }
    if (type.base < 1 || type.base > 17) {
        throw ShapeBytesFault("unknown geometry type " + std::to_string(code) + " at byte " +
                              std::to_string(reader.Position() - 4));
    }
    type.ordinates = 2 + (z ? 1 : 0) + (type.measured ? 1 : 0);
    return type;
}

// The kind of part a multi-part type holds; 0 for any.
std::uint32_t PartKindOf(std::uint32_t base) {
    switch (static_cast<WkbType>(base)) {
        case WkbType::MultiPoint: return 1;
        case WkbType::MultiLineString: return 2;
        case WkbType::MultiPolygon: return 3;
        default: return 0;
    }
}

// The smallest part: byte order, type and one count.
constexpr std::size_t kSmallestPart = 9;

}  // namespace

std::optional<PlainPoint> PlainPointOfWkb(const unsigned char* bytes, std::size_t size) {
    // Byte order, type 1 (1001, 2001, 0x80000001: other forms) in that order, x, y.
    constexpr std::size_t kPointWkb = 1 + 4 + 8 + 8;
    if (size != kPointWkb || bytes[0] > 1) return std::nullopt;
    const bool little = bytes[0] == 1;
    const unsigned char one = 1, zero = 0;
    const unsigned char point_type[4] = {little ? one : zero, 0, 0, little ? zero : one};
    if (std::memcmp(bytes + 1, point_type, sizeof point_type) != 0) return std::nullopt;
    ByteReader reader(bytes + 5, 16);
    reader.SetOrder(bytes[0]);
    const PlainPoint point{reader.Double(), reader.Double()};
    if (!std::isfinite(point.x) || !std::isfinite(point.y)) return std::nullopt;  // empty, or a fault to name
    return point;
}

ShapeDimension DimensionOfWkb(WkbType type) {
    switch (type) {
        case WkbType::Point:
        case WkbType::MultiPoint: return ShapeDimension::Point;
        case WkbType::LineString:
        case WkbType::MultiLineString: return ShapeDimension::Line;
        case WkbType::Polygon:
        case WkbType::MultiPolygon: return ShapeDimension::Area;
        case WkbType::GeometryCollection: break;
    }
    return ShapeDimension::Mixed;
}

std::string WkbTypeName(WkbType type) {
    switch (type) {
        case WkbType::Point: return "Point";
        case WkbType::LineString: return "LineString";
        case WkbType::Polygon: return "Polygon";
        case WkbType::MultiPoint: return "MultiPoint";
        case WkbType::MultiLineString: return "MultiLineString";
        case WkbType::MultiPolygon: return "MultiPolygon";
        case WkbType::GeometryCollection: return "GeometryCollection";
    }
    return "geometry type " + std::to_string(static_cast<std::uint32_t>(type));
}

namespace {

// Walks the structure of the WKB at `bytes`, handing each run of `count` coordinates of a
// part (a Point's one, a line string's, a ring's) to `coordinates(reader, count,
// ordinates, run)`, which reads or skips them.
template <class Coordinates>
WkbOutline Walk(const unsigned char* bytes, std::size_t size, Coordinates&& coordinates) {
    ByteReader reader(bytes, size);
    WkbOutline outline;
    // The collections being walked: parts still to come and the kind each must be.
    struct Open {
        std::uint32_t left;
        std::uint32_t kind;
    };
    std::vector<Open> open;
    bool outer = true;
    do {
        const std::uint32_t expected = open.empty() ? 0 : open.back().kind;
        if (!open.empty()) --open.back().left;
        reader.SetOrder(reader.Byte("the byte order"));
        const auto type = ReadType(reader);
        if (expected != 0 && type.base != expected) {
            throw ShapeBytesFault("a part of type " + std::to_string(type.base) + " inside a " +
                                  WkbTypeName(static_cast<WkbType>(expected + 3)));
        }
        outline.measured = outline.measured || type.measured;
        if (outer) {
            outer = false;
            if (type.base > 7) {
                outline.curved = true;
                return outline;  // not walked: GDAL reads curves and surfaces
            }
            outline.type = static_cast<WkbType>(type.base);
        } else if (type.base > 7) {
            outline.curved = true;
            return outline;
        }
        const std::size_t coordinate = 8 * type.ordinates;
        switch (static_cast<WkbType>(type.base)) {
            case WkbType::Point: coordinates(reader, 1, type.ordinates, WkbRun::Point); break;
            case WkbType::LineString:
                coordinates(reader, reader.Count(coordinate, "points"), type.ordinates, WkbRun::Line);
                break;
            case WkbType::Polygon: {
                const std::uint32_t rings = reader.Count(4, "rings");
                for (std::uint32_t ring = 0; ring < rings; ++ring) {
                    coordinates(reader, reader.Count(coordinate, "points"), type.ordinates, WkbRun::Ring);
                }
                break;
            }
            default: {
                const std::uint32_t parts = reader.Count(kSmallestPart, "parts");
                if (parts > 0) {
                    if (open.size() + 1 > kMaxWkbNesting) {
                        throw ShapeBytesFault("collections nested more than " + std::to_string(kMaxWkbNesting) +
                                              " deep");
                    }
                    open.push_back({parts, PartKindOf(type.base)});
                    continue;
                }
            }
        }
        while (!open.empty() && open.back().left == 0) open.pop_back();
    } while (!open.empty());
    outline.size = reader.Position();
    return outline;
}

// One coordinate of a run into the extent.
void Include(WkbExtent& extent, double x, double y, WkbRun run) {
    // A point of NaNs is how WKB writes an empty one.
    if (run == WkbRun::Point && std::isnan(x) && std::isnan(y)) return;
    if (!std::isfinite(x) || !std::isfinite(y)) {
        extent.finite = false;
        return;
    }
    extent.box.expandToInclude(x, y);
}

}  // namespace

WkbOutline OutlineWkb(const unsigned char* bytes, std::size_t size) {
    return Walk(bytes, size, [](ByteReader& reader, std::uint32_t count, std::size_t ordinates, WkbRun run) {
        reader.Skip(8 * ordinates * count, run == WkbRun::Point ? "a point's coordinates" : "points");
    });
}

WkbExtent ExtentOfWkb(const unsigned char* bytes, std::size_t size) {
    WkbExtent extent;
    extent.type = Walk(bytes, size, [&extent](ByteReader& reader, std::uint32_t count, std::size_t ordinates, WkbRun run) {
        for (std::uint32_t index = 0; index < count; ++index) {
            const double x = reader.Double(), y = reader.Double();
            reader.Skip(8 * (ordinates - 2), "a point's coordinates");
            Include(extent, x, y, run);
        }
    }).type;
    return extent;
}

std::optional<ReadableWkb> CheckReadableWkb(const unsigned char* bytes, std::size_t size) {
    ReadableWkb readable;
    auto& extent = readable.extent;
    bool readable_by_geos = true;
    try {
        readable.outline = Walk(bytes, size, [&](ByteReader& reader, std::uint32_t count, std::size_t ordinates,
                                                 WkbRun run) {
            // What GEOS refuses when it makes the part: a line string of one point; a ring
            // of one to three points, or whose last point is not its first in x and y (NaN
            // is never equal). An empty ring is left to GEOS too: its polygon's shell may be
            // empty with a hole that is not, which GEOS refuses.
            if ((run == WkbRun::Line && count == 1) || (run == WkbRun::Ring && count < 4)) readable_by_geos = false;
            double first_x = 0, first_y = 0, x = 0, y = 0;
            for (std::uint32_t index = 0; index < count; ++index) {
                x = reader.Double();
                y = reader.Double();
                reader.Skip(8 * (ordinates - 2), "a point's coordinates");
                if (index == 0) {
                    first_x = x;
                    first_y = y;
                }
                Include(extent, x, y, run);
            }
            if (run == WkbRun::Ring && count >= 4 && !(x == first_x && y == first_y)) readable_by_geos = false;
        });
    } catch (const ShapeBytesFault&) {
        return std::nullopt;
    }
    if (!readable_by_geos || readable.outline.curved || readable.outline.measured) return std::nullopt;
    extent.type = readable.outline.type;
    return readable;
}

void TraceWkb(const unsigned char* bytes, std::size_t size, WkbTracer& tracer, std::vector<PlainPoint>& points) {
    Walk(bytes, size, [&](ByteReader& reader, std::uint32_t count, std::size_t ordinates, WkbRun run) {
        points.resize(count);
        for (auto& point : points) {
            point.x = reader.Double();
            point.y = reader.Double();
            reader.Skip(8 * (ordinates - 2), "a point's coordinates");
        }
        tracer.Trace(points, run);
    });
}

std::size_t LineStringVertices(const unsigned char* bytes, std::size_t size, std::span<geos::geom::Coordinate> out) {
    try {
        ByteReader reader(bytes, size);
        reader.SetOrder(reader.Byte("the byte order"));
        const auto type = ReadType(reader);
        if (type.base != static_cast<std::uint32_t>(WkbType::LineString)) return 0;
        const std::uint32_t count = reader.Count(8 * type.ordinates, "points");
        if (count > out.size()) return 0;
        for (std::uint32_t index = 0; index < count; ++index) {
            out[index].x = reader.Double();
            out[index].y = reader.Double();
            reader.Skip(8 * (type.ordinates - 2), "a point's coordinates");
        }
        return count;
    } catch (const ShapeBytesFault&) {
        return 0;
    }
}

std::optional<geos::geom::Envelope> RectangleOfWkb(const unsigned char* bytes, std::size_t size) {
    try {
        ByteReader reader(bytes, size);
        reader.SetOrder(reader.Byte("the byte order"));
        const auto type = ReadType(reader);
        if (type.base != static_cast<std::uint32_t>(WkbType::Polygon)) return std::nullopt;
        if (reader.Word("rings") != 1 || reader.Word("points") != 5) return std::nullopt;
        double x[5], y[5];
        for (int index = 0; index < 5; ++index) {
            x[index] = reader.Double();
            y[index] = reader.Double();
            reader.Skip(8 * (type.ordinates - 2), "a point's coordinates");
        }
        const geos::geom::Envelope box(x[0], x[2], y[0], y[2]);
        if (!(box.getWidth() > 0 && box.getHeight() > 0)) return std::nullopt;
        if (x[4] != x[0] || y[4] != y[0]) return std::nullopt;
        // Not back along the edge it came by.
        if (x[1] == x[3] && y[1] == y[3]) return std::nullopt;
        for (int index = 0; index < 4; ++index) {
            // Each vertex a corner of the box, each edge along one axis: with the first and
            // third vertices opposite corners, the ring goes once round the four.
            if ((x[index] != box.getMinX() && x[index] != box.getMaxX()) ||
                (y[index] != box.getMinY() && y[index] != box.getMaxY())) {
                return std::nullopt;
            }
            if ((x[index] == x[index + 1]) == (y[index] == y[index + 1])) return std::nullopt;
        }
        return box;
    } catch (const ShapeBytesFault&) {
        return std::nullopt;
    }
}

}  // namespace selvane::gis
