// The selvane command line on the sample map: output and exit status.

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

}  // namespace
}  // namespace selvane::testing
