// Map documents and plain data files: the layer tree they give, and clear messages for
// every kind of bad input.

#include <fstream>

#include "gis/common/definition_query.h"
#include "gis/files/file_source.h"
#include "gis/files/sqlite_definition_query.h"
#include "gis/map_document.h"
#include "gis/memory/layer.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string LoadError(const std::vector<std::string>& paths) {
    try {
        gis::LoadMap(paths);
    } catch (const platform::Error& error) {
        return error.what();
    }
    return "loaded";
}

class MapDocument : public ::testing::Test {
protected:
    void SetUp() override {
        WriteGeoPackage(m_data, {{"roads", 2, 0, {"LINESTRING(0 0,1 1)"}, {"a"}},
                                 {"wells", 1, 0, {"POINT(0 0)", "POINT(1 1)"}, {"a", "b"}}});
    }
    TempFolder m_folder;
    std::string m_data = m_folder.File("data.gpkg");
    std::string m_document = m_folder.File("map.json");
};

TEST_F(MapDocument, LoadsLayersInOrderWithGroupsToAnyDepth) {
    WriteText(m_document, R"({"layers": [
        {"type": "feature", "name": "Roads", "source": "data.gpkg", "table": "roads"},
        {"type": "group", "name": "Base", "layers": [
            {"type": "feature", "name": "Wells", "source": "data.gpkg", "table": "wells", "definition_query": "zone = 'b'"},
            {"type": "group", "name": "Old", "layers": [
                {"type": "feature", "name": "All wells", "source": "data.gpkg", "table": "wells"}]}]}]})");
    auto document = gis::LoadMap({m_document});
    auto& layers = document->GetMap()->Layers();
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0]->Name(), "Roads");
    auto base = std::dynamic_pointer_cast<gis::GroupLayer>(layers[1]);
    ASSERT_NE(base, nullptr);
    auto wells = std::dynamic_pointer_cast<gis::MemoryLayer>(base->Members()[0]);
    auto old = std::dynamic_pointer_cast<gis::GroupLayer>(base->Members()[1]);
    ASSERT_NE(wells, nullptr);
    ASSERT_NE(old, nullptr);
    auto all_wells = std::dynamic_pointer_cast<gis::MemoryLayer>(old->Members()[0]);
    EXPECT_EQ(wells->Class(), all_wells->Class());  // one table, one feature class
    EXPECT_EQ(wells->DefinitionQuery(), "zone = 'b'");
    int shown = 0;
    for (auto cursor = wells->Search(nullptr, true); cursor->NextFeature();) ++shown;
    EXPECT_EQ(shown, 1);
}

TEST_F(MapDocument, PlainDataFilesGiveALayerATable) {
    const auto second = m_folder.File("second.gpkg");
    WriteGeoPackage(second, {{"parcels", 3, 0, {"POLYGON((0 0,1 0,1 1,0 1,0 0))"}, {}}});
    auto document = gis::LoadMap({m_data, second});
    std::vector<std::string> names;
    for (const auto& layer : document->GetMap()->Layers()) names.push_back(layer->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"roads", "wells", "parcels"}));
}

TEST_F(MapDocument, TheSampleMapLoads) {
    auto document = gis::LoadMap({SELVANE_SAMPLE_MAP});
    EXPECT_GE(document->GetMap()->LayerCount(), 4);
}

TEST_F(MapDocument, BadInputIsReportedNamingTheFile) {
    const auto expect_error = [&](const std::string& text, const std::string& expected) {
        WriteText(m_document, text);
        const auto error = LoadError({m_document});
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(error.rfind(m_document, 0), 0u) << error;
    };
    expect_error("{\"layers\": [\n  {\"type\": \"feature\",, }\n]}", "malformed JSON at line 2, column 22");
    expect_error(R"({"layers": [{"type": "feature", "name": "X", "source": "data.gpkg", "table": "nope"}]})",
                 "no table named nope");
    expect_error(R"({"layers": [{"type": "feature", "name": "X", "source": "missing.gpkg", "table": "t"}]})",
                 "missing.gpkg: no such file");
    expect_error(R"({"layers": [{"type": "mystery", "name": "X"}]})", "unknown layer type \"mystery\"");
    expect_error(R"({"layers": [{"type": "group", "name": "G", "layers": [{"type": "feature", "name": "Y"}]}]})",
                 "missing \"source\"");
    expect_error(R"({"layers": [{"type": "raster", "name": "R", "source": "data.gpkg"}]})", "cannot open as a raster");
    expect_error(R"({"layers": [{"type": "feature", "name": "X", "source": "data.gpkg", "table": "wells",
                     "definition_query": "no_field = 1"}]})",
                 "definition query 'no_field = 1' is not valid");
    expect_error(R"({"name": "no layers"})", "missing \"layers\"");

    EXPECT_NE(LoadError({m_folder.File("absent.json")}).find("absent.json: no such file"), std::string::npos);
    const auto corrupt = m_folder.File("corrupt.gpkg");
    WriteText(corrupt, std::string("SQLite format 3") + std::string(2000, '\x7f'));
    EXPECT_NE(LoadError({corrupt}).find("corrupt.gpkg: cannot open as vector data"), std::string::npos);
    const auto text_file = m_folder.File("notes.txt");
    WriteText(text_file, "just words");
    EXPECT_NE(LoadError({text_file}).find("notes.txt: cannot open as vector data"), std::string::npos);
}

TEST_F(MapDocument, ATableThatCannotBeOpenedFailsWheneverItIsUsedAndOnlyThen) {
    // One good table and one whose source is gone, in one VRT.
    const auto vrt = m_folder.File("mixed.vrt");
    WriteText(vrt, "<OGRVRTDataSource><OGRVRTLayer name=\"good\"><SrcDataSource>" + m_data +
                       "</SrcDataSource><SrcLayer>wells</SrcLayer></OGRVRTLayer><OGRVRTLayer name=\"gone\">"
                       "<SrcDataSource>missing.gpkg</SrcDataSource><SrcLayer>t</SrcLayer></OGRVRTLayer>"
                       "</OGRVRTDataSource>");
    // The file as the map lists every table, so the broken one fails the whole map.
    EXPECT_NE(LoadError({vrt}).find("mixed.vrt: table gone cannot be opened"), std::string::npos) << LoadError({vrt});

    // A document names its tables: the good one loads and selects.
    WriteText(m_document, R"({"layers": [{"type": "feature", "name": "Good", "source": "mixed.vrt", "table": "good"}]})");
    auto document = gis::LoadMap({m_document});
    ASSERT_EQ(document->GetMap()->LayerCount(), 1);
    WriteText(m_document, R"({"layers": [{"type": "feature", "name": "Good", "source": "mixed.vrt", "table": "good"},
                                        {"type": "feature", "name": "Gone", "source": "mixed.vrt", "table": "gone"}]})");
    const auto error = LoadError({m_document});
    EXPECT_NE(error.find("table gone cannot be opened"), std::string::npos) << error;
    EXPECT_NE(error.find("Gone"), std::string::npos) << error;

    // GDAL says why only the first time it is asked; the source says it every time.
    gis::FileSource source(vrt);
    EXPECT_EQ(source.LoadTable("good")->Name(), "good");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_THROW(source.LoadTable("gone"), platform::Error) << attempt;
        EXPECT_THROW(source.DefinitionQueryIds("gone", "1 = 1"), platform::Error) << attempt;
    }
    EXPECT_THROW(source.FeatureTables(), platform::Error);
}

}  // namespace
}  // namespace selvane::testing

namespace selvane::testing {
namespace {

std::string NestedGroups(int depth) {
    std::string layers = R"({"type": "feature", "name": "Deep", "source": "data.gpkg", "table": "wells"})";
    for (int level = 0; level < depth; ++level) layers = R"({"type": "group", "name": "G", "layers": [)" + layers + "]}";
    return "{\"layers\": [" + layers + "]}";
}

TEST_F(MapDocument, GroupsNestUpToAHundredLevelsAndNoDeeper) {
    WriteText(m_document, NestedGroups(99));
    auto document = gis::LoadMap({m_document});
    std::shared_ptr<platform::ILayer> layer = document->GetMap()->Layers().at(0);
    for (int level = 0; level < 99; ++level) layer = std::dynamic_pointer_cast<gis::GroupLayer>(layer)->Members().at(0);
    EXPECT_EQ(layer->Name(), "Deep");

    WriteText(m_document, NestedGroups(101));
    const auto error = LoadError({m_document});
    EXPECT_NE(error.find("groups are nested more than 100 levels deep"), std::string::npos) << error;
    // The position is written with its middle left out, not a hundred levels long.
    EXPECT_NE(error.find("map layer 1 (G) layer 1 (G) layer 1 (G) ... ("), std::string::npos) << error;
    EXPECT_LT(error.size(), 400u);
}

TEST_F(MapDocument, DefinitionQueriesRunReadOnlyAndUnderAClock) {
    std::vector<std::int64_t> ids;
    const auto collect = [&ids](std::int64_t id) { ids.push_back(id); };
    gis::SelectIdsFromSqlite(m_data, "wells", "fid", "zone = 'b'", collect);
    EXPECT_EQ(ids, (std::vector<std::int64_t>{2}));
    // A query that never ends is stopped and reported.
    const std::string endless = "fid IN (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c)";
    try {
        gis::SelectIdsFromSqlite(m_data, "wells", "fid", endless, collect, std::chrono::milliseconds(200));
        FAIL() << "the endless query returned";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("ran longer than 0.2 s and was stopped"), std::string::npos) << error.what();
    }
    // The same clock where a function that only GDAL's connection knows sends the query
    // there.
    try {
        gis::FileSource(m_data).DefinitionQueryIds("wells", "ST_X(geom) >= 0 AND " + endless,
                                                   std::chrono::milliseconds(200));
        FAIL() << "the endless query returned through GDAL";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("ran longer than 0.2 s and was stopped"), std::string::npos) << error.what();
    }
    EXPECT_EQ(gis::FileSource(m_data).DefinitionQueryIds("wells", "ST_X(geom) >= 0 AND fid = 2")->size(), 1u);
    // And where GDAL's own evaluator filters (GeoJSON): a LIKE that backtracks for hours on
    // one long value is stopped, and a plain filter still gives its ids.
    const auto json = m_folder.File("long.geojson");
    std::string features;
    for (int index = 0; index < 3; ++index) {
        features += std::string(index ? "," : "") + R"({"type": "Feature", "properties": {"zone": ")" +
                    std::string(index == 2 ? 5 : 300, 'a') + R"("}, "geometry": {"type": "Point", "coordinates": [0, 0]}})";
    }
    std::ofstream(json) << R"({"type": "FeatureCollection", "features": [)" + features + "]}";
    try {
        gis::FileSource(json).DefinitionQueryIds("long", "zone LIKE '%a%a%a%a%b'", std::chrono::milliseconds(300));
        FAIL() << "the backtracking query returned";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("ran longer than 0.3 s and was stopped"), std::string::npos) << error.what();
    }
    EXPECT_EQ(*gis::FileSource(json).DefinitionQueryIds("long", "zone = 'aaaaa'"), (std::vector<std::int64_t>{2}));
    EXPECT_TRUE(gis::FileSource(json).DefinitionQueryIds("long", "zone = 'none'")->empty());
    EXPECT_THROW(gis::FileSource(json).DefinitionQueryIds("long", "zone = = 'a'"), platform::Error);
    // Nothing but one expression, and nothing that writes.
    EXPECT_THROW(gis::SelectIdsFromSqlite(m_data, "wells", "fid", "1=1; DELETE FROM wells", collect), platform::Error);
    EXPECT_NO_THROW(gis::SelectIdsFromSqlite(m_data, "wells", "fid", "fid = 1 OR \"x;\" = 'y;'", collect));
    EXPECT_NO_THROW(gis::RequireSingleExpression("zone = 'a;b'"));
    EXPECT_EQ(gis::LoadMap({m_data})->GetMap()->LayerCount(), 2);  // the table is all there
    // GDAL's spatial SQL functions still work in a definition query.
    auto east = LoadLayer(m_data, "wells", "East", "ST_X(geom) > 0.5");
    EXPECT_FALSE(east->Shows(0));
    EXPECT_TRUE(east->Shows(1));
}

}  // namespace
}  // namespace selvane::testing
