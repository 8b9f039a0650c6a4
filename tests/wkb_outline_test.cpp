// The walk of well-known binary that stands between outside bytes and GEOS's recursive
// reader: what it lets through GEOS reads, and what it refuses it names.

#include <cstring>
#include <string>

#include <cmath>
#include <random>
#include <regex>
#include <sstream>

#include <geos/util/IllegalArgumentException.h>

#include "gis/geometry/prepared_query.h"
#include "gis/geometry/shape.h"
#include "gis/wkb/wkb_outline.h"
#include "gis/wkb/wkb_shapes.h"
#include "same_shape.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

class Wkb {
public:
    Wkb& Order(bool little) {
        m_little = little;
        m_bytes.push_back(little ? 1 : 0);
        return *this;
    }
    Wkb& Word(std::uint32_t value) {
        for (int index = 0; index < 4; ++index) {
            m_bytes.push_back(static_cast<unsigned char>(value >> (m_little ? 8 * index : 24 - 8 * index)));
        }
        return *this;
    }
    Wkb& Double(double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int index = 0; index < 8; ++index) {
            m_bytes.push_back(static_cast<unsigned char>(bits >> (m_little ? 8 * index : 56 - 8 * index)));
        }
        return *this;
    }
    Wkb& Point(bool little, double x, double y) { return Order(little).Word(1).Double(x).Double(y); }
    /// `depth` collections, each holding the next, around one point.
    Wkb& Nested(std::size_t depth) {
        for (std::size_t level = 0; level < depth; ++level) Order(level % 2 == 0).Word(7).Word(1);
        return Point(true, 1, 2);
    }
    const unsigned char* Data() const { return m_bytes.data(); }
    std::size_t Size() const { return m_bytes.size(); }

private:
    std::vector<unsigned char> m_bytes;
    bool m_little = true;
};

std::string Refusal(const Wkb& wkb) {
    try {
        gis::OutlineWkb(wkb.Data(), wkb.Size());
    } catch (const gis::ShapeBytesFault& fault) {
        return fault.what();
    }
    return "";
}

TEST(WkbOutline, WhatItLetsThroughGeosReadsWithEachPartInItsOwnByteOrder) {
    geos::io::WKBReader reader(gis::Shape::Factory());
    // A big-endian multipoint of a little- and a big-endian point, then bytes after it.
    Wkb mixed;
    mixed.Order(false).Word(4).Word(2).Point(true, 1, 2).Point(false, 3, 4);
    const auto outline = gis::OutlineWkb(mixed.Data(), mixed.Size());
    EXPECT_EQ(outline.type, gis::WkbType::MultiPoint);
    EXPECT_EQ(outline.size, mixed.Size());
    const auto read = reader.read(mixed.Data(), outline.size);
    ASSERT_EQ(read->getNumGeometries(), 2u);
    EXPECT_EQ(read->getGeometryN(1)->getCoordinate()->x, 3);
    EXPECT_EQ(read->getGeometryN(1)->getCoordinate()->y, 4);

    // Collections exactly as deep as allowed are read; one level more is refused.
    Wkb deepest;
    deepest.Nested(gis::kMaxWkbNesting);
    EXPECT_EQ(Refusal(deepest), "");
    EXPECT_EQ(reader.read(deepest.Data(), deepest.Size())->getNumPoints(), 1u);
    Wkb deeper;
    deeper.Nested(gis::kMaxWkbNesting + 1);
    EXPECT_EQ(Refusal(deeper), "collections nested more than 32 deep");

    // ISO Z and an extended-WKB SRID are walked by their own sizes.
    Wkb z;
    z.Order(true).Word(1001).Double(1).Double(2).Double(3);
    EXPECT_EQ(gis::OutlineWkb(z.Data(), z.Size()).size, z.Size());
    Wkb srid;
    srid.Order(true).Word(0x20000001).Word(4326).Double(1).Double(2);
    EXPECT_EQ(gis::OutlineWkb(srid.Data(), srid.Size()).size, srid.Size());
    // Measured and curved shapes are outlined for GDAL, not walked.
    Wkb measured;
    measured.Order(true).Word(2001).Double(1).Double(2).Double(3);
    EXPECT_TRUE(gis::OutlineWkb(measured.Data(), measured.Size()).measured);
    Wkb curve;
    curve.Order(true).Word(8).Word(0);
    EXPECT_TRUE(gis::OutlineWkb(curve.Data(), curve.Size()).curved);
}

TEST(WkbOutline, RefusesWhatCannotBeAndSaysWhere) {
    Wkb empty;
    EXPECT_EQ(Refusal(empty), "truncated: the byte order at byte 0 needs 1 bytes, 0 remain");
    Wkb order;
    order.Order(true).Word(1).Double(1).Double(2);
    const_cast<unsigned char*>(order.Data())[0] = 7;
    EXPECT_EQ(Refusal(order), "byte order 7 at byte 0 (WKB knows 0, big-endian, and 1, little-endian)");
    Wkb unknown;
    unknown.Order(true).Word(4000);
    EXPECT_EQ(Refusal(unknown), "unknown geometry type 4000 at byte 1");
    // Counts that the remaining bytes cannot hold, at every level.
    Wkb points;
    points.Order(true).Word(2).Word(3).Double(0).Double(0).Double(1).Double(1);
    EXPECT_EQ(Refusal(points), "a count of 3 points at byte 5, where 32 bytes remain");
    Wkb rings;
    rings.Order(false).Word(3).Word(0xFFFFFFFF);
    EXPECT_EQ(Refusal(rings), "a count of 4294967295 rings at byte 5, where 0 bytes remain");
    Wkb parts;
    parts.Order(true).Word(7).Word(2).Point(true, 1, 2);
    EXPECT_EQ(Refusal(parts), "truncated: the byte order at byte 30 needs 1 bytes, 0 remain");
    Wkb many;
    many.Order(true).Word(7).Word(3).Point(true, 1, 2);
    EXPECT_EQ(Refusal(many), "a count of 3 parts at byte 5, where 21 bytes remain");
    Wkb missing;
    missing.Order(true).Word(7).Word(3).Point(true, 1, 2).Point(true, 1, 2).Order(true).Word(2);
    EXPECT_EQ(Refusal(missing), "truncated: points at byte 56 needs 4 bytes, 0 remain");
    // A multi-part shape holds parts of its own kind only.
    Wkb wrong;
    wrong.Order(true).Word(6).Word(1).Point(true, 1, 2);
    EXPECT_EQ(Refusal(wrong), "a part of type 1 inside a MultiPolygon");
}

// Random shapes of every kind, some of them what GEOS refuses to make: lines of one point,
// rings of one to three points or not closed, empty rings, NaN coordinates, Z in ISO and
// extended form, both byte orders, collections inside collections.
class RandomWkb {
public:
    explicit RandomWkb(unsigned seed) : m_random(seed) {}

    /// A shape of the given kind (0 for any) into `wkb`; `well_formed` is cleared when a
    /// part is one that GEOS may refuse.
    void Shape(Wkb& wkb, std::uint32_t kind, std::size_t depth, bool& well_formed) {
        if (kind == 0) kind = 1 + Below(depth < 3 ? 7 : 3);
        const bool z = Below(4) == 0;
        wkb.Order(Below(2) == 0);
        if (z && Below(2) == 0) {
            wkb.Word(0x80000000u | kind);
        } else {
            wkb.Word(kind + (z ? 1000 : 0));
        }
        const auto point = [&](double x, double y) {
            wkb.Double(x).Double(y);
            if (z) wkb.Double(Below(5));
        };
        const auto coordinate = [&] {
            if (Below(60) == 0) {
                well_formed = false;
                return std::nan("");
            }
            return static_cast<double>(Below(9)) - 4;
        };
        switch (kind) {
            case 1:
                if (Below(10) == 0) {
                    point(std::nan(""), std::nan(""));
                } else {
                    point(coordinate(), coordinate());
                }
                break;
            case 2: {
                const std::uint32_t count = Below(10) == 0 ? Below(2) : 2 + Below(4);
                if (count == 1) well_formed = false;
                wkb.Word(count);
                for (std::uint32_t index = 0; index < count; ++index) point(coordinate(), coordinate());
                break;
            }
            case 3: {
                const std::uint32_t rings = Below(3);
                wkb.Word(rings);
                for (std::uint32_t ring = 0; ring < rings; ++ring) {
                    const std::uint32_t count = Below(8) == 0 ? Below(4) : 4 + Below(3);
                    if (count < 4) well_formed = false;
                    const bool closed = Below(8) != 0;
                    if (!closed && count >= 4) well_formed = false;
                    wkb.Word(count);
                    double first_x = 0, first_y = 0;
                    for (std::uint32_t index = 0; index < count; ++index) {
                        double x = coordinate(), y = coordinate();
                        if (index == 0) {
                            first_x = x;
                            first_y = y;
                        } else if (index + 1 == count && closed) {
                            x = first_x;
                            y = first_y;
                            if (std::isnan(x) || std::isnan(y)) well_formed = false;
                        }
                        point(x, y);
                    }
                }
                break;
            }
            default: {
                const std::uint32_t parts = Below(4);
                wkb.Word(parts);
                for (std::uint32_t part = 0; part < parts; ++part) {
                    Shape(wkb, kind == 7 ? 0 : kind - 3, depth + 1, well_formed);
                }
            }
        }
    }

private:
    std::uint32_t Below(std::uint32_t bound) { return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(m_random); }

    std::mt19937 m_random;
};

TEST(WkbOutline, WhatTheCheckSaysGeosReadsGeosReadsWithTheSameExtent) {
    geos::io::WKBReader reader(gis::Shape::Factory());
    RandomWkb random(20261209);
    std::size_t passed = 0, refused_by_geos = 0, well_formed_passed = 0, well_formed_count = 0;
    for (int shape = 0; shape < 20000; ++shape) {
        Wkb wkb;
        bool well_formed = true;
        random.Shape(wkb, 0, 0, well_formed);
        std::unique_ptr<geos::geom::Geometry> read;
        try {
            read = reader.read(wkb.Data(), wkb.Size());
        } catch (const geos::util::GEOSException&) {
            ++refused_by_geos;
        }
        const auto checked = gis::CheckReadableWkb(wkb.Data(), wkb.Size());
        if (well_formed) {
            ++well_formed_count;
            // Nothing GEOS makes as it stands is left to it.
            EXPECT_TRUE(checked.has_value()) << (read ? read->toString() : "refused by GEOS");
            if (checked) ++well_formed_passed;
        }
        if (!checked) continue;
        ++passed;
        // What the check lets through, GEOS reads, in the outline's size and type.
        ASSERT_NE(read, nullptr) << "shape " << shape;
        EXPECT_EQ(checked->outline.size, wkb.Size());
        EXPECT_EQ(gis::WkbTypeName(checked->outline.type), read->getGeometryType()) << read->toString();
        if (!checked->extent.finite) continue;
        // The box of every coordinate, holes' too (GEOS's envelope of a polygon is its shell's).
        geos::geom::Envelope every;
        const auto coordinates = read->getCoordinates();
        for (std::size_t index = 0; index < coordinates->size(); ++index) every.expandToInclude(coordinates->getAt(index));
        EXPECT_EQ(checked->extent.box.isNull(), read->isEmpty()) << read->toString();
        EXPECT_EQ(checked->extent.box, every) << read->toString();
    }
    // The shapes cover both sides: many that GEOS refuses, and most passed by the check.
    EXPECT_GT(refused_by_geos, 1000u);
    EXPECT_GT(well_formed_count, 5000u);
    EXPECT_EQ(well_formed_passed, well_formed_count);
    EXPECT_GT(passed, well_formed_count);
}

TEST(WkbOutline, BoxesRectanglesAndLineVerticesAreReadFromTheBytesAsGeosReadsThem) {
    // Every shape in both byte orders, 2D and with Z: what the bytes say without GEOS is what
    // GEOS says of the shape it reads from them.
    const char* shapes[] = {
        "POLYGON((0 0,2 0,2 1,0 1,0 0))", "POLYGON((2 1,2 0,0 0,0 1,2 1))", "POLYGON((0 1,0 0,2 0,2 1,0 1))",
        // Look-alikes: a vertex along an edge, back along an edge, a hole, a sliver, a square turned.
        "POLYGON((0 0,1 0,2 0,2 1,0 1,0 0))", "POLYGON((0 0,2 0,2 1,2 0,0 0))",
        "POLYGON((0 0,4 0,4 4,0 4,0 0),(1 1,2 1,2 2,1 2,1 1))", "POLYGON((0 0,2 0,2 0,0 0,0 0))",
        "POLYGON((1 0,2 1,1 2,0 1,1 0))", "MULTIPOLYGON(((0 0,2 0,2 1,0 1,0 0)))",
        "LINESTRING(0 0,3 4,-1 2)", "MULTILINESTRING((0 0,1 1),(5 5,6 7))", "POINT(3 -4)", "POINT EMPTY",
        "POLYGON EMPTY", "GEOMETRYCOLLECTION(POINT EMPTY,LINESTRING(1 1,2 3))", "GEOMETRYCOLLECTION EMPTY"};
    geos::io::WKBReader reader(gis::Shape::Factory());
    int rectangles = 0;
    for (const char* wkt : shapes) {
        for (const bool with_z : {false, true}) {
            // The same shape with a Z of 7 at each vertex.
            const auto shape = gis::Shape::FromWkt(
                with_z ? std::regex_replace(wkt, std::regex("(-?[0-9.]+) (-?[0-9.]+)"), "$1 $2 7") : std::string(wkt));
            for (const int order : {geos::io::WKBConstants::wkbNDR, geos::io::WKBConstants::wkbXDR}) {
                SCOPED_TRACE(std::string(wkt) + (with_z ? " Z" : "") + (order ? " little" : " big"));
                std::ostringstream written;
                geos::io::WKBWriter(3, order).write(*shape->Geometry(), written);
                std::string bytes = written.str();
                const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
                const auto read = reader.read(data, bytes.size());
                if (with_z && !read->isEmpty()) {
                    EXPECT_EQ(read->getCoordinateDimension(), 3);
                }
                const auto extent = gis::ExtentOfWkb(data, bytes.size());
                EXPECT_TRUE(extent.finite);
                EXPECT_EQ(extent.box.isNull(), read->isEmpty());
                if (!read->isEmpty()) {
                    EXPECT_TRUE(extent.box.equals(read->getEnvelopeInternal()));
                }
                const auto rectangle = gis::RectangleOfWkb(data, bytes.size());
                const auto expected = gis::RectangleBox(*read);
                ASSERT_EQ(rectangle.has_value(), expected.has_value());
                if (rectangle) {
                    EXPECT_TRUE(rectangle->equals(&*expected));
                }
                rectangles += rectangle.has_value();
                geos::geom::Coordinate vertices[4];
                const auto count = gis::LineStringVertices(data, bytes.size(), vertices);
                if (read->getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_LINESTRING) {
                    ASSERT_EQ(count, read->getNumPoints());
                    for (std::size_t index = 0; index < count; ++index) {
                        EXPECT_TRUE(vertices[index].equals2D(read->getCoordinates()->getAt(index)));
                    }
                    EXPECT_EQ(gis::LineStringVertices(data, bytes.size(), {vertices, count - 1}), 0u);
                } else {
                    EXPECT_EQ(count, 0u);
                }
            }
        }
    }
    EXPECT_EQ(rectangles, 3 * 4);
    // Coordinates that are not finite: a point of NaNs is an empty one, one NaN is a fault.
    Wkb empty_point, half;
    empty_point.Point(true, std::nan(""), std::nan(""));
    half.Order(false).Word(2).Word(2).Double(0).Double(std::nan("")).Double(1).Double(1);
    EXPECT_TRUE(gis::ExtentOfWkb(empty_point.Data(), empty_point.Size()).finite);
    EXPECT_TRUE(gis::ExtentOfWkb(empty_point.Data(), empty_point.Size()).box.isNull());
    EXPECT_FALSE(gis::ExtentOfWkb(half.Data(), half.Size()).finite);
    // An extended-WKB rectangle with an SRID.
    Wkb srid;
    srid.Order(true).Word(0x20000003).Word(4326).Word(1).Word(5);
    for (const double xy : {0.0, 0.0, 2.0, 0.0, 2.0, 1.0, 0.0, 1.0, 0.0, 0.0}) srid.Double(xy);
    ASSERT_TRUE(gis::RectangleOfWkb(srid.Data(), srid.Size()).has_value());
    EXPECT_EQ(gis::RectangleOfWkb(srid.Data(), srid.Size())->getMaxX(), 2);
}

// The bytes of `wkt` as GEOS writes them: little-endian unless told, 2D unless told.
std::vector<unsigned char> WkbOf(const std::string& wkt, int byte_order = geos::io::WKBConstants::wkbNDR,
                                 int dimension = 2) {
    const auto shape = gis::Shape::FromWkt(wkt);
    geos::io::WKBWriter writer(dimension, byte_order);
    std::ostringstream bytes;
    writer.write(*shape->Geometry(), bytes);
    const std::string text = bytes.str();
    return {text.begin(), text.end()};
}

// The same shape down to each coordinate's bits, part by part and ring by ring, with the
// SRID and dimension GEOS's reader gives and no Z.
bool SameShape(const geos::geom::Geometry& made, const geos::geom::Geometry& read) {
    if (made.getSRID() != read.getSRID() || made.getCoordinateDimension() != read.getCoordinateDimension() ||
        !SameCoordinateBits(made, read)) {
        return false;
    }
    const auto made_points = made.getCoordinates();
    const auto read_points = read.getCoordinates();
    for (std::size_t index = 0; index < made_points->size(); ++index) {
        if (!std::isnan(made_points->getAt(index).z) || !std::isnan(read_points->getAt(index).z)) return false;
    }
    return made.equalsExact(&read) || made.isEmpty();
}

TEST(WkbShapes, ThePlainTypesAreMadeAsGeosReadsThemAndEverythingElseIsLeftToIt) {
    geos::io::WKBReader reader(gis::Shape::Factory());
    const auto& factory = gis::Shape::Factory();
    const auto made_of = [&factory](const std::vector<unsigned char>& bytes) {
        return gis::ShapeOfPlainWkb(bytes.data(), bytes.size(), factory);
    };
    // Made here, as GEOS reads them, and every shorter prefix left to GEOS: a count is
    // never trusted past the bytes there are.
    for (const std::string wkt :
         {"LINESTRING (0 0, 1 1)", "LINESTRING (0.1 -0, 1e300 -1e-300, 5 5)",
          "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))",
          "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0), (1 1, 2 1, 2 2, 1 1), (5 5, 6 5, 6 6, 5 5))",
          "MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), ((5 5, 6 5, 6 6, 5 5), (5.5 5.2, 5.8 5.2, 5.8 5.5, 5.5 5.2)))",
          "MULTILINESTRING ((0 0, 1 1), (2 2, 3 3, 4 2))"}) {
        SCOPED_TRACE(wkt);
        const auto bytes = WkbOf(wkt);
        const auto made = made_of(bytes);
        ASSERT_NE(made, nullptr);
        EXPECT_TRUE(SameShape(*made, *reader.read(bytes.data(), bytes.size())));
        for (std::size_t size = 0; size < bytes.size(); ++size) {
            const std::vector<unsigned char> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_EQ(made_of(prefix), nullptr) << size << " bytes";
        }
        auto longer = bytes;
        longer.push_back(0);
        EXPECT_EQ(made_of(longer), nullptr);
    }
    // Left to GEOS: other types, big-endian bytes, Z, empty shapes and parts, and a
    // multipolygon holding a line.
    for (const auto& bytes :
         {WkbOf("POINT (1 2)"), WkbOf("MULTIPOINT ((1 2))"), WkbOf("GEOMETRYCOLLECTION (LINESTRING (0 0, 1 1))"),
          WkbOf("LINESTRING (0 0, 1 1)", geos::io::WKBConstants::wkbXDR),
          WkbOf("POLYGON Z ((0 0 1, 1 0 1, 1 1 1, 0 0 1))", geos::io::WKBConstants::wkbNDR, 3),
          WkbOf("POLYGON EMPTY"), WkbOf("LINESTRING EMPTY"), WkbOf("MULTIPOLYGON EMPTY"),
          WkbOf("MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), EMPTY)")}) {
        EXPECT_EQ(made_of(bytes), nullptr);
    }
    auto mixed = WkbOf("MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)))");
    mixed[9 + 1] = 2;  // the part's type: a line string
    EXPECT_EQ(made_of(mixed), nullptr);
    auto huge = WkbOf("LINESTRING (0 0, 1 1)");
    for (std::size_t byte = 5; byte < 9; ++byte) huge[byte] = 0xff;  // 2^32 - 1 coordinates
    EXPECT_EQ(made_of(huge), nullptr);
    // What GEOS refuses to make it refuses here too, with the same exception.
    for (const auto& ring : {Wkb().Order(true).Word(3).Word(1).Word(4).Double(0).Double(0).Double(1).Double(0).Double(1)
                                 .Double(1).Double(0).Double(1),  // not closed
                             Wkb().Order(true).Word(3).Word(1).Word(2).Double(0).Double(0).Double(0).Double(0)}) {
        // (not closed; closed with two points)
        EXPECT_THROW(reader.read(ring.Data(), ring.Size()), geos::util::IllegalArgumentException);
        EXPECT_THROW(gis::ShapeOfPlainWkb(ring.Data(), ring.Size(), factory), geos::util::IllegalArgumentException);
    }
}

}  // namespace
}  // namespace selvane::testing
