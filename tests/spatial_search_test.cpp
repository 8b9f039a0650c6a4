// The spatial search of feature classes: the seven relations, the index against a plain
// evaluation, shape-type gates, projections, definition queries and bad shapes.

#include <geos/geom/prep/PreparedGeometryFactory.h>
#include <geos/geom/CoordinateArraySequence.h>
#include <geos/io/WKTWriter.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "gis/common/feature_source.h"
#include "gis/geometry/prepared_query.h"
#include "gis/geometry/shape.h"
#include "gis/geometry/spatial_relation.h"
#include "gis/memory/feature_class.h"
#include "gis/memory/layer.h"
#include "gis/model/spatial_filter.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

using platform::esriSpatialRelEnum;


std::shared_ptr<gis::SpatialFilter> Filter(const std::shared_ptr<platform::IGeometry>& query,
                                           esriSpatialRelEnum relation, const std::string& field = "geom") {
    auto filter = std::make_shared<gis::SpatialFilter>();
    filter->SetGeometry(query);
    filter->SetSpatialRel(relation);
    filter->SetGeometryField(field);
    return filter;
}

std::vector<std::int64_t> Found(platform::IFeatureClass& feature_class, const std::shared_ptr<platform::IQueryFilter>& filter) {
    std::vector<std::int64_t> fids;
    auto cursor = feature_class.Search(filter, false);
    while (auto feature = cursor->NextFeature()) fids.push_back(feature->OID());
    std::sort(fids.begin(), fids.end());
    return fids;
}

struct RelationCase {
    const char* query;
    const char* target;
    int target_type;
    esriSpatialRelEnum relation;
    bool expected;
};

// Query shape first: "WHOLLY CONTAIN" is esriSpatialRelWithin (query within target).
const RelationCase kRelationCases[] = {
    // A point on a polygon's edge.
    {"POINT(1 0.5)", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelIntersects, true},
    {"POINT(1 0.5)", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelTouches, true},
    {"POINT(1 0.5)", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelWithin, false},
    {"POINT(0.5 0.5)", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelWithin, true},
    {"POINT(0.5 0.5)", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelTouches, false},
    // Polygons sharing an edge.
    {"POLYGON((1 0,2 0,2 1,1 1,1 0))", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelTouches, true},
    {"POLYGON((1 0,2 0,2 1,1 1,1 0))", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelOverlaps, false},
    {"POLYGON((1 0,2 0,2 1,1 1,1 0))", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelIntersects, true},
    {"POLYGON((0.5 0,2 0,2 1,0.5 1,0.5 0))", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelOverlaps, true},
    // Containment both ways, and the envelope test.
    {"POLYGON((0 0,4 0,4 4,0 4,0 0))", "POLYGON((1 1,2 1,2 2,1 2,1 1))", kPolygon, platform::esriSpatialRelContains, true},
    {"POLYGON((0 0,4 0,4 4,0 4,0 0))", "POLYGON((1 1,2 1,2 2,1 2,1 1))", kPolygon, platform::esriSpatialRelWithin, false},
    {"POLYGON((1 1,2 1,2 2,1 2,1 1))", "POLYGON((0 0,4 0,4 4,0 4,0 0))", kPolygon, platform::esriSpatialRelWithin, true},
    {"LINESTRING(0 0,3 3)", "POLYGON((2 0,3 0,3 1,2 1,2 0))", kPolygon, platform::esriSpatialRelEnvelopeIntersects, true},
    {"LINESTRING(0 0,3 3)", "POLYGON((2 0,3 0,3 1,2 1,2 0))", kPolygon, platform::esriSpatialRelIntersects, false},
    // Lines crossing a polygon and each other.
    {"LINESTRING(-1 0.5,2 0.5)", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelCrosses, true},
    {"LINESTRING(0.2 0.5,0.8 0.5)", "POLYGON((0 0,1 0,1 1,0 1,0 0))", kPolygon, platform::esriSpatialRelCrosses, false},
    {"LINESTRING(0 0,2 2)", "LINESTRING(0 2,2 0)", kLine, platform::esriSpatialRelCrosses, true},
    {"LINESTRING(0 0,2 2)", "LINESTRING(2 2,3 0)", kLine, platform::esriSpatialRelTouches, true},
    {"LINESTRING(0 0,2 0)", "LINESTRING(1 0,3 0)", kLine, platform::esriSpatialRelOverlaps, true},
    {"POINT(1 1)", "POINT(1 1)", kPoint, platform::esriSpatialRelWithin, true},
    {"MULTIPOINT((0 0),(5 5))", "MULTIPOINT((0 0),(7 7))", kMultiPoint, platform::esriSpatialRelOverlaps, true},
};

TEST(SpatialSearch, EachRelationOnShapesWithKnownAnswers) {
    TempFolder folder;
    for (std::size_t index = 0; index < std::size(kRelationCases); ++index) {
        const auto& row = kRelationCases[index];
        const auto path = folder.File("case" + std::to_string(index) + ".gpkg");
        WriteGeoPackage(path, {{"t", row.target_type, 0, {row.target}, {}}});
        auto layer = LoadLayer(path, "t");
        const auto found = Found(*layer->Class(), Filter(gis::Shape::FromWkt(row.query), row.relation));
        EXPECT_EQ(found.size() == 1, row.expected)
            << row.query << " " << gis::RelationName(row.relation) << " " << row.target;
    }
}

TEST(SpatialSearch, RelationsThatCanNeverHoldAreRefusedNamingTheShapeTypes) {
    TempFolder folder;
    const auto path = folder.File("gate.gpkg");
    WriteGeoPackage(path, {{"points", kPoint, 0, {"POINT(0 0)"}, {}},
                           {"areas", kPolygon, 0, {"POLYGON((0 0,1 0,1 1,0 1,0 0))"}, {}},
                           {"mixed", 0, 0, {"POINT(0 0)", "POLYGON((0 0,1 0,1 1,0 1,0 0))"}, {}}});
    auto points = LoadLayer(path, "points")->Class();
    auto areas = LoadLayer(path, "areas")->Class();
    auto mixed = LoadLayer(path, "mixed")->Class();
    const auto point = gis::Shape::FromWkt("POINT(0 0)");
    const auto area = gis::Shape::FromWkt("POLYGON((0 0,2 0,2 2,0 2,0 0))");
    const auto line = gis::Shape::FromWkt("LINESTRING(0 0,2 2)");
    const auto refused = [](gis::MemoryFeatureClass& target, const std::shared_ptr<platform::IGeometry>& query,
                            esriSpatialRelEnum relation) {
        try {
            target.Search(Filter(query, relation), false);
        } catch (const platform::Error& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    EXPECT_EQ(refused(*points, point, platform::esriSpatialRelTouches),
              "esriSpatialRelTouches can never hold between a point query shape and the point features of layer "
              "points (table points, file " + path + ")");
    EXPECT_NE(refused(*areas, line, platform::esriSpatialRelOverlaps), "");
    EXPECT_NE(refused(*points, point, platform::esriSpatialRelCrosses), "");
    EXPECT_NE(refused(*areas, area, platform::esriSpatialRelCrosses), "");
    EXPECT_NE(refused(*points, area, platform::esriSpatialRelWithin), "");
    EXPECT_NE(refused(*areas, point, platform::esriSpatialRelContains), "");
    // Relations that can hold, and classes of mixed type, are searched.
    EXPECT_EQ(refused(*areas, line, platform::esriSpatialRelCrosses), "");
    EXPECT_EQ(refused(*areas, point, platform::esriSpatialRelWithin), "");
    EXPECT_EQ(refused(*points, area, platform::esriSpatialRelContains), "");
    EXPECT_EQ(refused(*mixed, point, platform::esriSpatialRelTouches), "");
    // Codes the search does not evaluate, and a filter naming another field.
    EXPECT_NE(refused(*areas, area, platform::esriSpatialRelRelation).find("not supported"), std::string::npos);
    EXPECT_NE(refused(*areas, area, platform::esriSpatialRelIndexIntersects), "");
    EXPECT_THROW(areas->Search(Filter(area, platform::esriSpatialRelIntersects, "other"), false), platform::Error);
    EXPECT_NO_THROW(areas->Search(Filter(area, platform::esriSpatialRelIntersects, "GEOM"), false));
}

std::string RandomPolygon(std::mt19937& random, double extent) {
    std::uniform_real_distribution<double> position(0, extent), size(0.5, extent / 6);
    const double x = position(random), y = position(random), w = size(random), h = size(random);
    // Snapped to a coarse grid so that shared edges and touching corners happen.
    const auto snap = [](double v) { return std::round(v * 2) / 2; };
    return "POLYGON((" + std::to_string(snap(x)) + " " + std::to_string(snap(y)) + "," + std::to_string(snap(x + w)) +
           " " + std::to_string(snap(y)) + "," + std::to_string(snap(x + w)) + " " + std::to_string(snap(y + h)) +
           "," + std::to_string(snap(x)) + " " + std::to_string(snap(y)) + "))";
}

TEST(SpatialSearch, TheIndexedSearchAgreesWithAPlainEvaluationForEveryRelation) {
    std::mt19937 random(20261207);
    std::uniform_real_distribution<double> coordinate(0, 40);
    const auto snap = [](double v) { return std::round(v * 2) / 2; };
    TableSpec targets{"areas", kPolygon, 0, {}, {}};
    TableSpec lines{"lines", kLine, 0, {}, {}};
    TableSpec points{"points", kPoint, 0, {}, {}};
    for (int i = 0; i < 150; ++i) {
        targets.shapes.push_back(RandomPolygon(random, 40));
        const double x1 = snap(coordinate(random)), y1 = snap(coordinate(random));
        const double x2 = x1 + 0.5 + snap(coordinate(random) / 4), y2 = snap(coordinate(random));  // never zero-length
        lines.shapes.push_back("LINESTRING(" + std::to_string(x1) + " " + std::to_string(y1) + "," + std::to_string(x2) +
                               " " + std::to_string(y2) + ")");
        points.shapes.push_back("POINT(" + std::to_string(snap(coordinate(random))) + " " +
                                std::to_string(snap(coordinate(random))) + ")");
    }
    TempFolder folder;
    const auto path = folder.File("random.gpkg");
    WriteGeoPackage(path, {targets, lines, points});
    const std::vector<std::shared_ptr<gis::MemoryFeatureClass>> classes{
        LoadLayer(path, "areas")->Class(), LoadLayer(path, "lines")->Class(), LoadLayer(path, "points")->Class()};

    int compared = 0, matched = 0;
    for (const auto& target : classes) {
        for (const auto& source : classes) {
            for (std::size_t q = 0; q < 40; ++q) {
                auto feature = source->Search(nullptr, false);
                for (std::size_t skip = 0; skip < q; ++skip) feature->NextFeature();
                auto query = feature->NextFeature()->Shape();
                const auto* query_geometry = dynamic_cast<gis::Shape&>(*query).Geometry();
                for (const auto relation : {platform::esriSpatialRelIntersects, platform::esriSpatialRelEnvelopeIntersects,
                                            platform::esriSpatialRelTouches, platform::esriSpatialRelOverlaps,
                                            platform::esriSpatialRelCrosses, platform::esriSpatialRelWithin,
                                            platform::esriSpatialRelContains}) {
                    std::vector<std::int64_t> found;
                    try {
                        found = Found(*target, Filter(query, relation));
                    } catch (const platform::Error&) {
                        continue;  // a relation that cannot hold for these shape types
                    }
                    std::vector<std::int64_t> expected;
                    for (std::size_t row = 0; row < target->RowCount(); ++row) {
                        const auto shape = target->Rows().ShapeAt(row);
                        if (FullRelate(relation, *query_geometry, *shape)) expected.push_back(target->Rows().Fid(row));
                    }
                    ASSERT_EQ(found, expected) << gis::RelationName(relation) << " query " << query_geometry->toString();
                    ++compared;
                    matched += !found.empty();
                }
            }
        }
    }
    EXPECT_GT(compared, 500);
    EXPECT_GT(matched, 200);  // the data is dense enough for the comparison to mean something
}

TEST(SpatialSearch, QueryShapesAreProjectedIntoTheTargetsCoordinateSystem) {
    TempFolder folder;
    const auto path = folder.File("projected.gpkg");
    // A UTM 33N square around (500000, 5000000), and geographic points around it.
    WriteGeoPackage(path, {{"blocks", kPolygon, 32633,
                            {"POLYGON((499000 4999000,501000 4999000,501000 5001000,499000 5001000,499000 4999000))"}, {}},
                           {"places", kPoint, 4326, {"POINT(15.0 45.1535)", "POINT(15.5 45.1535)"}, {}},
                           {"plain", kPoint, 0, {"POINT(500000 5000000)"}, {}}});
    auto blocks = LoadLayer(path, "blocks")->Class();
    auto places = LoadLayer(path, "places")->Class();
    auto inside = places->Search(nullptr, false)->NextFeature()->Shape();
    EXPECT_EQ(Found(*blocks, Filter(inside, platform::esriSpatialRelWithin)), std::vector<std::int64_t>{1});
    // And the other way round: the square, projected to degrees, contains one place.
    auto block = blocks->Search(nullptr, false)->NextFeature()->Shape();
    EXPECT_EQ(Found(*places, Filter(block, platform::esriSpatialRelContains)), std::vector<std::int64_t>{1});
    // A class without a spatial reference takes shapes as they are.
    auto plain = LoadLayer(path, "plain")->Class();
    EXPECT_EQ(Found(*plain, Filter(block, platform::esriSpatialRelContains)), std::vector<std::int64_t>{1});
}

TEST(SpatialSearch, NullAndEmptyShapesMatchNothing) {
    TempFolder folder;
    const auto path = folder.File("null.gpkg");
    WriteGeoPackage(path, {{"t", kPolygon, 0, {"", "POLYGON EMPTY", "POLYGON((0 0,1 0,1 1,0 1,0 0))"}, {}}});
    auto target = LoadLayer(path, "t")->Class();
    EXPECT_EQ(target->FeatureCount(nullptr), 3);
    const auto everything = gis::Shape::FromWkt("POLYGON((-9 -9,9 -9,9 9,-9 9,-9 -9))");
    EXPECT_EQ(Found(*target, Filter(everything, platform::esriSpatialRelEnvelopeIntersects)), std::vector<std::int64_t>{3});
    EXPECT_TRUE(Found(*target, Filter(gis::Shape::FromWkt("POINT EMPTY"), platform::esriSpatialRelIntersects)).empty());
    EXPECT_TRUE(Found(*target, Filter(nullptr, platform::esriSpatialRelIntersects)).empty());
}

TEST(SpatialSearch, AnIndexOfPointsHoldsEveryPointAndNoNullOrEmptyRow) {
    // A table of points alone is indexed without asking about each row; one with a null or
    // an empty row asks, and leaves those out. Either way a search finds exactly the points.
    TempFolder folder;
    const auto path = folder.File("points.gpkg");
    const std::vector<std::string> plain{"POINT(0 0)", "POINT(1 1)", "POINT(2 2)", "POINT(3 3)"};
    std::vector<std::string> mixed{"", "POINT(0 0)", "POINT EMPTY", "POINT(1 1)", "", "POINT(2 2)", "POINT(3 3)",
                                   "POINT EMPTY"};
    WriteGeoPackage(path, {{"plain", kPoint, 0, plain, {}}, {"mixed", kPoint, 0, mixed, {}}});
    const auto everything = gis::Shape::FromWkt("POLYGON((-9 -9,9 -9,9 9,-9 9,-9 -9))");
    const auto lower = gis::Shape::FromWkt("POLYGON((-1 -1,1.5 -1,1.5 1.5,-1 1.5,-1 -1))");
    // The empty and null rows would sit at the origin, or nowhere, if they were indexed.
    const auto origin = gis::Shape::FromWkt("POLYGON((-0.5 -0.5,0.5 -0.5,0.5 0.5,-0.5 0.5,-0.5 -0.5))");
    for (const auto relation : {platform::esriSpatialRelEnvelopeIntersects, platform::esriSpatialRelIntersects}) {
        auto table = LoadLayer(path, "plain")->Class();
        EXPECT_EQ(Found(*table, Filter(everything, relation)), (std::vector<std::int64_t>{1, 2, 3, 4}));
        EXPECT_EQ(Found(*table, Filter(lower, relation)), (std::vector<std::int64_t>{1, 2}));
        table = LoadLayer(path, "mixed")->Class();
        EXPECT_EQ(table->FeatureCount(nullptr), 8);
        EXPECT_EQ(Found(*table, Filter(everything, relation)), (std::vector<std::int64_t>{2, 4, 6, 7}));
        EXPECT_EQ(Found(*table, Filter(lower, relation)), (std::vector<std::int64_t>{2, 4}));
        EXPECT_EQ(Found(*table, Filter(origin, relation)), std::vector<std::int64_t>{2});
    }
}

TEST(SpatialSearch, ObjectIdsAreTheRowsOwnWhetherTheyCountUpOrNot) {
    // Ids that count up one a row are kept as runs, each its first row and id, while the
    // runs are few (a 64-row table: four); any others as they are.
    const auto max = std::numeric_limits<std::int64_t>::max();
    const auto min = std::numeric_limits<std::int64_t>::min();
    std::vector<std::vector<std::int64_t>> tables = {
        {7, 8, 9, 10}, {1, 3, 4, 5}, {5, 4, 3, 2}, {-2, -1, 0, 1}, {max - 3, max - 2, max - 1, max},
        {min, min + 1, min + 2, min + 3}, {max, min, min + 1, min + 2}, {1, 2, 3, 2000}};
    const auto runs = [](std::vector<std::pair<std::int64_t, int>> starts) {
        std::vector<std::int64_t> fids;
        for (const auto& [first, length] : starts) {
            for (int index = 0; index < length; ++index) fids.push_back(first + index);
        }
        return fids;
    };
    tables.push_back(runs({{1, 20}, {100, 20}, {50, 24}}));                     // three runs, one down
    tables.push_back(runs({{1, 2}, {10, 1}, {20, 1}, {30, 30}}));               // four, two of one row
    tables.push_back(runs({{1, 10}, {20, 10}, {40, 10}, {60, 10}, {80, 24}}));  // five: a vector
    tables.push_back(runs({{max - 31, 32}, {min, 32}}));                        // the ends of the range
    tables.push_back(runs({{-40, 40}, {0, 24}}));  // -1 then 0: one run across zero
    // Runs that share ids: the smallest shared one is named, as when the ids are a vector.
    const std::vector<std::pair<std::vector<std::int64_t>, std::int64_t>> shared = {
        {runs({{1, 40}, {30, 24}}), 30},
        {runs({{1, 40}, {40, 24}}), 40},  // the last of one run, the first of the next
        {runs({{1, 40}, {10, 5}, {60, 19}}), 10},
        {runs({{50, 30}, {1, 20}, {60, 14}}), 60},
        {runs({{max - 31, 32}, {max - 31, 32}}), max - 31},
        {{5, 6, 7, 5}, 5}};
    for (const auto& [fids, duplicate] : shared) {
        try {
            gis::MemoryFeatureClass("points", "geom", gis::ShapeDimension::Point, nullptr, fids,
                                    std::vector<std::unique_ptr<geos::geom::Geometry>>(fids.size()));
            ADD_FAILURE() << "ids shared by rows passed: " << ::testing::PrintToString(fids);
        } catch (const platform::Error& error) {
            EXPECT_NE(std::string(error.what()).find("gives the object id " + std::to_string(duplicate) + " to more"),
                      std::string::npos)
                << error.what();
        }
    }
    for (const auto& fids : tables) {
        SCOPED_TRACE(::testing::PrintToString(fids));
        std::vector<std::unique_ptr<geos::geom::Geometry>> shapes;
        for (std::size_t row = 0; row < fids.size(); ++row) {
            shapes.push_back(gis::Shape::FromWkt("POINT(" + std::to_string(row) + " 0)")->Geometry()->clone());
        }
        auto points = std::make_shared<gis::MemoryFeatureClass>("points", "geom", gis::ShapeDimension::Point, nullptr,
                                                                fids, std::move(shapes));
        for (std::size_t row = 0; row < fids.size(); ++row) {
            EXPECT_EQ(points->Rows().Fid(row), fids[row]);
            EXPECT_EQ(points->RowsByFid().at(fids[row]), row);
        }
        // Found features carry their rows' ids: the points from the third to the tenth.
        const auto right = gis::Shape::FromWkt("POLYGON((1.5 -1,9.5 -1,9.5 1,1.5 1,1.5 -1))");
        auto found = Found(*points, Filter(right, platform::esriSpatialRelIntersects));
        std::sort(found.begin(), found.end());
        std::vector<std::int64_t> expected(fids.begin() + 2, fids.begin() + std::min<std::size_t>(fids.size(), 10));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }
}

TEST(SpatialSearch, AnInvalidPolygonFailsTheCursorNamingTheLayerAndFid) {
    TempFolder folder;
    const auto path = folder.File("invalid.gpkg");
    WriteGeoPackage(path, {{"t", kPolygon, 0,
                            {"POLYGON((0 0,1 0,1 1,0 1,0 0))", "POLYGON((0 0,2 2,2 0,0 2,0 0))"}, {}}});
    auto target = LoadLayer(path, "t")->Class();
    const auto query = gis::Shape::FromWkt("POLYGON((-1 -1,3 -1,3 3,-1 3,-1 -1))");
    // The search opens; the bad shape is reported as the cursor reaches it.
    auto cursor = target->Search(Filter(query, platform::esriSpatialRelContains), false);
    EXPECT_EQ(cursor->NextFeature()->OID(), 1);
    try {
        cursor->NextFeature();
        FAIL() << "the invalid shape passed silently";
    } catch (const platform::Error& error) {
        // The map layer the user knows, the table and the file.
        EXPECT_EQ(std::string(error.what()).rfind("Invalid shape in layer t (table t, file " + path + "), FID 2: Self-intersection", 0), 0u) << error.what();
    }
    // The envelope test needs no valid shape.
    EXPECT_EQ(Found(*target, Filter(query, platform::esriSpatialRelEnvelopeIntersects)),
              (std::vector<std::int64_t>{1, 2}));
}

TEST(SpatialSearch, TheLayerAppliesItsDefinitionQueryAndTheClassDoesNot) {
    TempFolder folder;
    const auto path = folder.File("query.gpkg");
    WriteGeoPackage(path, {{"t", kPoint, 0, {"POINT(0 0)", "POINT(1 1)", "POINT(2 2)"}, {"a", "b", "a"}}});
    auto layer = LoadLayer(path, "t", "t", "zone = 'a'");
    const auto all = gis::Shape::FromWkt("POLYGON((-1 -1,3 -1,3 3,-1 3,-1 -1))");
    std::vector<std::int64_t> shown;
    auto cursor = layer->Search(nullptr, true);
    while (auto feature = cursor->NextFeature()) shown.push_back(feature->OID());
    EXPECT_EQ(shown, (std::vector<std::int64_t>{1, 3}));
    std::vector<std::int64_t> shown_inside;
    auto spatial = layer->Search(Filter(all, platform::esriSpatialRelContains), false);
    while (auto feature = spatial->NextFeature()) shown_inside.push_back(feature->OID());
    EXPECT_EQ(shown_inside, (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(layer->Class()->FeatureCount(nullptr), 3);
    EXPECT_EQ(Found(*layer->Class(), Filter(all, platform::esriSpatialRelContains)), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_THROW(LoadLayer(path, "t", "t", "no_such_field = 1"), platform::Error);
}

TEST(SpatialSearch, SearchesOfAScansShapesAnsweredAheadKeepToTheLayersDefinitionQuery) {
    // Points i = 0..39 at (i, i % 3), those of even i in zone 'a'; square k holds points k
    // and k + 1. Each search of a scanned square is answered ahead on a second thread.
    TempFolder folder;
    const auto path = folder.File("ahead.gpkg");
    TableSpec points{"t", kPoint, 0, {}, {}};
    TableSpec squares{"q", 0, 0, {}, {}};
    const int count = 40;
    for (int i = 0; i < count; ++i) {
        points.shapes.push_back("POINT(" + std::to_string(i) + " " + std::to_string(i % 3) + ")");
        points.zones.push_back(i % 2 == 0 ? "a" : "b");
        const auto low = std::to_string(i - 0.5), high = std::to_string(i + 1.5);
        squares.shapes.push_back("POLYGON((" + low + " -1," + high + " -1," + high + " 3," + low + " 3," + low + " -1))");
    }
    WriteGeoPackage(path, {points, squares});
    auto layer = LoadLayer(path, "t", "t", "zone = 'a'");
    auto queries = LoadLayer(path, "q", "q");
    for (const auto relation : {platform::esriSpatialRelIntersects, platform::esriSpatialRelContains}) {
        auto scan = queries->Class()->Search(nullptr, false);
        int k = 0;
        while (auto square = scan->NextFeature()) {
            SCOPED_TRACE("square " + std::to_string(k));
            std::vector<std::int64_t> expected;
            for (const int i : {k, k + 1}) {
                if (i < count && i % 2 == 0) expected.push_back(i + 1);
            }
            std::vector<std::int64_t> found;
            auto cursor = layer->Search(Filter(square->Shape(), relation), false);
            while (auto feature = cursor->NextFeature()) found.push_back(feature->OID());
            std::sort(found.begin(), found.end());
            EXPECT_EQ(found, expected);
            ++k;
        }
        EXPECT_EQ(k, count);
    }
}

TEST(SpatialSearch, ScanSearchesOfEverySizeAroundTheLookAheadAndTheKeptRoomAnswerAsGeos) {
    // Along the x axis, target i is a point at (i, 0), a rectangle [i, i + 0.5] x [0, 0.5]
    // and a line from (i, 0) to (i + 0.5, 0.5). A query box from -0.25 to n - 0.75 finds
    // n targets of each: n runs over the edges of the rows asked for ahead (4, 8) and of
    // the room a thread keeps between searches (4,096), with a small search after each.
    constexpr int kTargets = 4200;
    TableSpec points{"points", kPoint, 0, {}, {}};
    TableSpec boxes{"boxes", kPolygon, 0, {}, {}};
    TableSpec lines{"lines", kLine, 0, {}, {}};
    for (int i = 0; i < kTargets; ++i) {
        const auto x = std::to_string(i), x1 = std::to_string(i + 0.5);
        points.shapes.push_back("POINT(" + x + " 0)");
        boxes.shapes.push_back("POLYGON((" + x + " 0," + x1 + " 0," + x1 + " 0.5," + x + " 0.5," + x + " 0))");
        lines.shapes.push_back("LINESTRING(" + x + " 0," + x1 + " 0.5)");
    }
    TableSpec queries{"queries", kPolygon, 0, {}, {}};
    for (const int n : {0, 1, 4, 5, 8, 9, 1, 4096, 2, 4097, 3}) {
        const auto low = std::to_string(-0.25), high = std::to_string(n - 0.75);
        queries.shapes.push_back("POLYGON((" + low + " -1," + high + " -1," + high + " 1," + low + " 1," + low + " -1))");
    }
    TempFolder folder;
    const auto path = folder.File("sizes.gpkg");
    WriteGeoPackage(path, {points, boxes, lines, queries});
    auto query_layer = LoadLayer(path, "queries", "queries");
    for (const char* table : {"points", "boxes", "lines"}) {
        auto targets = LoadLayer(path, table, table);
        for (const auto relation : {platform::esriSpatialRelIntersects, platform::esriSpatialRelContains}) {
            auto scan = query_layer->Class()->Search(nullptr, false);
            int k = 0;
            while (auto query = scan->NextFeature()) {
                SCOPED_TRACE(std::string(table) + ", query " + std::to_string(k++));
                const auto query_shape = gis::Shape::FromWkt(queries.shapes[static_cast<std::size_t>(k - 1)]);
                const auto* geometry = query_shape->Geometry();
                std::vector<std::int64_t> expected;
                for (std::size_t row = 0; row < targets->Class()->RowCount(); ++row) {
                    const auto target = targets->Class()->Rows().ShapeAt(row);
                    const bool holds = relation == platform::esriSpatialRelIntersects ? geometry->intersects(target.get())
                                                                                       : geometry->contains(target.get());
                    if (holds) expected.push_back(targets->Class()->Rows().Fid(row));
                }
                std::vector<std::int64_t> found;
                auto cursor = targets->Search(Filter(query->Shape(), relation), false);
                while (auto feature = cursor->NextFeature()) found.push_back(feature->OID());
                std::sort(found.begin(), found.end());
                EXPECT_EQ(found, expected);
            }
            EXPECT_EQ(k, 11);
        }
    }
}

TEST(SpatialSearch, RecyclingCursorsReuseOneFeatureAndSelectionsKeepEachFeatureOnce) {
    TempFolder folder;
    const auto path = folder.File("recycle.gpkg");
    WriteGeoPackage(path, {{"t", kPoint, 0, {"POINT(0 0)", "POINT(1 1)"}, {}}});
    auto layer = LoadLayer(path, "t");
    auto recycling = layer->Search(nullptr, true);
    auto first = recycling->NextFeature();
    auto second = recycling->NextFeature();
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->OID(), 2);
    auto fresh = layer->Search(nullptr, false);
    auto a = fresh->NextFeature();
    auto b = fresh->NextFeature();
    EXPECT_NE(a, b);
    layer->Add(a);
    layer->Add(a);
    layer->Add(b);
    EXPECT_EQ(layer->Selection().Count(), 2u);
    auto other = LoadLayer(path, "t", "other");
    EXPECT_THROW(other->Add(a), platform::Error);  // a feature of another class
}

TEST(SpatialSearch, APointTableIsKeptAsCoordinatesAndAnsweredAsGeosPointsWouldBe) {
    TempFolder folder;
    const auto path = folder.File("plain.gpkg");
    // Points inside, on the edge, on a corner, in the hole and outside of a square with a
    // hole; a row without a shape and an empty point.
    const std::vector<std::string> wells{"POINT(1 1)", "POINT(0 2)", "POINT(4 4)", "",         "POINT(2 2)",
                                         "POINT EMPTY", "POINT(5 1)", "POINT(1.5 2)", "POINT(3 3)"};
    WriteGeoPackage(path, {{"wells", kPoint, 0, wells, {}},
                           {"mixed", 0, 0, {"POINT(1 1)", "LINESTRING(0 0,4 4)"}, {}},
                           {"squares", kPolygon, 0,
                            {"POLYGON((0 0,4 0,4 4,0 4,0 0),(1.5 1.5,2.5 1.5,2.5 2.5,1.5 2.5,1.5 1.5))",
                             "POLYGON((1 1,3 1,3 3,1 3,1 1))"},
                            {}}});
    const auto points = LoadLayer(path, "wells")->Class();
    ASSERT_EQ(points->RowCount(), wells.size());
    for (std::size_t row = 0; row < wells.size(); ++row) {
        const auto shape = points->Rows().ShapeAt(row);
        if (wells[row].empty()) {
            EXPECT_FALSE(shape);
            EXPECT_EQ(points->Rows().PlainPointAt(row), nullptr);
        } else if (wells[row] == "POINT EMPTY") {
            ASSERT_TRUE(shape);
            EXPECT_TRUE(shape->isEmpty());
            EXPECT_EQ(points->Rows().PlainPointAt(row), nullptr);
        } else {
            ASSERT_NE(points->Rows().PlainPointAt(row), nullptr) << wells[row];
            ASSERT_TRUE(shape);
            EXPECT_TRUE(shape->equalsExact(gis::Shape::FromWkt(wells[row])->Geometry())) << shape->toString();
        }
    }
    // A table of points and other shapes keeps each as its bytes, the point too.
    const auto mixed = LoadLayer(path, "mixed")->Class();
    ASSERT_EQ(mixed->RowCount(), 2u);
    EXPECT_EQ(mixed->Rows().PlainPointAt(0), nullptr);
    EXPECT_TRUE(mixed->Rows().ShapeAt(0)->equalsExact(gis::Shape::FromWkt("POINT(1 1)")->Geometry()));
    EXPECT_EQ(mixed->Rows().NonEmptyDimensionAt(0), gis::ShapeDimension::Point);

    // Every relation that can hold, the points as targets and as query shapes, as GEOS's
    // relate says.
    const auto squares = LoadLayer(path, "squares")->Class();
    const auto compare = [](const std::shared_ptr<gis::MemoryFeatureClass>& queries,
                            const std::shared_ptr<gis::MemoryFeatureClass>& targets,
                            std::initializer_list<esriSpatialRelEnum> relations) {
        for (const auto relation : relations) {
            for (std::size_t q = 0; q < queries->RowCount(); ++q) {
                const auto shape = queries->Rows().ShapeAt(q);
                if (!shape || shape->isEmpty()) continue;
                const auto query = std::make_shared<gis::Shape>(shape->clone(), nullptr);
                std::vector<std::int64_t> expected;
                for (std::size_t row = 0; row < targets->RowCount(); ++row) {
                    const auto target = targets->Rows().ShapeAt(row);
                    if (target && FullRelate(relation, *shape, *target)) expected.push_back(targets->Rows().Fid(row));
                }
                EXPECT_EQ(Found(*targets, Filter(query, relation)), expected)
                    << gis::RelationName(relation) << " " << shape->toString();
            }
        }
    };
    compare(squares, points,
            {platform::esriSpatialRelIntersects, platform::esriSpatialRelEnvelopeIntersects,
             platform::esriSpatialRelTouches, platform::esriSpatialRelContains});
    compare(points, squares,
            {platform::esriSpatialRelIntersects, platform::esriSpatialRelEnvelopeIntersects,
             platform::esriSpatialRelTouches, platform::esriSpatialRelWithin});
    compare(points, points, {platform::esriSpatialRelIntersects, platform::esriSpatialRelWithin});
    // A search whose query point came from a recycling cursor keeps answering for that
    // point after the cursor has moved on to the next (a cursor of a search: no scan whose
    // rows are answered ahead).
    const auto everything = gis::Shape::FromWkt("POLYGON((-9 -9,9 -9,9 9,-9 9,-9 -9))");
    auto scan = points->Search(Filter(everything, platform::esriSpatialRelIntersects), true);
    const auto first = scan->NextFeature();
    auto found = squares->Search(Filter(first->Shape(), platform::esriSpatialRelIntersects), true);
    scan->NextFeature();
    scan->NextFeature();  // (4 4): the second square is not under it, the first is
    std::vector<std::int64_t> squares_found;
    while (auto feature = found->NextFeature()) squares_found.push_back(feature->OID());
    EXPECT_EQ(squares_found, (std::vector<std::int64_t>{1, 2}));  // under (1 1): both
}

TEST(SpatialSearch, ShapesKeptAsTheirBytesAreMadeAsTheyWereReadAndFollowARecycledFeature) {
    TempFolder folder;
    const auto path = folder.File("stored.gpkg");
    const std::vector<std::string> shapes{
        "POLYGON((0 0,2 0,2 1,0 1,0 0))",       "POLYGON((2 1,2 0,0 0,0 1,2 1))",
        "POLYGON((0 0,1 0,2 0,2 1,0 1,0 0))",   "POLYGON Z((0 0 1,3 0 2,3 3 3,0 0 1))",
        "MULTIPOLYGON(((5 5,6 5,6 6,5 5)),((7 7,8 7,8 8,7 7)))",
        "LINESTRING(0 0,3 4)",                  "MULTILINESTRING((0 0,1 1),(5 5,6 7))",
        "GEOMETRYCOLLECTION(POINT(1 1),LINESTRING(1 1,2 3))",
        "",                                     "POLYGON EMPTY",
        "GEOMETRYCOLLECTION EMPTY",             "POINT EMPTY",
        "POINT(-1 -2)"};
    WriteGeoPackage(path, {{"things", 0, 0, shapes, {}}});
    const auto things = LoadLayer(path, "things")->Class();
    ASSERT_EQ(things->RowCount(), shapes.size());
    geos::io::WKTReader reader(gis::Shape::Factory());
    for (std::size_t row = 0; row < shapes.size(); ++row) {
        SCOPED_TRACE(shapes[row]);
        const auto shape = things->Rows().ShapeAt(row);
        if (shapes[row].empty()) {
            EXPECT_FALSE(shape);
            EXPECT_FALSE(things->Rows().NonEmptyDimensionAt(row));
            continue;
        }
        const auto expected = reader.read(shapes[row]);
        ASSERT_TRUE(shape);
        EXPECT_EQ(shape->getGeometryType(), expected->getGeometryType());
        EXPECT_EQ(shape->getCoordinateDimension(), expected->getCoordinateDimension());
        EXPECT_TRUE(shape->equalsExact(expected.get())) << shape->toString();
        EXPECT_EQ(shape->isEmpty(), expected->isEmpty());
        EXPECT_EQ(things->Rows().NonEmptyDimensionAt(row),
                  expected->isEmpty() ? std::nullopt : std::optional(gis::DimensionOf(*expected)));
        EXPECT_EQ(things->Rows().EnvelopeAt(row), *expected->getEnvelopeInternal());
        const auto box = things->Rows().RectangleAt(row);
        EXPECT_EQ(box.has_value(), row < 2);
        if (box) {
            EXPECT_EQ(*box, geos::geom::Envelope(0, 2, 0, 1));
        }
    }
    // A recycled feature: a shape handed out follows the feature; one not asked for is
    // made when it is, for the row the feature is on then.
    auto scan = things->Search(nullptr, true);
    const auto feature = scan->NextFeature();
    const auto held = feature->Shape();
    scan->NextFeature();
    scan->NextFeature();
    const auto* geometry = static_cast<gis::Shape&>(*held).Geometry();
    ASSERT_NE(geometry, nullptr);
    EXPECT_TRUE(geometry->equalsExact(reader.read(shapes[2]).get()));
    auto search = things->Search(
        Filter(gis::Shape::FromWkt("POLYGON((4 4,9 4,9 9,4 9,4 4))"), platform::esriSpatialRelIntersects), true);
    ASSERT_EQ(search->NextFeature()->OID(), 5);
    const auto found = search->NextFeature();  // the same feature, moved on
    ASSERT_TRUE(found);
    EXPECT_EQ(found->OID(), 7);
    EXPECT_TRUE(static_cast<gis::Shape&>(*found->Shape()).Geometry()->equalsExact(reader.read(shapes[6]).get()));
    EXPECT_FALSE(search->NextFeature());
}

TEST(SpatialSearch, ALayerHandsADrawingSamplesForShapesSmallerThanACellWithoutMakingThem) {
    TempFolder folder;
    const auto path = folder.File("draw.gpkg");
    WriteGeoPackage(path, {{"things", 0, 0,
                            {"POLYGON((1 1,1.5 1,1.5 1.25,1 1))", "POLYGON((0 0,5 0,5 5,0 0))", "POINT(2 2)", "",
                             "LINESTRING(3 3,3.5 3.75)", "POLYGON EMPTY"},
                            {}}});
    auto layer = LoadLayer(path, "things");
    const auto read = [&](double cell, bool selected_only, const geos::geom::Envelope& box) {
        std::vector<std::string> seen;
        geos::io::WKTWriter writer;
        writer.setTrim(true);
        geos::io::WKBReader bytes;
        layer->ReadShapes({box, cell, selected_only}, [&](const gis::ShapeInView& in_view) {
            // A shape comes as itself, its bytes, or (a point) its box.
            std::unique_ptr<geos::geom::Geometry> made;
            if (!in_view.shape && !in_view.wkb.empty()) made = bytes.read(in_view.wkb.data(), in_view.wkb.size());
            if (!in_view.shape && !made) {
                ASSERT_EQ(in_view.box.getMinX(), in_view.box.getMaxX());
                ASSERT_EQ(in_view.box.getMinY(), in_view.box.getMaxY());
                made.reset(gis::Shape::Factory().createPoint(
                    geos::geom::Coordinate(in_view.box.getMinX(), in_view.box.getMinY())));
            }
            const auto* shape = in_view.shape ? in_view.shape : made.get();
            EXPECT_TRUE(in_view.box.equals(shape->getEnvelopeInternal())) << writer.write(shape);
            seen.push_back((in_view.sample ? "sample " : "") + writer.write(shape));
        });
        return seen;
    };
    const geos::geom::Envelope everything(-10, 10, -10, 10);
    // Each shape once (none for the null and the empty one); the small polygon and line as
    // samples at the lower left of their envelopes, points and larger shapes as themselves.
    const std::vector<std::string> with_cells = read(1, false, everything);
    ASSERT_EQ(with_cells.size(), 4u);
    EXPECT_EQ(std::count(with_cells.begin(), with_cells.end(), "sample POINT (1 1)"), 1);
    EXPECT_EQ(std::count(with_cells.begin(), with_cells.end(), "sample POINT (3 3)"), 1);
    EXPECT_EQ(std::count(with_cells.begin(), with_cells.end(), "POINT (2 2)"), 1);
    EXPECT_EQ(std::count(with_cells.begin(), with_cells.end(), "POLYGON ((0 0, 5 0, 5 5, 0 0))"), 1);
    // Without a cell, every shape as itself.
    const auto whole = read(0, false, everything);
    EXPECT_EQ(std::count_if(whole.begin(), whole.end(), [](const std::string& seen) { return seen.rfind("sample", 0) == 0; }), 0);
    // A selection's rows outside the box are left out, sampled or not.
    auto cursor = layer->Search(nullptr, false);
    while (auto feature = cursor->NextFeature()) layer->Add(feature);
    EXPECT_EQ(read(1, true, geos::geom::Envelope(0.9, 1.2, 0.9, 1.1)),
              (std::vector<std::string>{"sample POINT (1 1)", "POLYGON ((0 0, 5 0, 5 5, 0 0))"}));
}

TEST(SpatialSearch, AClassWalksItsRowsInSlicesAndNamesTheFirstRowWithANonFiniteCoordinate) {
    // Around the count of rows at which the walk of their bytes takes a second thread: none,
    // one, one short of it, it, and one more. A unit square a row, some with a NaN corner.
    const auto squares = [](std::size_t count, const std::vector<std::size_t>& spoiled) {
        std::vector<std::int64_t> fids;
        std::vector<std::unique_ptr<geos::geom::Geometry>> shapes;
        const auto& factory = gis::Shape::Factory();
        for (std::size_t row = 0; row < count; ++row) {
            const double x = static_cast<double>(row);
            const double corner = std::count(spoiled.begin(), spoiled.end(), row) ? std::nan("") : x + 1;
            auto ring = std::make_unique<geos::geom::CoordinateArraySequence>();
            for (const auto& [px, py] : {std::pair{x, 0.0}, {corner, 0.0}, {x + 1, 1.0}, {x, 1.0}, {x, 0.0}}) {
                ring->add(geos::geom::Coordinate(px, py));
            }
            fids.push_back(static_cast<std::int64_t>(row) + 1);
            shapes.push_back(factory.createPolygon(factory.createLinearRing(std::move(ring))));
        }
        return std::make_shared<gis::MemoryFeatureClass>("squares", "geom", gis::ShapeDimension::Area, nullptr,
                                                         std::move(fids), std::move(shapes));
    };
    const auto first_not_finite = [](const gis::MemoryFeatureClass& squares_class) {
        try {
            squares_class.RequireAllFinite();
        } catch (const platform::Error& error) {
            return std::string(error.what());
        }
        return std::string("all finite");
    };
    for (const std::size_t count : {0, 1, 19999, 20000, 20001}) {
        SCOPED_TRACE(count);
        const auto whole = squares(count, {});
        EXPECT_EQ(whole->RowCount(), count);
        EXPECT_EQ(first_not_finite(*whole), "all finite");
        if (count == 0) continue;
        // The last row alone, then rows on both sides of the slices' border as well.
        EXPECT_NE(first_not_finite(*squares(count, {count - 1})).find("FID " + std::to_string(count) + ": a coordinate"),
                  std::string::npos);
        if (count < 3) continue;
        EXPECT_NE(first_not_finite(*squares(count, {count - 1, count / 2 + 1, count / 2}))
                      .find("FID " + std::to_string(count / 2 + 1) + ": a coordinate"),
                  std::string::npos);
    }
}

TEST(SpatialSearch, ALargeSearchSpreadOverTheCoresAnswersAsOneThreadWouldAndFailsInRowOrder) {
    // 80 x 80 unit squares sharing edges; one in the middle is a bow tie.
    std::vector<std::string> squares;
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 80; ++x) {
            squares.push_back("POLYGON((" + std::to_string(x) + " " + std::to_string(y) + "," + std::to_string(x + 1) +
                              " " + std::to_string(y) + "," + std::to_string(x + 1) + " " + std::to_string(y + 1) +
                              "," + std::to_string(x) + " " + std::to_string(y + 1) + "," + std::to_string(x) + " " +
                              std::to_string(y) + "))");
        }
    }
    TempFolder folder;
    const auto path = folder.File("grid.gpkg");
    WriteGeoPackage(path, {{"grid", 3, 0, squares, {}}});
    auto grid = LoadLayer(path, "grid")->Class();
    // A diamond over most of the grid: thousands of candidates, some inside, some touching;
    // a vertex at every grid point of its edges makes it a large area, answered on each
    // thread by the shortcuts of one.
    std::string ring;
    const int corners[][2] = {{40, 2}, {78, 40}, {40, 78}, {2, 40}};
    for (int side = 0; side < 4; ++side) {
        const auto* from = corners[side];
        const auto* to = corners[(side + 1) % 4];
        for (int step = 0; step < 38; ++step) {
            ring += std::to_string(from[0] + (to[0] - from[0]) / 38 * step) + " " +
                    std::to_string(from[1] + (to[1] - from[1]) / 38 * step) + ",";
        }
    }
    const auto query = gis::Shape::FromWkt("POLYGON((" + ring + "40 2))");
    ASSERT_TRUE(gis::IsLargeArea(*query->Geometry()));
    for (const auto relation : {platform::esriSpatialRelIntersects, platform::esriSpatialRelTouches,
                                platform::esriSpatialRelOverlaps, platform::esriSpatialRelContains}) {
        std::vector<std::int64_t> expected;
        for (std::size_t row = 0; row < grid->RowCount(); ++row) {
            if (FullRelate(relation, *query->Geometry(), *grid->Rows().ShapeAt(row))) expected.push_back(grid->Rows().Fid(row));
        }
        EXPECT_EQ(Found(*grid, Filter(query, relation)), expected) << gis::RelationName(relation);
        EXPECT_GT(expected.size(), 0u);
    }

    squares[3240] = "POLYGON((40 40,41 41,41 40,40 41,40 40))";
    WriteGeoPackage(folder.File("bad.gpkg"), {{"grid", 3, 0, squares, {}}});
    auto bad = LoadLayer(folder.File("bad.gpkg"), "grid")->Class();
    auto cursor = bad->Search(Filter(query, platform::esriSpatialRelIntersects), false);
    std::int64_t last = 0;
    try {
        while (auto feature = cursor->NextFeature()) last = feature->OID();
        FAIL() << "the bow tie passed";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("FID 3241: Self-intersection"), std::string::npos) << error.what();
    }
    EXPECT_EQ(last, 3240);  // every candidate before it was handed out first
}

}  // namespace
}  // namespace selvane::testing
