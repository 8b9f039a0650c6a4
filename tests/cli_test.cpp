// The selvane command line on the sample map: output and exit status.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <thread>
#include <tuple>
#include <utility>

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

// The names in `folder` that start with `prefix`.
std::vector<std::string> NamesStartingWith(const std::filesystem::path& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(prefix)) names.push_back(entry.path().filename());
    }
    return names;
}

// The records a Shapefile's .shx and .dbf say they hold: equal when both come from one run.
std::pair<std::uintmax_t, std::uint32_t> ShapefileRecords(const std::string& stem) {
    std::ifstream dbf(stem + ".dbf", std::ios::binary);
    unsigned char header[8] = {};
    dbf.read(reinterpret_cast<char*>(header), sizeof header);
    const std::uint32_t records = header[4] | header[5] << 8 | header[6] << 16 | static_cast<std::uint32_t>(header[7]) << 24;
    return {(std::filesystem::file_size(stem + ".shx") - 100) / 8, records};
}

TEST(Cli, AnOutputIsWholeOrAbsentAndNeverReplacesWhatTheMapReads) {
    GDALAllRegister();
    TempFolder folder;
    const auto data = folder.File("cells.gpkg");
    TableSpec cells{"cells", kPolygon, 0, {}, {}};
    for (int i = 0; i < 300; ++i) {
        const auto x = std::to_string(i);
        const auto x1 = std::to_string(i + 1);
        cells.shapes.push_back("POLYGON((" + x + " 0," + x1 + " 0," + x1 + " 1," + x + " 1," + x + " 0))");
        cells.zones.push_back("zone " + x);
    }
    WriteGeoPackage(data, {cells});
    const auto select = [&](const std::string& relation, const std::string& output) {
        return "select --map " + ShellQuoted(data) + " --layer2 cells --relation " + relation + " --layer1 cells --output " +
               ShellQuoted(output);
    };

    // A disk that fills while the file is written (a file size limit, as a full disk fails
    // a write): formats whose writers do not report it are read back, and nothing is left.
    for (const char* name : {"full.geojson", "full.geojsonl", "full.kml", "full.gml", "full.gpkg", "full.shp"}) {
        SCOPED_TRACE(name);
        const auto run = RunSelvane(select("INTERSECT", folder.File(name)), "trap '' XFSZ; ulimit -f 8; ");
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_FALSE(std::filesystem::exists(folder.File(name)));
        EXPECT_EQ(NamesStartingWith(folder.Path(), "full").size(), 0u);
        EXPECT_EQ(NamesStartingWith(folder.Path(), ".selvane-output-").size(), 0u);
    }
    EXPECT_EQ(RunSelvane(select("INTERSECT", folder.File("whole.geojson"))).status, 0);
    EXPECT_EQ(Features(folder.File("whole.geojson")).size(), 300u);

    // Text a format cannot hold: bytes that are not UTF-8 in GeoJSON, a control character
    // in XML. Such files would be moved into place unreadable.
    const auto odd = folder.File("odd.gpkg");
    WriteGeoPackage(odd, {{"raw", kPoint, 0, {"POINT(0 0)"}, {"raw \xff byte"}},
                          {"escape", kPoint, 0, {"POINT(0 0)"}, {"escape \x1b here"}}});
    const std::tuple<std::string, std::string, std::string> unholdable[] = {
        {"raw", "odd.geojson", "the value of zone of feature 1 is not UTF-8 text, which a GeoJSON file cannot hold"},
        {"escape", "odd.kml", "the file cannot be read back"},
    };
    for (const auto& [layer, name, why] : unholdable) {
        const auto run = RunSelvane("select --map " + ShellQuoted(odd) + " --layer2 " + layer + " --relation INTERSECT " +
                                    "--layer1 " + layer + " --output " + ShellQuoted(folder.File(name)));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(why), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(folder.File(name)));
    }

    // The map's own data is never written over, whatever is asked.
    const auto own = RunSelvane(select("INTERSECT", data) + " --overwrite");
    EXPECT_EQ(own.status, 1);
    EXPECT_NE(own.err.find("is read by the map"), std::string::npos) << own.err;
    EXPECT_EQ(Features(data, nullptr, "cells").size(), 300u);

    // Two runs replacing one Shapefile at once: each of its files comes from the same run.
    // A run moves its files in under the folder's lock, which the test holds here first.
    const auto stem = folder.File("both");
    const int locked = ::open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(locked, LOCK_EX), 0);
    const auto waiting = RunShell(std::string(SELVANE_BINARY) + " " + select("INTERSECT", stem + ".shp") +
                                  " >/dev/null 2>&1 & echo $!");
    const int waiting_pid = std::atoi(waiting.out.c_str());
    const auto written_aside = [&folder] {
        for (const auto& hidden : NamesStartingWith(folder.Path(), ".selvane-output-")) {
            if (std::filesystem::exists(folder.Path() / hidden / "both.dbf")) return true;
        }
        return false;
    };
    for (int wait = 0; wait < 60000 && !written_aside(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(std::filesystem::exists(stem + ".shp")) << "files moved in without the folder's lock";
    ::close(locked);
    for (int wait = 0; wait < 60000 && !std::filesystem::exists(stem + ".dbf"); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int wait = 0; wait < 30000 && ::kill(waiting_pid, 0) == 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int round = 0; round < 4; ++round) {
        const auto both = RunShell("(" + std::string(SELVANE_BINARY) + " " + select("INTERSECT", stem + ".shp") +
                                   " --overwrite >/dev/null & " + SELVANE_BINARY + " " +
                                   select("'ENVELOPE INTERSECT'", stem + ".shp") + " --overwrite >/dev/null & wait)");
        const auto [shapes, records] = ShapefileRecords(stem);
        EXPECT_EQ(shapes, records) << "round " << round;
    }

    // Ended by a signal while it writes: the half-written folder goes with the program.
    TableSpec points{"points", kPoint, 0, {}, {}};
    for (int i = 0; i < 60000; ++i) points.shapes.push_back("POINT(" + std::to_string(i % 300) + " 0.5)");
    const auto many = folder.File("points.gpkg");
    WriteGeoPackage(many, {points});
    const auto output = folder.File("points.geojson");
    const auto started = RunShell(std::string(SELVANE_BINARY) + " select --map " + ShellQuoted(many) + " --map " +
                                  ShellQuoted(data) + " --layer2 points --relation INTERSECT --layer1 cells --output " +
                                  ShellQuoted(output) + " >/dev/null 2>" + ShellQuoted(folder.File("said")) + " & echo $!");
    const int pid = std::atoi(started.out.c_str());
    ASSERT_GT(pid, 0);
    bool seen = false;
    for (int wait = 0; wait < 60000 && !seen; ++wait) {
        seen = !NamesStartingWith(folder.Path(), ".selvane-output-").empty();
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(seen) << "the run wrote no output";
    ::kill(pid, SIGTERM);
    for (int wait = 0; wait < 30000 && ::kill(pid, 0) == 0; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(NamesStartingWith(folder.Path(), ".selvane-output-").size(), 0u);
    EXPECT_FALSE(std::filesystem::exists(output));
    std::string said;
    std::getline(std::ifstream(folder.File("said")), said);
    EXPECT_EQ(said, "selvane: cancelled (SIGTERM)");
}

}  // namespace
}  // namespace selvane::testing
