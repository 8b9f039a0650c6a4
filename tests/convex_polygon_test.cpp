// The convex rings that skip GEOS's validity check: every ring the shortcut takes must be
// one IsValidOp finds valid, and the convex rings people draw must all be taken.

#include <limits>
#include <cmath>
#include <random>

#include <geos/operation/valid/IsValidOp.h>

#include "gis/geometry/convex_polygon.h"
#include "gis/geometry/shape.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

using geos::geom::Geometry;

std::unique_ptr<Geometry> Read(const std::string& wkt) {
    return geos::io::WKTReader(gis::Shape::Factory()).read(wkt);
}

bool Valid(const Geometry& shape) { return geos::operation::valid::IsValidOp(&shape).isValid(); }

// A polygon through the given vertices, closed, in this order or the reverse.
std::unique_ptr<Geometry> Ring(const std::vector<geos::geom::Coordinate>& vertices, bool reversed) {
    std::string text = "POLYGON((";
    const std::size_t count = vertices.size();
    for (std::size_t i = 0; i <= count; ++i) {
        const auto& vertex = vertices[reversed ? (count - i) % count : i % count];
        text += (i ? "," : "") + std::to_string(vertex.x) + " " + std::to_string(vertex.y);
    }
    return Read(text + "))");
}

// A star of `points` points joining every `step`th vertex of a regular polygon: it turns
// one way at every vertex but goes round `step` times.
std::vector<geos::geom::Coordinate> Star(int points, int step) {
    std::vector<geos::geom::Coordinate> vertices;
    for (int i = 0; i < points; ++i) {
        const double angle = 2 * M_PI * (i * step % points) / points;
        vertices.emplace_back(std::round(1000 * std::cos(angle)), std::round(1000 * std::sin(angle)));
    }
    return vertices;
}

TEST(ConvexPolygon, TakesConvexRingsEitherWayRoundAndLeavesEveryOtherRingToTheFullCheck) {
    for (const bool reversed : {false, true}) {
        // Convex: a triangle, a square with edges straight up and down, an octagon.
        for (const auto& vertices : {std::vector<geos::geom::Coordinate>{{0, 0}, {4, 0}, {1, 3}},
                                     std::vector<geos::geom::Coordinate>{{0, 0}, {2, 0}, {2, 2}, {0, 2}}, Star(8, 1)}) {
            const auto polygon = Ring(vertices, reversed);
            EXPECT_TRUE(gis::IsStrictlyConvexPolygon(*polygon)) << polygon->toString();
            EXPECT_TRUE(Valid(*polygon));
        }
        // Stars turn one way at every vertex and cross themselves: going round twice or
        // three times is what gives them away.
        for (const auto& [points, step] : {std::pair{5, 2}, std::pair{7, 2}, std::pair{7, 3}, std::pair{8, 3}}) {
            const auto star = Ring(Star(points, step), reversed);
            EXPECT_FALSE(gis::IsStrictlyConvexPolygon(*star)) << star->toString();
            EXPECT_FALSE(Valid(*star)) << star->toString();
        }
        // Valid, but not for the shortcut to say: a vertex where the ring goes straight on,
        // a vertex repeated, a dent.
        for (const auto& vertices :
             {std::vector<geos::geom::Coordinate>{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}},
              std::vector<geos::geom::Coordinate>{{0, 0}, {2, 0}, {2, 0}, {2, 2}, {0, 2}},
              std::vector<geos::geom::Coordinate>{{0, 0}, {4, 0}, {4, 4}, {2, 1}, {0, 4}}}) {
            const auto polygon = Ring(vertices, reversed);
            EXPECT_FALSE(gis::IsStrictlyConvexPolygon(*polygon)) << polygon->toString();
            EXPECT_TRUE(Valid(*polygon));
        }
    }
    // A coordinate that is not a finite number, at each vertex in turn: never convex. (GEOS
    // cannot close a ring whose first vertex is NaN.)
    for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        for (std::size_t at = std::isnan(bad) ? 1 : 0; at < 4; ++at) {
            std::vector<geos::geom::Coordinate> square{{0, 0}, {2, 0}, {2, 2}, {0, 2}};
            (at % 2 ? square[at].x : square[at].y) = bad;
            const auto polygon = Ring(square, false);
            EXPECT_FALSE(gis::IsStrictlyConvexPolygon(*polygon)) << polygon->toString();
        }
    }
    // A hole, several parts, an empty polygon, a spike back along an edge.
    for (const char* wkt : {"POLYGON((0 0,9 0,9 9,0 9,0 0),(1 1,1 2,2 2,2 1,1 1))",
                            "MULTIPOLYGON(((0 0,1 0,0 1,0 0)),((5 5,6 5,5 6,5 5)))", "POLYGON EMPTY",
                            "POLYGON((0 0,2 0,1 0,1 1,0 0))", "LINESTRING(0 0,1 1)"}) {
        EXPECT_FALSE(gis::IsStrictlyConvexPolygon(*Read(wkt))) << wkt;
    }
}

TEST(ConvexPolygon, AgreesWithTheFullCheckOnRandomRingsAndTakesEveryConvexHull) {
    std::mt19937 random(20261209);
    // A small grid: vertices repeat, three in a line, edges run straight up and down.
    std::uniform_int_distribution<int> cell(0, 4);
    std::uniform_int_distribution<int> count(3, 8);
    int taken = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        std::vector<geos::geom::Coordinate> vertices(static_cast<std::size_t>(count(random)));
        for (auto& vertex : vertices) vertex = {double(cell(random)), double(cell(random))};
        const auto polygon = Ring(vertices, false);
        if (gis::IsStrictlyConvexPolygon(*polygon)) {
            ++taken;
            ASSERT_TRUE(Valid(*polygon)) << polygon->toString();
        }
        // GEOS's hull of the same points drops the points in a line: a convex ring always.
        const auto hull = polygon->convexHull();
        if (hull->getGeometryTypeId() == geos::geom::GeometryTypeId::GEOS_POLYGON) {
            ASSERT_TRUE(gis::IsStrictlyConvexPolygon(*hull)) << hull->toString();
            ASSERT_TRUE(gis::IsStrictlyConvexPolygon(*hull->reverse())) << hull->toString();
        }
    }
    // Random rings come out convex now and then; the shortcut took them.
    EXPECT_GT(taken, 100);
}

}  // namespace
}  // namespace selvane::testing
