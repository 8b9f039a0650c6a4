#include "gis/common/wkb_shapes.h"

#include <bit>
#include <cstdint>
#include <vector>

#include <geos/geom/CoordinateArraySequence.h>
#include <geos/geom/LineString.h>
#include <geos/geom/LinearRing.h>
#include <geos/geom/MultiLineString.h>
#include <geos/geom/MultiPolygon.h>
#include <geos/geom/Polygon.h>

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

// Reads forward through the bytes; every read says false rather than pass their end.
class PlainReader {
public:
    PlainReader(const unsigned char* bytes, std::size_t size) : m_at(bytes), m_left(size) {}

    std::size_t Left() const { return m_left; }

    // A part's byte order, which must be little-endian, and its type.
    bool Header(std::uint32_t& type) {
        if (m_left < 5 || m_at[0] != kLittleEndian) return false;
        type = Unsigned(m_at + 1);
        Skip(5);
        return true;
    }
    // A count of coordinates, rings or parts: at least one, and no more than the bytes
    // left could hold at `least_bytes` each.
    bool Count(std::uint32_t& count, std::size_t least_bytes) {
        if (m_left < 4) return false;
        count = Unsigned(m_at);
        Skip(4);
        return count > 0 && count <= m_left / least_bytes;
    }
    // `count` coordinates, which Count has found room for.
    std::unique_ptr<geos::geom::CoordinateSequence> Coordinates(std::uint32_t count) {
        std::vector<Coordinate> coordinates;
        coordinates.reserve(count);
        for (std::uint32_t index = 0; index < count; ++index) {
            coordinates.emplace_back(Double(m_at), Double(m_at + 8));
            m_at += kCoordinateBytes;
        }
        m_left -= std::size_t{count} * kCoordinateBytes;
        return std::make_unique<geos::geom::CoordinateArraySequence>(std::move(coordinates), 2);
    }

private:
    static std::uint32_t Unsigned(const unsigned char* at) {
        return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
               std::uint32_t{at[3]} << 24;
    }
    static double Double(const unsigned char* at) {
        std::uint64_t bits = 0;
        for (int byte = 7; byte >= 0; --byte) bits = bits << 8 | at[byte];
        return std::bit_cast<double>(bits);
    }
    void Skip(std::size_t bytes) {
        m_at += bytes;
        m_left -= bytes;
    }

    const unsigned char* m_at;
    std::size_t m_left;
};

std::unique_ptr<geos::geom::CoordinateSequence> Run(PlainReader& reader) {
    std::uint32_t count = 0;
    if (!reader.Count(count, kCoordinateBytes)) return nullptr;
    return reader.Coordinates(count);
}

// The body of a line string, after its header.
std::unique_ptr<geos::geom::LineString> LineBody(PlainReader& reader, const GeometryFactory& factory) {
    auto coordinates = Run(reader);
    if (!coordinates) return nullptr;
    return factory.createLineString(std::move(coordinates));
}

// The body of a polygon, after its header: a count of rings, each a run.
std::unique_ptr<geos::geom::Polygon> PolygonBody(PlainReader& reader, const GeometryFactory& factory) {
    std::uint32_t rings = 0;
    if (!reader.Count(rings, 4)) return nullptr;
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
std::vector<std::unique_ptr<Part>> Parts(PlainReader& reader, std::uint32_t part_type, Body&& body) {
    std::vector<std::unique_ptr<Part>> parts;
    std::uint32_t count = 0;
    if (!reader.Count(count, 9)) return parts;
    parts.reserve(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        std::uint32_t type = 0;
        auto part = reader.Header(type) && type == part_type ? body(reader) : nullptr;
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
    PlainReader reader(bytes, size);
    std::uint32_t type = 0;
    if (!reader.Header(type)) return nullptr;
    std::unique_ptr<geos::geom::Geometry> shape;
    // Only the plain 2D types: Z, M and SRID flags make other numbers, left to GEOS.
    switch (type) {
        case kLineString: shape = LineBody(reader, factory); break;
        case kPolygon: shape = PolygonBody(reader, factory); break;
        case kMultiLineString: {
            auto parts = Parts<geos::geom::LineString>(reader, kLineString,
                                                       [&factory](PlainReader& at) { return LineBody(at, factory); });
            if (!parts.empty()) shape = factory.createMultiLineString(std::move(parts));
            break;
        }
        case kMultiPolygon: {
            auto parts = Parts<geos::geom::Polygon>(reader, kPolygon,
                                                    [&factory](PlainReader& at) { return PolygonBody(at, factory); });
            if (!parts.empty()) shape = factory.createMultiPolygon(std::move(parts));
            break;
        }
        default: return nullptr;
    }
    // Bytes beyond the shape are not what a reader of one shape was handed: leave them to GEOS.
    if (!shape || reader.Left() != 0) return nullptr;
    shape->setSRID(0);
    return shape;
}

}  // namespace selvane::gis
