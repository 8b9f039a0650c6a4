// The desktop draws a database layer as it draws the same rows read from a file.

#include <gtest/gtest.h>

#include <QImage>

#include <bit>
#include <cstring>
#include <utility>
#include <vector>

#include "desktop/map_renderer.h"
#include "gis/files/file_source.h"
#include "gis/model/map.h"
#include "gis/postgis/point_array.h"
#include "gis/shards/sharded_layer.h"
#include "spread_rows.h"
#include "test_database.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

struct Drawn {
    QImage picture;
    desktop::RenderStats layers;
    desktop::RenderStats selection;
};

// Selects in `layers` (Layer #2 "blocks" INTERSECT Layer #1 "query") and draws them at the
// full extent into 400×300 pixels.
Drawn SelectAndDraw(std::vector<std::shared_ptr<platform::ILayer>> layers) {
    HostedMap hosted(layers);
    hosted.Open();
    hosted.Select("blocks", "INTERSECT", "query");
    EXPECT_TRUE(hosted.messages.texts.empty()) << hosted.messages.texts.front();
    desktop::MapRenderer renderer;
    renderer.SetMap(hosted.map);
    const desktop::Viewport viewport{renderer.FullExtent(), QSize(400, 300)};
    Drawn drawn{QImage(viewport.pixels, QImage::Format_RGB32), {}, {}};
    drawn.layers = renderer.RenderLayers(drawn.picture, viewport);
    drawn.selection = renderer.RenderSelection(drawn.picture, viewport);
    return drawn;
}

TEST(DesktopPostgis, ADatabaseLayerIsDrawnPixelForPixelAsTheSameRowsFromAFile) {
    // Blocks large enough to be drawn as shapes, one query shape that selects some of them,
    // and a definition query that hides one block from the layer.
    TableSpec blocks{"blocks", 3, 3857, {}, {}};
    for (int x = 0; x < 6; ++x) {
        for (int y = 0; y < 4; ++y) {
            blocks.shapes.push_back(Square(x * 100.0, y * 100.0, 80));
            blocks.zones.push_back(x == 5 && y == 3 ? "hidden" : "shown");
        }
    }
    TableSpec query{"query", 3, 3857, {Square(150, 150, 200)}, {"q"}};
    TempFolder folder;
    const auto file = folder.File("drawn.gpkg");
    WriteGeoPackage(file, {blocks, query});
    TestDatabase database("drawn");
    database.WriteTable(blocks);
    database.WriteTable(query);

    const auto from_file = SelectAndDraw(
        {LoadLayer(file, "blocks", "blocks", "zone = 'shown'"), LoadLayer(file, "query", "query")});
    const auto from_database =
        SelectAndDraw({database.Layer("blocks", "blocks", "zone = 'shown'"), database.Layer("query")});

    EXPECT_TRUE(from_database.layers.problem.empty()) << from_database.layers.problem;
    EXPECT_EQ(from_database.layers.features_drawn, 24u);  // 23 blocks and the query shape
    EXPECT_EQ(from_database.selection.selected_drawn, from_file.selection.selected_drawn);
    EXPECT_EQ(from_database.selection.selected_drawn, 9u);
    EXPECT_EQ(from_database.picture, from_file.picture);
    // The picture is of the blocks: the selection's colour inside a selected block, the
    // background where the hidden block would be.
    const QColor selected = from_database.picture.pixelColor(200, 150);
    EXPECT_GT(selected.green(), 150);
    EXPECT_GT(selected.blue(), 150);
    EXPECT_EQ(from_database.picture.pixelColor(385, 20), QColor(Qt::white));
}

TEST(DesktopPostgis, ATableSpreadOverServersIsDrawnPixelForPixelAsTheSameRowsInOneTable) {
    // Blocks and points, each part's drawn by its own server (points by ranges of its
    // table's blocks), the selection among the blocks on every part.
    TableSpec blocks{"blocks", 3, 3857, {}, {}};
    TableSpec points{"points", 1, 3857, {}, {}};
    for (int x = 0; x < 6; ++x) {
        for (int y = 0; y < 4; ++y) {
            blocks.shapes.push_back(Square(x * 100.0, y * 100.0, 80));
            blocks.zones.push_back(x == 5 && y == 3 ? "hidden" : "shown");
        }
    }
    for (int index = 0; index < 3000; ++index) {
        points.shapes.push_back("POINT(" + std::to_string(index % 60 * 10 + 5) + " " + std::to_string(index / 60 * 8 + 2) + ")");
        points.zones.push_back("p");
    }
    const TableSpec query{"query", 3, 3857, {Square(150, 150, 200)}, {"q"}};
    SpreadRows spread("drawn_spread", {blocks, points, query});

    // Points from a database come to a drawing as their boxes: the same rows in one table
    // are what the picture is compared with; the file gives the same counts.
    const auto from_file = SelectAndDraw({LoadLayer(spread.file, "blocks", "blocks", "zone = 'shown'"),
                                          LoadLayer(spread.file, "points"), LoadLayer(spread.file, "query")});
    const auto from_one_table = SelectAndDraw({spread.rows.Layer("blocks", "blocks", "zone = 'shown'"),
                                               spread.rows.Layer("points"), spread.rows.Layer("query")});
    const auto from_spread =
        SelectAndDraw({spread.Layer("blocks", "zone = 'shown'"), spread.Layer("points"), spread.Layer("query")});
    ASSERT_NE(std::dynamic_pointer_cast<gis::ShardedLayer>(spread.Layer("points")), nullptr);
    EXPECT_TRUE(from_spread.layers.problem.empty()) << from_spread.layers.problem;
    EXPECT_EQ(from_spread.layers.features_drawn, from_file.layers.features_drawn);
    EXPECT_EQ(from_spread.selection.selected_drawn, 9u);
    EXPECT_EQ(from_spread.picture, from_one_table.picture);
}

TEST(DesktopPostgis, ManySmallShapesComeFromTheServerAsOneSampleAPixel) {
    // 20,000 points and 20,000 tiny squares in one corner, and one large square that
    // spans the view: at full extent each of the small ones is far under a pixel.
    TableSpec points{"points", 1, 3857, {}, {}};
    TableSpec tiny{"tiny", 3, 3857, {}, {}};
    for (int index = 0; index < 20000; ++index) {
        const double x = (index % 200) * 0.05;
        const double y = (index / 200) * 0.05;
        points.shapes.push_back("POINT(" + std::to_string(x) + " " + std::to_string(y) + ")");
        tiny.shapes.push_back(Square(x, y, 0.01));
    }
    TableSpec frame{"frame", 3, 3857, {Square(0, 0, 1000)}, {"f"}};
    TestDatabase database("sampled");
    database.WriteTable(points);
    database.WriteTable(tiny);
    database.WriteTable(frame);

    const auto map = std::make_shared<gis::Map>(
        std::vector<std::shared_ptr<platform::ILayer>>{database.Layer("points"), database.Layer("tiny"),
                                                       database.Layer("frame")});
    desktop::MapRenderer renderer;
    renderer.SetMap(map);
    const auto extent = renderer.FullExtent();
    EXPECT_EQ(extent, QRectF(0, 0, 1000, 1000));
    const desktop::Viewport viewport{extent, QSize(500, 500)};
    QImage picture(viewport.pixels, QImage::Format_RGB32);
    const auto stats = renderer.RenderLayers(picture, viewport);
    EXPECT_TRUE(stats.problem.empty()) << stats.problem;
    // The corner of 10 × 10 map units is 5 × 5 pixels: a few samples a layer, not 40,000.
    EXPECT_GT(stats.features_drawn, 3u);
    EXPECT_LT(stats.features_drawn, 100u);
    // Both layers are seen in that corner, in their own colours over the frame's.
    EXPECT_NE(picture.pixelColor(2, 497), picture.pixelColor(250, 250));

    // Zoomed into the corner, the same rows come as shapes.
    const desktop::Viewport close{QRectF(0, 0, 10, 10), QSize(500, 500)};
    const auto zoomed = renderer.RenderLayers(picture, close);
    EXPECT_EQ(zoomed.features_drawn, 40001u);
}

TEST(DesktopPostgis, AServerErrorWhilePointsAreCopiedIsTheDrawingsProblemAndTheNextDrawingWorks) {
    TableSpec points{"points", 1, 3857, {}, {}};
    for (int index = 0; index < 5000; ++index) {
        points.shapes.push_back("POINT(" + std::to_string(index % 100) + " " + std::to_string(index / 100) + ")");
        points.zones.push_back("a");
    }
    TestDatabase database("copied");
    database.WriteTable(points);
    // A filter that fails on one row once the layer has loaded.
    auto layer = database.Layer("points", "points", "1 / (length(zone) - 5) > -100");
    const auto map = std::make_shared<gis::Map>(std::vector<std::shared_ptr<platform::ILayer>>{layer});
    desktop::MapRenderer renderer;
    renderer.SetMap(map);
    const desktop::Viewport viewport{QRectF(0, 0, 1000, 1000), QSize(50, 50)};
    QImage picture(viewport.pixels, QImage::Format_RGB32);
    const auto whole = renderer.RenderLayers(picture, viewport);
    EXPECT_TRUE(whole.problem.empty()) << whole.problem;
    // 100 × 50 map units in 20-unit pixels: 5 × 3 pixels hold points.
    EXPECT_EQ(whole.features_drawn, 15u);

    // Rows without a point are no sample; a view of no point draws nothing, of one point one.
    database.Execute("INSERT INTO copied.points VALUES (9001, NULL, 'a'), (9002, 'POINT EMPTY', 'a')");
    EXPECT_EQ(renderer.RenderLayers(picture, viewport).features_drawn, 15u);
    const desktop::Viewport empty{QRectF(500, 500, 1000, 1000), QSize(50, 50)};
    const auto nothing = renderer.RenderLayers(picture, empty);
    EXPECT_TRUE(nothing.problem.empty()) << nothing.problem;
    EXPECT_EQ(nothing.features_drawn, 0u);
    const desktop::Viewport one{QRectF(98.5, 48.5, 1000, 1000), QSize(50, 50)};
    EXPECT_EQ(renderer.RenderLayers(picture, one).features_drawn, 1u);

    database.Execute("UPDATE copied.points SET zone = 'fifth' WHERE fid = 2500");
    const auto failed = renderer.RenderLayers(picture, viewport);
    EXPECT_NE(failed.problem.find("Cannot draw layer points"), std::string::npos) << failed.problem;
    EXPECT_NE(failed.problem.find("division by zero"), std::string::npos) << failed.problem;
    database.Execute("UPDATE copied.points SET zone = 'a' WHERE fid = 2500");
    const auto again = renderer.RenderLayers(picture, viewport);
    EXPECT_TRUE(again.problem.empty()) << again.problem;
    EXPECT_EQ(again.features_drawn, 15u);
}

// The server's binary form of a one-dimensional array of points (nullopt for NULL).
std::string PointArray(const std::vector<std::optional<std::pair<double, double>>>& points) {
    std::string bytes;
    const auto put = [&bytes](std::uint64_t value, int size) {
        for (int shift = (size - 1) * 8; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xFF);
    };
    const bool nulls = std::any_of(points.begin(), points.end(), [](const auto& point) { return !point; });
    put(points.empty() ? 0 : 1, 4);
    put(nulls ? 1 : 0, 4);
    put(gis::kPointTypeOid, 4);
    if (points.empty()) return bytes;
    put(points.size(), 4);
    put(1, 4);
    for (const auto& point : points) {
        if (!point) {
            put(0xFFFFFFFF, 4);
            continue;
        }
        put(16, 4);
        put(std::bit_cast<std::uint64_t>(point->first), 8);
        put(std::bit_cast<std::uint64_t>(point->second), 8);
    }
    return bytes;
}

std::vector<std::pair<double, double>> PointsOf(const std::string& bytes) {
    std::vector<std::pair<double, double>> points;
    gis::ForEachPointInArray(bytes, [&points](double x, double y) { points.emplace_back(x, y); });
    return points;
}

TEST(DesktopPostgis, ATableWithANonFiniteCoordinateIsNamedWithItsFidNotDrawnBlank) {
    TestDatabase database("nonfinite");
    database.WriteTable({"points", 1, 3857, {"POINT(1 1)", "POINT(2 2)"}, {"a", "a"}});
    database.Execute("INSERT INTO nonfinite.points VALUES (3, ST_SetSRID(ST_MakePoint('NaN', 0), 3857), 'a')");
    const auto map = std::make_shared<gis::Map>(
        std::vector<std::shared_ptr<platform::ILayer>>{database.Layer("points")});
    desktop::MapRenderer renderer;
    renderer.SetMap(map);
    renderer.FullExtent();
    QImage picture(QSize(50, 50), QImage::Format_RGB32);
    const auto drawn = renderer.RenderLayers(picture, {QRectF(0, 0, 10, 10), QSize(50, 50)});
    EXPECT_NE(drawn.problem.find("FID 3"), std::string::npos) << drawn.problem;
    EXPECT_NE(drawn.problem.find("not a finite number"), std::string::npos) << drawn.problem;
}

TEST(DesktopPostgis, AnArrayOfPointsIsReadWithinItsBytesAndAMalformedOneIsRefused) {
    const auto array = PointArray({{{1.5, -2}}, std::nullopt, {{3, 4.25}}});
    EXPECT_EQ(PointsOf(array), (std::vector<std::pair<double, double>>{{1.5, -2}, {3, 4.25}}));
    EXPECT_TRUE(PointsOf(PointArray({})).empty());
    EXPECT_TRUE(PointsOf(PointArray({std::nullopt})).empty());

    // Cut at every byte (each read must stay inside what it was given: the sanitizer's
    // build sees a copy of exactly that size), or with a byte more, it is refused.
    for (std::size_t size = 0; size < array.size(); ++size) {
        const std::unique_ptr<char[]> cut(new char[size + 1]);
        std::memcpy(cut.get(), array.data(), size);
        EXPECT_THROW(gis::ForEachPointInArray(std::string_view(cut.get(), size), [](double, double) {}),
                     platform::Error)
            << size << " bytes";
    }
    EXPECT_THROW(PointsOf(array + '\0'), platform::Error);
    EXPECT_THROW(PointsOf(PointArray({}) + '\0'), platform::Error);
    // A count of more elements than the bytes could hold, two dimensions, another element
    // type, a point of other than two numbers, a flag for NULLs that is neither.
    const auto changed = [&array](std::size_t at, std::uint32_t value) {
        auto bytes = array;
        for (int index = 0; index < 4; ++index) bytes[at + index] = static_cast<char>(value >> (24 - 8 * index));
        return bytes;
    };
    for (const auto& bad : {changed(12, 0x7FFFFFFF), changed(12, 0xFFFFFFFF), changed(0, 2), changed(8, 701),
                            changed(20, 8), changed(20, 24), changed(4, 2)}) {
        EXPECT_THROW(PointsOf(bad), platform::Error);
    }
}

// The sampled cells of a table of points drawn at 2 map units a pixel, as the server
// counts them for the view's box.
std::size_t CellsInView(TestDatabase& database, const std::string& table, const QRectF& view,
                        const std::string& where = "true") {
    return std::stoul(database.Execute(
        "SELECT count(DISTINCT (floor(ST_X(geom) / 2), floor(ST_Y(geom) / 2))) FROM " + database.Schema() + "." +
        table + " WHERE ST_X(geom) BETWEEN " + std::to_string(view.left()) + " AND " + std::to_string(view.right()) +
        " AND ST_Y(geom) BETWEEN " + std::to_string(view.top()) + " AND " + std::to_string(view.bottom()) + " AND (" +
        where + ")"));
}

TEST(DesktopPostgis, PointsReadByRangesOfTheTablesBlocksGiveEveryCellWhateverTheTablesSize) {
    TestDatabase database("blocks");
    const auto schema = database.Schema();
    // Points at the centres of 2-unit cells, spread over 1000 × 1000 map units, many cells
    // holding several; the table fills whole blocks, so that its size is known in blocks.
    const auto make = [&](const std::string& table, long rows, const std::string& partitioning = "") {
        database.Execute("CREATE TABLE " + schema + "." + table +
                         " (fid int8 PRIMARY KEY, geom geometry(Point, 3857), zone text)" + partitioning);
        if (!partitioning.empty()) {
            database.Execute("CREATE TABLE " + schema + "." + table + "_low PARTITION OF " + schema + "." + table +
                             " FOR VALUES FROM (MINVALUE) TO (5000)");
            database.Execute("CREATE TABLE " + schema + "." + table + "_high PARTITION OF " + schema + "." + table +
                             " FOR VALUES FROM (5000) TO (MAXVALUE)");
        }
        database.Execute("INSERT INTO " + schema + "." + table +
                         " SELECT i, ST_SetSRID(ST_MakePoint(2 * ((i * 7919) % 500) + 1, 2 * ((i * 104729) % 499) + "
                         "1), 3857), CASE WHEN i % 3 = 0 THEN 'third' ELSE 'other' END FROM generate_series(1, " +
                         std::to_string(rows) + ") i");
        database.Execute("ANALYZE " + schema + "." + table);
    };
    // How many rows a block holds.
    make("probe", 2000);
    const long per_block = std::stol(database.Execute("SELECT count(*) FROM " + schema +
                                                      ".probe WHERE (ctid::text::point)[0] = 0"));
    ASSERT_GT(per_block, 10);

    const QRectF whole(0, 0, 1000, 1000), wide(0, 0, 600, 600), narrow(0, 0, 200, 200);
    const auto draw = [&](const std::shared_ptr<gis::PostgisLayer>& layer, const QRectF& view) {
        desktop::MapRenderer renderer;
        renderer.SetMap(std::make_shared<gis::Map>(std::vector<std::shared_ptr<platform::ILayer>>{layer}));
        renderer.FullExtent();  // as the desktop does first: the table's extent known
        const desktop::Viewport viewport{view, QSize(static_cast<int>(view.width() / 2), static_cast<int>(view.height() / 2))};
        QImage picture(viewport.pixels, QImage::Format_RGB32);
        return renderer.RenderLayers(picture, viewport);
    };
    // One row; one range of blocks exactly; one block more (the second connection's first
    // range); three ranges, the last of one block.
    for (const long blocks : {0L, 64L, 65L, 129L}) {
        const long rows = blocks == 0 ? 1 : (blocks - 1) * per_block + 1;
        const auto table = "points_" + std::to_string(blocks);
        make(table, rows);
        if (blocks > 0) {
            EXPECT_EQ(database.Execute("SELECT pg_relation_size('" + schema + "." + table + "') / 8192"),
                      std::to_string(blocks));
        }
        const auto layer = database.Layer(table);
        for (const auto& view : {whole, wide, narrow}) {
            const auto drawn = draw(layer, view);
            EXPECT_TRUE(drawn.problem.empty()) << drawn.problem;
            EXPECT_EQ(drawn.features_drawn, CellsInView(database, table, view)) << table << " " << view.width();
        }
        // The layer's definition query holds in every range.
        const auto thirds = database.Layer(table, table, "zone = 'third'");
        EXPECT_EQ(draw(thirds, whole).features_drawn, CellsInView(database, table, whole, "zone = 'third'"));
        EXPECT_EQ(draw(database.Layer(table, table, "zone = 'none'"), whole).features_drawn, 0u);
    }

    // A partitioned table's rows are in its partitions' blocks, not its own: read otherwise.
    make("partitioned", 129 * per_block, " PARTITION BY RANGE (fid)");
    for (const auto& view : {whole, wide}) {
        const auto drawn = draw(database.Layer("partitioned"), view);
        EXPECT_TRUE(drawn.problem.empty()) << drawn.problem;
        EXPECT_EQ(drawn.features_drawn, CellsInView(database, "partitioned", view));
    }

    // A row that fails the definition query in the second connection's range, then in the
    // first's: the drawing's problem, no statement left working, and the next drawing whole.
    const auto failing = database.Layer("points_129", "points", "1 / (length(zone) - 4) > -100");
    const auto expected = CellsInView(database, "points_129", whole);
    EXPECT_EQ(draw(failing, whole).features_drawn, expected);
    for (const long row : {100 * per_block, 10L}) {
        database.Execute("UPDATE " + schema + ".points_129 SET zone = 'four' WHERE fid = " + std::to_string(row));
        const auto failed = draw(failing, whole);
        EXPECT_NE(failed.problem.find("division by zero"), std::string::npos) << failed.problem;
        EXPECT_EQ(database.Execute("SELECT count(*) FROM pg_stat_activity WHERE state <> 'idle' AND query LIKE "
                                   "'%ARRAY(SELECT%' AND query LIKE '%" + schema + "%' AND pid <> pg_backend_pid()"),
                  "0");
        database.Execute("UPDATE " + schema + ".points_129 SET zone = 'other' WHERE fid = " + std::to_string(row));
        const auto again = draw(failing, whole);
        EXPECT_TRUE(again.problem.empty()) << again.problem;
        EXPECT_EQ(again.features_drawn, expected);
    }
}

}  // namespace
}  // namespace selvane::testing
