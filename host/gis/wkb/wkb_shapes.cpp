#include "gis/wkb/wkb_shapes.h"

#include <cstdint>
#include <vector>

#include <geos/geom/CoordinateArraySequence.h>
#include <geos/geom/LineString.h>
#include <geos/geom/LinearRing.h>
#include <geos/geom/MultiLineString.h>
#include <geos/geom/MultiPolygon.h>
#include <geos/geom/Polygon.h>

#include "gis/wkb/wkb_byte_reader.h"

namespace selvane::gis {
namespace {

using geos::geom::Coordinate;
using geos::geom::GeometryFactory;

constexpr unsigned char kLittleEndian = 1;
constexpr std::uint32_t kLineString = 2;
constexpr std::uint32_t kPolygon = 3;
constexpr std::uint32_t kMultiLineString = 5;
constexpr std::uint32_t kMultiPolygon = 6;
constexpr std::size_t kCoordinateBytes = 16;

// A part's byte order, which must be little-endian (the reader's own), and its type.
bool Header(ByteReader& reader, std::uint32_t& type) {
    if (reader.Byte("the byte order") != kLittleEndian) return false;
    type = reader.Word("the geometry type");
    return true;
}

// A run of at least one coordinate; nullptr for an empty one.
std::unique_ptr<geos::geom::CoordinateSequence> Run(ByteReader& reader) {
    const std::uint32_t count = reader.Count(kCoordinateBytes, "coordinates");
    if (count == 0) return nullptr;
    std::vector<Coordinate> coordinates;
    coordinates.reserve(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        const double x = reader.Double();
        coordinates.emplace_back(x, reader.Double());
    }
    return std::make_unique<geos::geom::CoordinateArraySequence>(std::move(coordinates), 2);
}

// The body of a line string, after its header.
std::unique_ptr<geos::geom::LineString> LineBody(ByteReader& reader, const GeometryFactory& factory) {
    auto coordinates = Run(reader);
    if (!coordinates) return nullptr;
    return factory.createLineString(std::move(coordinates));
}

// The body of a polygon, after its header: a count of rings, each a run.
std::unique_ptr<geos::geom::Polygon> PolygonBody(ByteReader& reader, const GeometryFactory& factory) {
    const std::uint32_t rings = reader.Count(4, "rings");
    if (rings == 0) return nullptr;
    auto shell_coordinates = Run(reader);
    if (!shell_coordinates) return nullptr;
    auto shell = factory.createLinearRing(std::move(shell_coordinates));
    if (rings == 1) return factory.createPolygon(std::move(shell));
    std::vector<std::unique_ptr<geos::geom::LinearRing>> holes;
    holes.reserve(rings - 1);
    for (std::uint32_t ring = 1; ring < rings; ++ring) {
        auto coordinates = Run(reader);
        if (!coordinates) return nullptr;
        holes.push_back(factory.createLinearRing(std::move(coordinates)));
    }
    return factory.createPolygon(std::move(shell), std::move(holes));
}

// The parts of a multi-part shape, after its header: a count, then each part whole.
template <typename Part, typename Body>
std::vector<std::unique_ptr<Part>> Parts(ByteReader& reader, std::uint32_t part_type, Body&& body) {
    std::vector<std::unique_ptr<Part>> parts;
    const std::uint32_t count = reader.Count(9, "parts");
    if (count == 0) return parts;
    parts.reserve(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        std::uint32_t type = 0;
        auto part = Header(reader, type) && type == part_type ? body(reader) : nullptr;
        if (!part) return {};
        // GEOS's reader gives every part it reads its SRID of 0.
        part->setSRID(0);
        parts.push_back(std::move(part));
    }
    return parts;
}

}  // namespace

std::unique_ptr<geos::geom::Geometry> ShapeOfPlainWkb(const unsigned char* bytes, std::size_t size,
                                                      const GeometryFactory& factory) {
    ByteReader reader(bytes, size);
    std::unique_ptr<geos::geom::Geometry> shape;
    try {
        std::uint32_t type = 0;
        if (!Header(reader, type)) return nullptr;
        // Only the plain 2D types: Z, M and SRID flags make other numbers, left to GEOS.
        switch (type) {
            case kLineString: shape = LineBody(reader, factory); break;
            case kPolygon: shape = PolygonBody(reader, factory); break;
            case kMultiLineString: {
                auto parts = Parts<geos::geom::LineString>(reader, kLineString,
                                                           [&factory](ByteReader& at) { return LineBody(at, factory); });
                if (!parts.empty()) shape = factory.createMultiLineString(std::move(parts));
                break;
            }
            case kMultiPolygon: {
                auto parts = Parts<geos::geom::Polygon>(reader, kPolygon,
                                                        [&factory](ByteReader& at) { return PolygonBody(at, factory); });
                if (!parts.empty()) shape = factory.createMultiPolygon(std::move(parts));
                break;
            }
            default: return nullptr;
        }
    } catch (const ShapeBytesFault&) {
        return nullptr;  // the bytes do not hold what their counts say
    }
    // Bytes beyond the shape are not what a reader of one shape was handed: leave them to GEOS.
    if (!shape || reader.Left() != 0) return nullptr;
    shape->setSRID(0);
    return shape;
}

}  // namespace selvane::gis
