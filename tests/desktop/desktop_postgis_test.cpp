// The desktop draws a database layer as it draws the same rows read from a file.

#include <gtest/gtest.h>

#include <QImage>

#include "desktop/map_renderer.h"
#include "gis/files/file_source.h"
#include "gis/model/map.h"
#include "test_database.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

std::string Square(double x, double y, double side) {
    const auto at = [](double value) { return std::to_string(value); };
    return "POLYGON((" + at(x) + " " + at(y) + "," + at(x + side) + " " + at(y) + "," + at(x + side) + " " +
           at(y + side) + "," + at(x) + " " + at(y + side) + "," + at(x) + " " + at(y) + "))";
}

struct Drawn {
    QImage picture;
    qt::RenderStats layers;
    qt::RenderStats selection;
};

// Selects in `layers` (Layer #2 "blocks" INTERSECT Layer #1 "query") and draws them at the
// full extent into 400×300 pixels.
Drawn SelectAndDraw(std::vector<std::shared_ptr<platform::ILayer>> layers) {
    HostedMap hosted(layers);
    hosted.Open();
    hosted.Select("blocks", "INTERSECT", "query");
    EXPECT_TRUE(hosted.messages.texts.empty()) << hosted.messages.texts.front();
    qt::MapRenderer renderer;
    renderer.SetMap(hosted.map);
    const qt::Viewport viewport{renderer.FullExtent(), QSize(400, 300)};
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
    qt::MapRenderer renderer;
    renderer.SetMap(map);
    const auto extent = renderer.FullExtent();
    EXPECT_EQ(extent, QRectF(0, 0, 1000, 1000));
    const qt::Viewport viewport{extent, QSize(500, 500)};
    QImage picture(viewport.pixels, QImage::Format_RGB32);
    const auto stats = renderer.RenderLayers(picture, viewport);
    EXPECT_TRUE(stats.problem.empty()) << stats.problem;
    // The corner of 10 × 10 map units is 5 × 5 pixels: a few samples a layer, not 40,000.
    EXPECT_GT(stats.features_drawn, 3u);
    EXPECT_LT(stats.features_drawn, 100u);
    // Both layers are seen in that corner, in their own colours over the frame's.
    EXPECT_NE(picture.pixelColor(2, 497), picture.pixelColor(250, 250));

    // Zoomed into the corner, the same rows come as shapes.
    const qt::Viewport close{QRectF(0, 0, 10, 10), QSize(500, 500)};
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
    qt::MapRenderer renderer;
    renderer.SetMap(map);
    const qt::Viewport viewport{QRectF(0, 0, 1000, 1000), QSize(50, 50)};
    QImage picture(viewport.pixels, QImage::Format_RGB32);
    const auto whole = renderer.RenderLayers(picture, viewport);
    EXPECT_TRUE(whole.problem.empty()) << whole.problem;
    // 100 × 50 map units in 20-unit pixels: 5 × 3 pixels hold points.
    EXPECT_EQ(whole.features_drawn, 15u);

    // Rows without a point are no sample; a view of no point draws nothing, of one point one.
    database.Execute("INSERT INTO copied.points VALUES (9001, NULL, 'a'), (9002, 'POINT EMPTY', 'a')");
    EXPECT_EQ(renderer.RenderLayers(picture, viewport).features_drawn, 15u);
    const qt::Viewport empty{QRectF(500, 500, 1000, 1000), QSize(50, 50)};
    const auto nothing = renderer.RenderLayers(picture, empty);
    EXPECT_TRUE(nothing.problem.empty()) << nothing.problem;
    EXPECT_EQ(nothing.features_drawn, 0u);
    const qt::Viewport one{QRectF(98.5, 48.5, 1000, 1000), QSize(50, 50)};
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

}  // namespace
}  // namespace selvane::testing
