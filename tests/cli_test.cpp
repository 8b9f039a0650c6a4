// The selvane command line on the sample map: output and exit status.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include "test_support.h"

namespace selvane::testing {
namespace {

Run Selvane(const std::string& arguments) { return RunSelvane(arguments); }

TEST(Cli, ListsTheLayerPickersOfTheSampleMap) {
    const auto run = Selvane("layers");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Roads\nWells\nParcels\nBuildings\nOld Parcels\n");
}

TEST(Cli, SelectsAndPrintsTheIdsAndTheCount) {
    const auto run = Selvane("select --layer2 Buildings --relation \"ARE WHOLLY CONTAINED BY\" --layer1 Parcels --ids");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1\n2\n4\n5\n6\nSelection Count: 5\n");
    EXPECT_EQ(run.err, "");  // no terminal, no progress bar
    const auto counted = Selvane("select --layer2 Parcels --relation TOUCH --layer1 Wells");
    EXPECT_EQ(counted.out, "Selection Count: 6\n");
}

TEST(Cli, MessageBoxesGoToStderrAndSetTheExitStatus) {
    const auto run = Selvane("select --layer2 Wells --relation TOUCH --layer1 Wells");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Selvane: Error relating the two layers...\n"
              "Be sure the shape type of the layers is appropriate for the selected relationship.\n");
    EXPECT_EQ(run.out, "Selection Count: 0\n");
}

TEST(Cli, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Selvane("select --layer2 Parcels").status, 2);
    const auto unknown = Selvane("select --layer2 Nowhere --relation INTERSECT --layer1 Roads");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("\"Nowhere\" is not in the list"), std::string::npos);
    const auto help = Selvane("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("\"ARE WHOLLY CONTAINED BY\""), std::string::npos);
    const auto missing = Selvane("layers --map /nonexistent/map.json");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("/nonexistent/map.json: no such file"), std::string::npos);
}

TEST(Cli, ClearAndInfo) {
    const auto clear = Selvane("clear");
    EXPECT_EQ(clear.status, 0);
    EXPECT_EQ(clear.out, "Selection Count: 0\n");
    const auto info = Selvane("info");
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("Caption: Selvane\nTooltip: Selvane - Spatial Selection\n"), std::string::npos);
    EXPECT_NE(info.out.find("Category: Tollamar\n"), std::string::npos);
    EXPECT_NE(info.out.find("Message: Tollamar: www.tollamar.example\n"), std::string::npos);
}


TEST(Cli, VersionJsonAndAProgressBarOnlyOnATerminalUnlessQuiet) {
    const auto version = Selvane("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("selvane ") + SELVANE_VERSION + "\n");

    const auto json = Selvane("select --layer2 Buildings --relation \"ARE WHOLLY CONTAINED BY\" --layer1 Parcels --format json");
    ASSERT_EQ(json.status, 0) << json.err;
    const auto result = nlohmann::json::parse(json.out);
    EXPECT_EQ(result["ids"], nlohmann::json::array({1, 2, 4, 5, 6}));
    EXPECT_EQ(result["count"], 5);
    EXPECT_EQ(result["relationship"], "ARE WHOLLY CONTAINED BY");
    EXPECT_EQ(result["layer2"], "Buildings");
    EXPECT_EQ(result["layer1"], "Parcels");
    EXPECT_EQ(Selvane("select --layer2 Buildings --relation TOUCH --layer1 Parcels --format xml").status, 2);

    // On a terminal (script gives the program one) the bar is drawn; --quiet keeps it away.
    const std::string run = std::string(SELVANE_BINARY) + " select --layer2 Buildings --relation INTERSECT --layer1 Parcels";
    const auto on_terminal = RunShell("script -qec " + ShellQuoted(run) + " /dev/null");
    EXPECT_NE(on_terminal.out.find("Building selection"), std::string::npos) << on_terminal.out;
    const auto quiet = RunShell("script -qec " + ShellQuoted(run + " --quiet") + " /dev/null");
    EXPECT_EQ(quiet.out, "Selection Count: 6\r\n");
}

// The features of a file's layer, by FID: their attributes and shapes as text.
std::map<std::int64_t, std::string> Features(const std::string& path, std::string* system = nullptr,
                                             const char* table = nullptr) {
    GDALDatasetUniquePtr dataset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    std::map<std::int64_t, std::string> features;
    if (!dataset) return features;
    auto* layer = table ? dataset->GetLayerByName(table) : dataset->GetLayer(0);
    for (auto& feature : *layer) {
        std::string text;
        for (int field = 0; field < feature->GetFieldCount(); ++field) {
            if (std::string(feature->GetFieldDefnRef(field)->GetNameRef()) == "WKT") continue;
            text += std::string(feature->GetFieldAsString(field)) + "|";
        }
        char* wkt = nullptr;
        if (feature->GetGeometryRef()) feature->GetGeometryRef()->exportToWkt(&wkt);
        text += wkt ? wkt : "";
        CPLFree(wkt);
        features[feature->GetFID()] = text;
    }
    if (system && layer->GetSpatialRef()) {
        const char* code = layer->GetSpatialRef()->GetAuthorityCode(nullptr);
        *system = code ? code : layer->GetSpatialRef()->GetName();
    }
    return features;
}

TEST(Cli, OutputWritesTheSelectedFeaturesWithTheirAttributesAndSystemAndNeverHalfAFile) {
    GDALAllRegister();
    TempFolder folder;
    const std::string select = "select --layer2 Buildings --relation \"ARE WHOLLY CONTAINED BY\" --layer1 Parcels";
    std::string system;
    const auto sample = std::filesystem::path(SELVANE_SAMPLE_MAP).parent_path() / "town.gpkg";
    const auto source = Features(sample.string(), nullptr, "buildings");
    ASSERT_EQ(source.size(), 6u);
    for (const char* name : {"out.gpkg", "out.shp", "out.geojson", "out.fgb", "out.csv"}) {
        SCOPED_TRACE(name);
        const auto path = folder.File(name);
        const auto run = Selvane(select + " --output " + path);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Selection Count: 5\n");
        const auto written = Features(path, &system);
        ASSERT_EQ(written.size(), 5u);
        if (std::string(name) == "out.gpkg" || std::string(name) == "out.geojson") {
            // Formats that keep FIDs keep the layer's: the features are the selected ones.
            for (const std::int64_t fid : {1, 2, 4, 5, 6}) {
                ASSERT_TRUE(written.count(fid)) << fid;
                EXPECT_EQ(written.at(fid), source.at(fid));
            }
        }
        if (std::string(name) != "out.csv") {
            EXPECT_EQ(system, "32633");
        }
    }
    // An existing file stays as it is unless --overwrite is given.
    const auto kept = Selvane("select --layer2 Buildings --relation INTERSECT --layer1 Parcels --output " + folder.File("out.gpkg"));
    EXPECT_EQ(kept.status, 1);
    EXPECT_NE(kept.err.find("exists; --overwrite replaces it"), std::string::npos) << kept.err;
    EXPECT_EQ(Features(folder.File("out.gpkg")).size(), 5u);
    const auto replaced = Selvane("select --layer2 Buildings --relation INTERSECT --layer1 Parcels --overwrite --output " +
                                  folder.File("out.shp"));
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(Features(folder.File("out.shp")).size(), 6u);
    // A run that showed a message, a format GDAL cannot tell and a missing folder write nothing.
    const auto failed = Selvane("select --layer2 Wells --relation TOUCH --layer1 Wells --output " + folder.File("wells.gpkg"));
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("nothing written"), std::string::npos) << failed.err;
    EXPECT_EQ(Selvane(select + " --output " + folder.File("out.unknown")).status, 1);
    EXPECT_EQ(Selvane(select + " --output " + folder.File("no/such/folder.gpkg")).status, 1);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"out.csv", "out.dbf", "out.fgb", "out.geojson", "out.gpkg", "out.prj",
                                               "out.shp", "out.shx"}));
}

}  // namespace
}  // namespace selvane::testing
