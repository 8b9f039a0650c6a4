// QGIS layers of the PostGIS provider, on the suites' private server: read through QGIS's
// provider into the command's search, they select what the same rows in a file select,
// subset string (a provider-side filter) included.

#include <qgsdatasourceuri.h>

#include <map>

#include "qgis_test_support.h"
#include "test_database.h"

namespace selvane::testing {
namespace {

QString LayerUri(const TestDatabase& database, const std::string& table, const QString& subset = {}) {
    QgsDataSourceUri uri(QString::fromStdString(database.Conninfo()));
    uri.setDataSource(QString::fromStdString(database.Schema()), QString::fromStdString(table), "geom", subset, "fid");
    uri.setSrid("32633");
    return uri.uri(false);
}

TEST(QgisPostgis, DatabaseLayersSelectWhatTheSameRowsInAFileSelect) {
    TestDatabase database("qgis_adapter");
    const TableSpec parcels{"parcels", 3, 32633, kParcels, {}};
    const TableSpec roads{"roads", 2, 32633, kRoads, {}};
    const TableSpec wells{"wells", 1, 32633, kWells, {}};
    for (const auto& table : {parcels, roads, wells}) database.WriteTable(table);

    const std::vector<std::tuple<std::string, std::string, std::string>> runs = {
        {"Parcels", "INTERSECT", "Roads"}, {"Parcels", "TOUCH", "Wells"},        {"Roads", "CROSS", "Parcels"},
        {"Wells", "INTERSECT", "Parcels"}, {"Parcels", "TOUCH", "Parcels"},      {"Parcels", "WHOLLY CONTAIN", "Wells"}};
    // The same rows read from a file by the headless host, the parcels shown through the
    // same filter.
    std::map<std::tuple<std::string, std::string, std::string>, std::vector<std::int64_t>> expected;
    {
        TempFolder folder;
        const std::string gpkg = folder.File("town.gpkg");
        WriteGeoPackage(gpkg, {parcels, roads, wells});
        std::map<std::string, std::shared_ptr<gis::MemoryLayer>> layers = {
            {"Parcels", LoadLayer(gpkg, "parcels", "Parcels", "fid <> 5")},
            {"Roads", LoadLayer(gpkg, "roads", "Roads")},
            {"Wells", LoadLayer(gpkg, "wells", "Wells")}};
        HostedMap hosted({layers["Parcels"], layers["Roads"], layers["Wells"]});
        hosted.Open();
        for (const auto& run : runs) {
            const auto& [layer2, relation, layer1] = run;
            hosted.Select(layer2, relation, layer1);
            ASSERT_TRUE(hosted.messages.texts.empty()) << hosted.messages.texts.back();
            expected[run] = layers.at(layer2)->SelectedFids();
        }
    }

    QgisMap map;
    std::map<std::string, QgsVectorLayer*> layers = {
        {"Parcels", map.AddLayer(LayerUri(database, "parcels", "fid <> 5"), "Parcels", "postgres")},
        {"Roads", map.AddLayer(LayerUri(database, "roads"), "Roads", "postgres")},
        {"Wells", map.AddLayer(LayerUri(database, "wells"), "Wells", "postgres")}};
    ASSERT_EQ(layers["Parcels"]->featureCount(), 8);
    map.Open();
    int selected = 0;
    for (const auto& run : runs) {
        const auto& [layer2, relation, layer1] = run;
        map.Select(layer2, relation, layer1);
        EXPECT_TRUE(map.messages.shown.empty()) << map.messages.shown.back().text;
        EXPECT_EQ(QgisMap::SelectedIds(*layers.at(layer2)), expected.at(run)) << layer2 << " " << relation << " " << layer1;
        selected += !expected.at(run).empty();
    }
    EXPECT_GE(selected, 5);
    EXPECT_EQ(layers["Parcels"]->featureCount(), 8);
    EXPECT_EQ(layers["Parcels"]->subsetString(), "fid <> 5");
}

}  // namespace
}  // namespace selvane::testing
