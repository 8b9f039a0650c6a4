// The shortcuts a prepared query takes before GEOS's full relate, cross-checked against the
// full relate on every relation and every pair of shape types: large districts with holes
// and several parts, and candidates that share their edges and vertices, lie inside,
// outside, across and along their boundaries.

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

#include "gis/geometry/prepared_query.h"
#include "gis/geometry/shape.h"
#include "gis/geometry/spatial_relation.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

using geos::geom::Geometry;
using platform::esriSpatialRelEnum;

std::unique_ptr<Geometry> Read(const std::string& wkt) {
    return geos::io::WKTReader(gis::Shape::Factory()).read(wkt);
}

std::string Point(double x, double y) {
    std::ostringstream text;
    text << x << ' ' << y;
    return text.str();
}

// The ring of a staircase district over grid columns [x0, x0 + bottom.size()): column i
// spans [y0 - bottom[i], y0 + top[i]); every cell corner on the outline is a vertex.
std::string DistrictRing(int x0, int y0, const std::vector<int>& top, const std::vector<int>& bottom) {
    std::vector<std::string> ring;
    const int width = static_cast<int>(top.size());
    for (int y = y0 + top[0]; y > y0 - bottom[0]; --y) ring.push_back(Point(x0, y));
    for (int x = 0; x < width; ++x) {
        const int from = y0 - bottom[x], to = x + 1 < width ? y0 - bottom[x + 1] : y0 + top.back();
        ring.push_back(Point(x0 + x, from));
        for (int y = from; y != to; y += to > from ? 1 : -1) ring.push_back(Point(x0 + x + 1, y));
    }
    for (int x = width; x > 0; --x) {
        const int from = y0 + top[x - 1], to = x > 1 ? y0 + top[x - 2] : y0 + top[0];
        ring.push_back(Point(x0 + x, from));
        for (int y = from; y != to; y += to > from ? 1 : -1) ring.push_back(Point(x0 + x - 1, y));
    }
    ring.push_back(ring.front());
    std::string text = "(";
    for (std::size_t i = 0; i < ring.size(); ++i) text += (i ? "," : "") + ring[i];
    return text + ")";
}

std::string Square(double x, double y, double side) {
    return "(" + Point(x, y) + "," + Point(x + side, y) + "," + Point(x + side, y + side) + "," + Point(x, y + side) +
           "," + Point(x, y) + ")";
}

// Query shapes of more vertices than the shortcuts' threshold, and one small one.
std::vector<std::string> Queries() {
    const std::vector<int> top{3, 5, 6, 4, 4, 7, 8, 6, 3, 3, 5, 6, 8, 7, 4, 3};
    const std::vector<int> bottom{2, 2, 4, 6, 5, 3, 3, 5, 7, 8, 6, 4, 2, 3, 5, 4};
    const auto district = DistrictRing(2, 10, top, bottom);
    std::string circle = "(";
    for (int i = 0; i <= 96; ++i) {
        const double angle = (i % 96) * 2 * M_PI / 96;
        circle += (i ? "," : "") + Point(std::round((10 + 7 * std::cos(angle)) * 2) / 2, std::round((10 + 7 * std::sin(angle)) * 2) / 2);
    }
    circle += ")";
    return {
        "POLYGON(" + district + ")",
        // A hole of its own, and a hole whose vertex touches the inside of a shell's segment.
        "POLYGON(" + district + "," + Square(7, 9, 2) + ",(11.5 13,12 12,11 11.5,10.5 12,11.5 13))",
        // Two parts that meet at a corner, and a third apart.
        "MULTIPOLYGON((" + district + "),(" + Square(18, 13, 3) + "),(" + Square(-4, -4, 2) + "))",
        "POLYGON(" + circle + ")",
        "POLYGON((4 4,12 4,12 12,4 12,4 4))",
    };
}

// Candidates of every shape type at one grid position.
std::vector<std::string> CandidatesAt(int x, int y) {
    const auto p = [&](double dx, double dy) { return Point(x + dx, y + dy); };
    return {
        "POLYGON(" + Square(x, y, 1) + ")",
        "POLYGON(" + Square(x + 0.5, y + 0.5, 1) + ")",
        "POLYGON((" + p(0, 0) + "," + p(2, 0) + "," + p(2, 1) + "," + p(0, 1) + "," + p(0, 0) + "))",
        "POLYGON((" + p(0, 0) + "," + p(1, 0) + "," + p(0, 1) + "," + p(0, 0) + "))",
        "POLYGON(" + Square(x - 1, y - 1, 3) + "," + Square(x, y, 1) + ")",
        "MULTIPOLYGON((" + Square(x, y, 1) + "),(" + Square(x + 1, y + 1, 1) + "))",
        "POINT(" + p(0, 0) + ")",
        "POINT(" + p(0.5, 0) + ")",
        "POINT(" + p(0.5, 0.5) + ")",
        "MULTIPOINT((" + p(0, 0) + "),(" + p(0.5, 0.5) + "),(" + p(3, 0) + "))",
        "LINESTRING(" + p(0, 0) + "," + p(1, 0) + ")",
        "LINESTRING(" + p(0, 0) + "," + p(0, 1) + ")",
        "LINESTRING(" + p(0, 0) + "," + p(1, 1) + ")",
        "LINESTRING(" + p(0.5, -0.5) + "," + p(0.5, 0.5) + "," + p(1.5, 0.5) + ")",
        "LINESTRING(" + p(0, 0) + "," + p(3, 2) + ")",
        "LINESTRING(" + p(0, 0) + "," + p(1, 0) + "," + p(1, 1) + "," + p(0, 0) + ")",
        "MULTILINESTRING((" + p(0, 0) + "," + p(1, 0) + "),(" + p(0.5, 0.5) + "," + p(0.5, 2) + "))",
    };
}

constexpr esriSpatialRelEnum kRelations[] = {
    platform::esriSpatialRelIntersects, platform::esriSpatialRelEnvelopeIntersects, platform::esriSpatialRelTouches,
    platform::esriSpatialRelOverlaps,   platform::esriSpatialRelCrosses,            platform::esriSpatialRelWithin,
    platform::esriSpatialRelContains};

TEST(RelationShortcuts, EveryRelationAnswersAsTheFullRelateOnSharedEdgesHolesAndPartsOfLargeAreas) {
    std::vector<std::unique_ptr<Geometry>> candidates;
    // Each kind of candidate at every other grid position, the kinds alternating.
    for (int y = -3; y <= 20; ++y) {
        for (int x = -3; x <= 20; ++x) {
            const auto here = CandidatesAt(x, y);
            for (std::size_t kind = (x + y + 100) % 2; kind < here.size(); kind += 2) {
                auto shape = Read(here[kind]);
                // Candidates reach a relation only once their class has found them valid.
                if (shape->isValid()) candidates.push_back(std::move(shape));
            }
        }
    }
    // Lines through the point where the hole meets the shell: outside the area on both
    // sides, they touch it and do not cross it.
    for (const char* wkt : {"LINESTRING(11.5 12.5,11.5 13.5)", "LINESTRING(11.5 12.5,11.5 13.5,12.5 13.5)",
                            "POLYGON((11.5 12.5,11.7 12.5,11.7 13.5,11.5 13.5,11.5 12.5))",
                            // Rectangles around a whole ring of the query's boundary: the hole,
                            // and the part apart from the others.
                            "POLYGON((6.5 8.5,9.5 8.5,9.5 11.5,6.5 11.5,6.5 8.5))",
                            "POLYGON((-4.5 -4.5,-1.5 -4.5,-1.5 -1.5,-4.5 -1.5,-4.5 -4.5))"}) {
        candidates.push_back(Read(wkt));
    }
    int compared = 0;
    std::map<std::string, int> held;  // by relation and candidate type: the data must exercise each
    const auto queries = Queries();
    for (const auto& wkt : queries) {
        const auto query = Read(wkt);
        ASSERT_TRUE(query->isValid()) << wkt;
        // As its class's own checked shape; the first also as one the shortcuts check themselves.
        for (const bool known_valid : {true, false}) {
            if (!known_valid && wkt != queries.front()) continue;
            const gis::PreparedQuery prepared(*query, known_valid);
            for (const auto& candidate : candidates) {
                // What a class keeps as bytes is answered from its box or its vertices, where they decide.
                const auto box = gis::RectangleBox(*candidate);
                std::vector<geos::geom::Coordinate> vertices;
                if (candidate->getGeometryTypeId() == geos::geom::GEOS_LINESTRING) candidate->getCoordinates()->toVector(vertices);
                for (const auto relation : kRelations) {
                    const bool expected = FullRelate(relation, *query, *candidate);
                    ASSERT_EQ(prepared.Holds(relation, *candidate), expected)
                        << gis::RelationName(relation) << "\nquery " << wkt << "\ncandidate " << candidate->toString();
                    const auto by_box = box && relation != platform::esriSpatialRelEnvelopeIntersects
                                            ? prepared.HoldsAtRectangle(relation, *box)
                                            : std::nullopt;
                    if (by_box) {
                        ASSERT_EQ(*by_box, expected) << gis::RelationName(relation) << " by box\nquery " << wkt
                                                     << "\ncandidate " << candidate->toString();
                        ++held["by box"];
                    }
                    if (relation == platform::esriSpatialRelCrosses && !vertices.empty()) {
                        if (const auto by_vertices = prepared.CrossesAtVertices(vertices)) {
                            ASSERT_EQ(*by_vertices, expected) << "by vertices\nquery " << wkt << "\ncandidate "
                                                              << candidate->toString();
                            ++held[*by_vertices ? "crosses by vertices" : "not crosses by vertices"];
                        }
                    }
                    ++compared;
                    if (expected) ++held[std::string(gis::RelationName(relation)) + " " + candidate->getGeometryType()];
                }
            }
        }
    }
    EXPECT_GT(compared, 40000);
    // Each shortcut met candidates for which its relation holds and candidates for which it does not.
    for (const char* key : {"esriSpatialRelTouches Polygon", "esriSpatialRelTouches Point", "esriSpatialRelTouches LineString",
                            "esriSpatialRelOverlaps Polygon", "esriSpatialRelOverlaps MultiPolygon",
                            "esriSpatialRelCrosses LineString", "esriSpatialRelCrosses MultiPoint",
                            "esriSpatialRelContains Polygon", "esriSpatialRelContains Point", "by box",
                            "crosses by vertices", "not crosses by vertices"}) {
        EXPECT_GT(held[key], 0) << key;
    }
}

TEST(RelationShortcuts, RectanglesAnswerAsTheFullRelateWhereverTheyMeet) {
    // Rectangles on a half-unit grid, so that they share edges, parts of edges and corners,
    // lie inside one another with and without a shared edge, and overlap; each ring in both
    // orientations and from another first corner. And shapes that are not rectangles though
    // they look it: rings with a vertex along an edge, one with a hole, an L.
    const auto rectangle = [](double x0, double y0, double x1, double y1, bool reversed, int start) {
        std::vector<std::string> corners{Point(x0, y0), Point(x1, y0), Point(x1, y1), Point(x0, y1)};
        if (reversed) std::reverse(corners.begin(), corners.end());
        std::rotate(corners.begin(), corners.begin() + start, corners.end());
        std::string wkt = "POLYGON((";
        for (const auto& corner : corners) wkt += corner + ",";
        return wkt + corners.front() + "))";
    };
    std::vector<std::string> shapes;
    std::mt19937 random(8122026);
    std::uniform_int_distribution<int> at(0, 8), size(1, 5), flip(0, 1), corner(0, 3);
    for (int i = 0; i < 120; ++i) {
        const double x = at(random) * 0.5, y = at(random) * 0.5;
        shapes.push_back(rectangle(x, y, x + size(random) * 0.5, y + size(random) * 0.5, flip(random), corner(random)));
    }
    for (const char* wkt : {"POLYGON((1 1,2 1,3 1,3 2,1 2,1 1))", "POLYGON((0 0,4 0,4 4,0 4,0 0),(1 1,2 1,2 2,1 2,1 1))",
                            "POLYGON((1 1,2 1,2 2,1 2,1 1.5,1 1))", "POLYGON((1 1,3 1,3 2,2 2,2 3,1 3,1 1))",
                            // Convex shapes that are not rectangles: an octagon, a triangle.
                            "POLYGON((1 0,2 0,3 1,3 2,2 3,1 3,0 2,0 1,1 0))", "POLYGON((0.5 0.5,3.5 1,1 3,0.5 0.5))"}) {
        shapes.push_back(wkt);
    }
    // Lines: segments and bent lines on the same grid, along edges, through corners, in,
    // out and across; and one whose vertices both lie in the L while it cuts its notch.
    std::vector<std::string> lines{"LINESTRING(2.8 1.5,1.5 2.8)", "MULTILINESTRING((0 0,1 1),(3 3,4.5 4))"};
    for (int i = 0; i < 150; ++i) {
        std::string wkt = "LINESTRING(" + Point(at(random) * 0.5, at(random) * 0.5);
        for (int vertex = flip(random); vertex < 2; ++vertex) {
            wkt += "," + Point(at(random) * 0.5 + 0.25 * flip(random), at(random) * 0.5);
        }
        lines.push_back(wkt + ")");
    }
    std::size_t rectangles = 0, compared = 0;
    std::map<std::string, int> held;
    std::map<bool, int> decided_by_vertices;
    for (const auto& query_wkt : shapes) {
        const auto query = Read(query_wkt);
        ASSERT_TRUE(query->isValid()) << query_wkt;
        rectangles += gis::RectangleBox(*query).has_value();
        const gis::PreparedQuery prepared(*query, true);
        for (const auto& candidate_wkt : shapes) {
            const auto candidate = Read(candidate_wkt);
            const auto box = gis::RectangleBox(*candidate);
            for (const auto relation : {platform::esriSpatialRelTouches, platform::esriSpatialRelOverlaps,
                                        platform::esriSpatialRelIntersects, platform::esriSpatialRelWithin,
                                        platform::esriSpatialRelContains, platform::esriSpatialRelCrosses}) {
                const bool expected = FullRelate(relation, *query, *candidate);
                ASSERT_EQ(prepared.Holds(relation, *candidate), expected)
                    << gis::RelationName(relation) << "\nquery " << query_wkt << "\ncandidate " << candidate_wkt;
                // A stored rectangle is answered from its box alone where the query is one too.
                const auto by_box = box ? prepared.HoldsAtRectangle(relation, *box) : std::nullopt;
                ASSERT_EQ(by_box.has_value(), box && gis::RectangleBox(*query));
                if (by_box) {
                    ASSERT_EQ(*by_box, expected) << gis::RelationName(relation) << " of boxes\nquery " << query_wkt
                                                 << "\ncandidate " << candidate_wkt;
                }
                held[gis::RelationName(relation)] += expected;
                ++compared;
            }
        }
        for (const auto& line_wkt : lines) {
            const auto line = Read(line_wkt);
            if (!line->isValid() || line->getLength() == 0) continue;
            for (const auto relation : {platform::esriSpatialRelCrosses, platform::esriSpatialRelTouches}) {
                const bool expected = FullRelate(relation, *query, *line);
                ASSERT_EQ(prepared.Holds(relation, *line), expected)
                    << gis::RelationName(relation) << "\nquery " << query_wkt << "\nline " << line_wkt;
                if (relation == platform::esriSpatialRelCrosses && line->getGeometryTypeId() == geos::geom::GEOS_LINESTRING) {
                    // A stored line is answered from its vertices alone where they decide.
                    std::vector<geos::geom::Coordinate> vertices;
                    line->getCoordinates()->toVector(vertices);
                    const auto by_vertices = prepared.CrossesAtVertices(vertices);
                    if (by_vertices) {
                        ASSERT_EQ(*by_vertices, expected) << "by vertices\nquery " << query_wkt << "\nline " << line_wkt;
                        ++decided_by_vertices[*by_vertices];
                    }
                }
                held[std::string(gis::RelationName(relation)) + " line"] += expected;
                ++compared;
            }
        }
    }
    EXPECT_GT(held["esriSpatialRelCrosses line"], 300);
    EXPECT_GT(decided_by_vertices[true], 100);
    EXPECT_GT(decided_by_vertices[false], 100);
    EXPECT_EQ(rectangles, 120u);  // the four look-alikes are not taken for rectangles
    EXPECT_GT(held["esriSpatialRelTouches"], 500);
    EXPECT_GT(held["esriSpatialRelOverlaps"], 500);
    EXPECT_GT(compared, 60000u);
}

TEST(RelationShortcuts, AnInvalidLargeQueryIsLeftToTheFullRelate) {
    // A large area whose ring crosses itself: the shortcuts' reasons do not hold for it.
    std::string ring = "POLYGON((0 0";
    for (int i = 1; i <= 80; ++i) ring += "," + Point(i * 0.5, i % 2);
    ring += ",40 20,20 -5,0 20,0 0))";
    const auto query = Read(ring);
    ASSERT_FALSE(query->isValid());
    const gis::PreparedQuery prepared(*query, false);
    int compared = 0;
    for (int y = -6; y <= 20; y += 2) {
        for (int x = 0; x <= 40; x += 3) {
            for (const auto& wkt : CandidatesAt(x, y)) {
                const auto candidate = Read(wkt);
                if (!candidate->isValid()) continue;
                for (const auto relation : kRelations) {
                    bool expected = false;
                    try {
                        expected = FullRelate(relation, *query, *candidate);
                    } catch (const geos::util::GEOSException&) {
                        continue;
                    }
                    EXPECT_EQ(prepared.Holds(relation, *candidate), expected)
                        << gis::RelationName(relation) << " " << candidate->toString();
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 1000);
}

TEST(RelationShortcuts, APointIsAnsweredAsGeosAnswersItWhateverTheAreasRing) {
    // Small rings and larger ones, with and without holes, convex or not, turning either way
    // (a small strictly convex ring is answered by the sides of its edges); and a bow-tie, a
    // ring that doubles back and a hole outside its shell, invalid, where the prepared
    // intersects is what a point's INTERSECT must agree with.
    std::string ring16 = "POLYGON((", ring17 = "POLYGON((";
    for (int i = 0; i <= 16; ++i) ring16 += (i ? "," : "") + Point(std::round(4 + 3 * std::cos(i % 16 * M_PI / 8)), std::round(4 + 3 * std::sin(i % 16 * M_PI / 8)));
    for (int i = 0; i <= 17; ++i) ring17 += (i ? "," : "") + Point(std::round(4 + 3 * std::cos(i % 17 * 2 * M_PI / 17)), std::round(4 + 3 * std::sin(i % 17 * 2 * M_PI / 17)));
    const std::vector<std::string> valid{
        "POLYGON((1 0,2 0,3 1,3 2,2 3,1 3,0 2,0 1,1 0))", "POLYGON((1 0,0 1,0 2,1 3,2 3,3 2,3 1,2 0,1 0))",
        "POLYGON((0.5 0.5,3.5 1,1 3,0.5 0.5))",
        "POLYGON((1 1,2 1,3 1,3 2,1 2,1 1))", "POLYGON((1 1,3 1,3 2,2 2,2 3,1 3,1 1))", ring16 + "))", ring17 + "))",
        "POLYGON((0 0,4 0,4 4,0 4,0 0),(1 1,2 1,2 2,1 2,1 1))", "MULTIPOLYGON(((0 0,1 0,1 1,0 0)),((2 2,3 2,3 3,2 2)))"};
    const std::vector<std::string> invalid{"POLYGON((0 0,3 3,3 0,0 3,0 0))", "POLYGON((0 0,4 0,4 2,2 2,2 0.5,2 4,0 4,0 0))",
                                           "POLYGON((0 0,4 0,0 4,0 0),(2.5 2.5,3.5 2.5,3.5 3.5,2.5 3.5,2.5 2.5))"};
    int compared = 0, inside = 0, on_boundary = 0;
    for (const auto& wkt : valid) {
        const auto query = Read(wkt);
        ASSERT_TRUE(query->isValid()) << wkt;
        const gis::PreparedQuery prepared(*query, true);
        for (int y = -2; y <= 30; ++y) {
            for (int x = -2; x <= 30; ++x) {
                const gis::PlainPoint at{x * 0.25, y * 0.25};
                const auto point = Read("POINT(" + Point(at.x, at.y) + ")");
                for (const auto relation : kRelations) {
                    const bool expected = FullRelate(relation, *query, *point);
                    ASSERT_EQ(prepared.HoldsAtPoint(relation, at), expected)
                        << gis::RelationName(relation) << "\nquery " << wkt << "\npoint " << point->toString();
                    ++compared;
                }
                inside += FullRelate(platform::esriSpatialRelContains, *query, *point);
                on_boundary += FullRelate(platform::esriSpatialRelTouches, *query, *point);
            }
        }
    }
    for (const auto& wkt : invalid) {
        const auto query = Read(wkt);
        ASSERT_FALSE(query->isValid()) << wkt;
        const auto geos_prepared = geos::geom::prep::PreparedGeometryFactory::prepare(query.get());
        const gis::PreparedQuery prepared(*query, false);
        for (int y = -2; y <= 18; ++y) {
            for (int x = -2; x <= 18; ++x) {
                const gis::PlainPoint at{x * 0.25, y * 0.25};
                const auto point = Read("POINT(" + Point(at.x, at.y) + ")");
                ASSERT_EQ(prepared.HoldsAtPoint(platform::esriSpatialRelIntersects, at), geos_prepared->intersects(point.get()))
                    << wkt << "\npoint " << point->toString();
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 50000);
    EXPECT_GT(inside, 500);
    EXPECT_GT(on_boundary, 100);
}

}  // namespace
}  // namespace selvane::testing
