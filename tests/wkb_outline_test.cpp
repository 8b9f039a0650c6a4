// The walk of well-known binary that stands between outside bytes and GEOS's recursive
// reader: what it lets through GEOS reads, and what it refuses it names.

#include <cstring>
#include <string>

#include "gis/common/shape.h"
#include "gis/common/wkb_outline.h"
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

}  // namespace
}  // namespace selvane::testing
