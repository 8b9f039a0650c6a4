// The command inside QGIS, through its real widgets, on a QGIS project of GeoPackage,
// shapefile and memory layers: what the pickers list, what each relationship selects
// (compared with the same run on the same rows read from the files), coordinate systems,
// subset strings, failures, and the selection, canvas and status bar as QGIS's own.

#include <qgscoordinatetransformcontext.h>
#include <qgsfeature.h>
#include <qgsgeometry.h>
#include <qgslayertree.h>
#include <qgslayertreegroup.h>
#include <qgsvectordataprovider.h>

#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <QAbstractButton>
#include <QLibrary>
#include <QPixmap>
#include <QGuiApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QStatusBar>

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

#include "qgis/qgis_layer.h"
#include "qgis_test_support.h"
#include "qt_host/modeless_frame.h"

namespace selvane::testing {
namespace {

const std::vector<std::string> kRelationships = {"INTERSECT", "ENVELOPE INTERSECT", "TOUCH", "OVERLAP",
                                                 "CROSS", "WHOLLY CONTAIN", "ARE WHOLLY CONTAINED BY"};

// The blocks in the next UTM zone: the same places in another system.
std::vector<std::string> InZone34(const std::vector<std::string>& shapes) {
    OGRSpatialReference from, to;
    from.importFromEPSG(32633);
    to.importFromEPSG(32634);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    to.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::vector<std::string> result;
    for (const auto& wkt : shapes) {
        OGRGeometry* geometry = nullptr;
        OGRGeometryFactory::createFromWkt(wkt.c_str(), nullptr, &geometry);
        geometry->assignSpatialReference(&from);
        geometry->transformTo(&to);
        char* text = nullptr;
        geometry->exportToWkt(&text);
        result.emplace_back(text);
        CPLFree(text);
        OGRGeometryFactory::destroyGeometry(geometry);
    }
    return result;
}

// The town's files, and the QGIS project that shows them: Parcels (GeoPackage), a group
// "Water" holding Wells (GeoPackage) and Roads (a memory layer of the same rows), Blocks
// (shapefile), Blocks 34 (GeoPackage, another system) and Notes (a table without shapes).
struct Town {
    Town() {
        gpkg = map.folder.File("town.gpkg");
        WriteGeoPackage(gpkg, {{"parcels", 3, 32633, kParcels, {}},
                               {"wells", 1, 32633, kWells, {}},
                               {"roads", 2, 32633, kRoads, {}},
                               {"blocks34", 3, 32634, InZone34(kBlocks), {}}});
        shp = map.folder.File("blocks.shp");
        WriteShapefile(shp, 3, 32633, kBlocks);
    }

    // The project; `parcels_subset` is the parcels layer's subset string.
    void Load(const QString& parcels_subset = {}) {
        const QString file = QString::fromStdString(gpkg);
        parcels = map.AddLayer(file + "|layername=parcels", "Parcels");
        if (!parcels_subset.isEmpty()) parcels->setSubsetString(parcels_subset);
        QgsLayerTreeGroup* water = map.project.layerTreeRoot()->addGroup("Water");
        wells = map.AddLayer(file + "|layername=wells", "Wells", "ogr", water);
        roads = map.AddLayer("LineString?crs=EPSG:32633", "Roads", "memory", water);
        QgsFeatureList features;
        for (const auto& wkt : kRoads) {
            QgsFeature feature;
            feature.setGeometry(QgsGeometry::fromWkt(QString::fromStdString(wkt)));
            features.append(feature);
        }
        roads->dataProvider()->addFeatures(features);
        blocks = map.AddLayer(QString::fromStdString(shp), "Blocks");
        blocks34 = map.AddLayer(file + "|layername=blocks34", "Blocks 34");
        map.AddLayer("None?field=note:string", "Notes", "memory");
    }

    QgsVectorLayer* Layer(const std::string& name) const {
        const std::map<std::string, QgsVectorLayer*> layers = {
            {"Parcels", parcels}, {"Wells", wells}, {"Roads", roads}, {"Blocks", blocks}, {"Blocks 34", blocks34}};
        return layers.at(name);
    }

    QgisMap map;
    std::string gpkg, shp;
    QgsVectorLayer *parcels = nullptr, *wells = nullptr, *roads = nullptr, *blocks = nullptr, *blocks34 = nullptr;
};

// What a run gave: the selected ids of the layer searched, or the message it ended with.
struct Outcome {
    std::vector<std::int64_t> ids;
    std::string message;
    bool operator==(const Outcome&) const = default;
};

using Choice = std::tuple<std::string, std::string, std::string>;  // layer 2, relationship, layer 1

// The same runs on the same rows read from the files by the headless host.
std::map<Choice, Outcome> RunFromFiles(const Town& town, const std::vector<Choice>& runs, const std::string& parcels_query) {
    auto parcels = LoadLayer(town.gpkg, "parcels", "Parcels", parcels_query);
    auto wells = LoadLayer(town.gpkg, "wells", "Wells");
    auto roads = LoadLayer(town.gpkg, "roads", "Roads");
    auto blocks = LoadLayer(town.shp, "blocks", "Blocks");
    auto blocks34 = LoadLayer(town.gpkg, "blocks34", "Blocks 34");
    std::map<std::string, std::shared_ptr<gis::MemoryLayer>> layers = {
        {"Parcels", parcels}, {"Wells", wells}, {"Roads", roads}, {"Blocks", blocks}, {"Blocks 34", blocks34}};
    HostedMap hosted({parcels, wells, roads, blocks, blocks34});
    hosted.Open();
    std::map<Choice, Outcome> outcomes;
    for (const auto& run : runs) {
        const auto& [layer2, relation, layer1] = run;
        const std::size_t before = hosted.messages.texts.size();
        hosted.Select(layer2, relation, layer1);
        Outcome outcome{layers.at(layer2)->SelectedFids(), {}};
        if (hosted.messages.texts.size() > before) outcome.message = hosted.messages.texts.back();
        outcomes[run] = outcome;
    }
    return outcomes;
}

std::vector<Choice> EveryRun(const std::vector<std::string>& targets, const std::vector<std::string>& queries) {
    std::vector<Choice> runs;
    for (const auto& layer2 : targets) {
        for (const auto& relation : kRelationships) {
            for (const auto& layer1 : queries) runs.emplace_back(layer2, relation, layer1);
        }
    }
    return runs;
}

// The message's first line: the rest names where the rows came from, which differs.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(QgisAdapter, PickersListTheLayerPanelAndTheActionIsTheCommand) {
    Town town;
    town.Load();
    town.map.Start();
    QAction* action = town.map.host->CommandAction();
    EXPECT_EQ(action->text(), "Selvane");
    EXPECT_FALSE(action->toolTip().isEmpty());
    EXPECT_FALSE(action->statusTip().isEmpty());
    EXPECT_FALSE(action->icon().isNull());

    town.map.Open();
    // Feature layers, groups entered, in the panel's order; Notes has no shapes.
    const std::vector<std::string> layers = {"Parcels", "Wells", "Roads", "Blocks", "Blocks 34"};
    EXPECT_EQ(Entries(*town.map.Control<QComboBox>("cboMapLayers")), layers);
    EXPECT_EQ(Entries(*town.map.Control<QComboBox>("cboSearchLayers")), layers);
    EXPECT_EQ(Entries(*town.map.Control<QComboBox>("cboRelationship")), kRelationships);

    // Realised on Qt 5 from the same design as on the desktop's Qt 6.
    ExpectRealisesDesign(town.map.Form());

    // The dialog's window belongs to QGIS's main window.
    ASSERT_EQ(town.map.host->Application()->Windows().size(), 1u);
    auto frame = std::dynamic_pointer_cast<qt_host::QtModelessFrame>(town.map.host->Application()->Windows().front());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Window()->parentWidget(), town.map.window.get());
    EXPECT_TRUE(frame->Window()->isVisible());
}

TEST(QgisAdapter, EveryRelationshipSelectsWhatTheSameRowsFromTheFilesSelect) {
    Town town;
    const std::vector<std::string> layers = {"Parcels", "Wells", "Roads", "Blocks", "Blocks 34"};
    const auto runs = EveryRun(layers, layers);
    const auto expected = RunFromFiles(town, runs, {});
    town.Load();
    town.map.Open();
    int selected = 0, refused = 0;
    for (const auto& run : runs) {
        const auto& [layer2, relation, layer1] = run;
        const std::size_t before = town.map.messages.shown.size();
        town.map.Select(layer2, relation, layer1);
        Outcome outcome{QgisMap::SelectedIds(*town.Layer(layer2)), {}};
        if (town.map.messages.shown.size() > before) outcome.message = town.map.messages.shown.back().text;
        const Outcome& wanted = expected.at(run);
        EXPECT_EQ(outcome.ids, wanted.ids) << layer2 << " " << relation << " " << layer1;
        EXPECT_EQ(FirstLine(outcome.message), FirstLine(wanted.message)) << layer2 << " " << relation << " " << layer1;
        selected += !outcome.ids.empty();
        refused += !outcome.message.empty();
    }
    // The comparison means something: most runs select, some are refused by shape type.
    EXPECT_GT(selected, 80);
    EXPECT_GT(refused, 10);
}

TEST(QgisAdapter, TheSubsetStringIsTheLayersDefinitionQueryAndTheClassIsTheWholeSource) {
    Town town;
    const std::vector<Choice> runs = {{"Parcels", "INTERSECT", "Roads"},  {"Wells", "INTERSECT", "Parcels"},
                                   {"Parcels", "TOUCH", "Parcels"},    {"Blocks", "WHOLLY CONTAIN", "Parcels"},
                                   {"Roads", "CROSS", "Parcels"},      {"Parcels", "ARE WHOLLY CONTAINED BY", "Blocks 34"}};
    const auto expected = RunFromFiles(town, runs, "fid IN (1, 5, 9)");
    town.Load(QStringLiteral("fid IN (1, 5, 9)"));
    const long long count_before = town.parcels->featureCount();
    town.map.Open();
    for (const auto& run : runs) {
        const auto& [layer2, relation, layer1] = run;
        town.map.Select(layer2, relation, layer1);
        EXPECT_EQ(QgisMap::SelectedIds(*town.Layer(layer2)), expected.at(run).ids) << layer2 << " " << relation << " " << layer1;
    }
    // Only the diagonal's shapes query; the layer selected in keeps its subset string.
    town.map.Select("Wells", "INTERSECT", "Parcels");
    EXPECT_EQ(QgisMap::SelectedIds(*town.wells), (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(town.parcels->subsetString(), "fid IN (1, 5, 9)");
    EXPECT_EQ(town.parcels->featureCount(), count_before);
    EXPECT_EQ(town.parcels->dataProvider()->subsetString(), "fid IN (1, 5, 9)");

    // A memory layer's subset string alike: its rows live only in its provider.
    town.roads->setSubsetString("$id = 1");
    ASSERT_EQ(town.roads->featureCount(), 1);
    town.map.Select("Parcels", "INTERSECT", "Roads");
    EXPECT_EQ(QgisMap::SelectedIds(*town.parcels), (std::vector<std::int64_t>{4, 5, 6}));  // along road 1 only
    town.map.Select("Roads", "INTERSECT", "Blocks");
    EXPECT_EQ(QgisMap::SelectedIds(*town.roads), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(town.roads->featureCount(), 1);
    EXPECT_EQ(town.roads->subsetString(), "$id = 1");
}

TEST(QgisAdapter, ARunSelectsInQgisInOneChangeWithProgressInTheStatusBar) {
    Town town;
    town.Load();
    town.map.Open();
    auto& map = town.map;
    QSignalSpy changes(town.parcels, &QgsVectorLayer::selectionChanged);
    town.wells->selectByIds({4});

    struct Seen {
        bool shown;
        bool busy;
    };
    std::vector<Seen> seen;
    auto* display = map.host->Progress();
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->parentWidget()->window(), map.window.get());
    map.host->Application()->Bar()->Progress()->SetDisplay([&](const gis::ProgressState& state) {
        display->Draw(state);
        const auto* cursor = QGuiApplication::overrideCursor();
        seen.push_back({display->isVisible(), cursor && cursor->shape() == Qt::WaitCursor});
    });
    const int refreshes = map.host->Document()->View()->RefreshCount();
    changes.clear();
    map.Select("Parcels", "INTERSECT", "Roads");

    // The middle row, the parcels along x = 10, and the first parcel.
    const std::vector<std::int64_t> expected = {1, 2, 4, 5, 6, 7, 8};
    EXPECT_EQ(QgisMap::SelectedIds(*town.parcels), expected);
    EXPECT_EQ(map.Control<QLabel>("lblCount")->text(), "7");
    // The selection of other layers was cleared, as the command clears the map's.
    EXPECT_TRUE(town.wells->selectedFeatureIds().isEmpty());
    // One change to clear, one to select: not one per feature.
    EXPECT_LE(changes.count(), 2);
    EXPECT_GE(map.host->Document()->View()->RefreshCount(), refreshes + 1);
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(seen.front().shown);
    EXPECT_TRUE(seen.front().busy);
    EXPECT_FALSE(seen.back().shown);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // QGIS's own tools see the selection.
    EXPECT_EQ(town.parcels->selectedFeatureCount(), 7);
    EXPECT_EQ(town.parcels->getSelectedFeatures().isValid(), true);
}

TEST(QgisAdapter, BadShapesAndRemovedLayersEndInTheStandardMessagesOwnedByQgis) {
    Town town;
    town.Load();
    // A bow-tie as the query shape: TOUCH needs a valid shape.
    auto* bad = town.map.AddLayer("Polygon?crs=EPSG:32633", "Bad", "memory");
    QgsFeature bow;
    bow.setGeometry(QgsGeometry::fromWkt("POLYGON((0 0,10 10,10 0,0 10,0 0))"));
    QgsFeatureList features{bow};
    bad->dataProvider()->addFeatures(features);
    town.map.Open();
    town.map.Select("Parcels", "TOUCH", "Bad");
    ASSERT_FALSE(town.map.messages.shown.empty());
    const auto& message = town.map.messages.shown.back();
    EXPECT_NE(message.text.find("Bad"), std::string::npos) << message.text;
    EXPECT_NE(message.text.find("FID 1"), std::string::npos) << message.text;
    EXPECT_EQ(message.owner, "QgisApp");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // A layer removed while the dialog is open is no longer listed once the lists refresh,
    // and a run on a stale entry fails with a message, not a crash.
    const std::size_t before = town.map.messages.shown.size();
    town.map.project.removeMapLayer(town.blocks->id());
    town.blocks = nullptr;
    town.map.Select("Parcels", "INTERSECT", "Wells");
    EXPECT_EQ(town.map.messages.shown.size(), before);
    EXPECT_EQ(QgisMap::SelectedIds(*town.parcels), (std::vector<std::int64_t>{1, 2, 4, 5, 6}));
}

}  // namespace
}  // namespace selvane::testing

namespace selvane::testing {
namespace {

TEST(QgisAdapter, ALayerWhoseSourceFailsOrWasRemovedIsNamedNotReadAsEmpty) {
    Town town;
    town.Load();
    town.map.Open();
    // The Shapefile deleted under its loaded layer: QGIS's provider gives no rows, which is
    // not an empty layer.
    for (const char* extension : {".shp", ".shx", ".dbf", ".prj"}) {
        std::filesystem::remove(std::filesystem::path(town.shp).replace_extension(extension));
    }
    town.map.Select("Blocks", "INTERSECT", "Wells");
    ASSERT_FALSE(town.map.messages.shown.empty());
    EXPECT_NE(town.map.messages.shown.back().text.find("layer Blocks"), std::string::npos)
        << town.map.messages.shown.back().text;
    EXPECT_TRUE(QgisMap::SelectedIds(*town.blocks).empty());

    // A layer QGIS deleted is not read through what the dialog still holds of it.
    auto wells = std::make_shared<qgis::QgisFeatureLayer>(*town.wells, std::make_shared<qgis::PendingSelections>());
    town.map.project.removeMapLayer(town.wells->id());
    town.wells = nullptr;
    try {
        wells->FeatureClass()->FeatureCount(nullptr);
        ADD_FAILURE() << "a deleted layer was read";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("Layer Wells has been removed from the project"), std::string::npos)
            << error.what();
    }
}

TEST(QgisAdapter, QueryShapesAreProjectedAsTheProjectsTransformationsSay) {
    Town town;
    town.Load();
    town.map.Open();
    // Without a chosen operation, PROJ's: the small block lies in the first parcel.
    town.map.Select("Parcels", "WHOLLY CONTAIN", "Blocks 34");
    auto selected = QgisMap::SelectedIds(*town.parcels);
    EXPECT_TRUE(std::count(selected.begin(), selected.end(), 1)) << ::testing::PrintToString(selected);
    EXPECT_FALSE(std::count(selected.begin(), selected.end(), 2)) << ::testing::PrintToString(selected);

    // The project's own operation from zone 34 to zone 33 lands 10 m further east: the
    // small block now lies in the second parcel.
    QgsCoordinateTransformContext context = town.map.project.transformContext();
    ASSERT_TRUE(context.addCoordinateOperation(
        QgsCoordinateReferenceSystem("EPSG:32634"), QgsCoordinateReferenceSystem("EPSG:32633"),
        "+proj=pipeline +step +inv +proj=utm +zone=34 +ellps=WGS84 +step +proj=utm +zone=33 +ellps=WGS84 "
        "+step +proj=affine +xoff=10"));
    town.map.project.setTransformContext(context);
    town.map.Select("Parcels", "WHOLLY CONTAIN", "Blocks 34");
    selected = QgisMap::SelectedIds(*town.parcels);
    EXPECT_FALSE(std::count(selected.begin(), selected.end(), 1)) << ::testing::PrintToString(selected);
    EXPECT_TRUE(std::count(selected.begin(), selected.end(), 2)) << ::testing::PrintToString(selected);
    EXPECT_TRUE(town.map.messages.shown.empty()) << town.map.messages.shown.back().text;
}

TEST(QgisAdapter, ShapesWithZMAndCurvesAreSearchedByTheirPlaneShapes) {
    Town town;
    town.Load();
    // The wells again, with heights and measures; a curved road along parcel 1's diagonal.
    auto* wells_zm = town.map.AddLayer("PointZM?crs=EPSG:32633", "Wells ZM", "memory");
    auto* curves = town.map.AddLayer("CompoundCurve?crs=EPSG:32633", "Curves", "memory");
    QgsFeatureList points, arcs;
    for (const auto& wkt : kWells) {
        QgsFeature feature;
        QgsGeometry geometry = QgsGeometry::fromWkt(QString::fromStdString(wkt));
        geometry.get()->addZValue(120);
        geometry.get()->addMValue(7);
        feature.setGeometry(geometry);
        points.append(feature);
    }
    QgsFeature arc;
    arc.setGeometry(QgsGeometry::fromWkt("COMPOUNDCURVE(CIRCULARSTRING(1 1,5 3,9 1))"));
    arcs.append(arc);
    wells_zm->dataProvider()->addFeatures(points);
    curves->dataProvider()->addFeatures(arcs);
    town.map.Open();
    town.map.Select("Parcels", "INTERSECT", "Wells");
    const auto plain = QgisMap::SelectedIds(*town.parcels);
    town.map.Select("Parcels", "INTERSECT", "Wells ZM");
    EXPECT_EQ(QgisMap::SelectedIds(*town.parcels), plain);
    EXPECT_EQ(plain, (std::vector<std::int64_t>{1, 2, 4, 5, 6}));
    // The arc stays inside the first parcel.
    town.map.Select("Parcels", "WHOLLY CONTAIN", "Curves");
    EXPECT_EQ(QgisMap::SelectedIds(*town.parcels), (std::vector<std::int64_t>{1}));
    EXPECT_TRUE(town.map.messages.shown.empty()) << town.map.messages.shown.back().text;
}

TEST(QgisPlugin, TheLibraryAnswersWhatQgisAsksOfAPlugin) {
    QLibrary library(QStringLiteral(SELVANE_PLUGIN_LIBRARY));
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    using Text = const QString* (*)();
    for (const char* entry : {"classFactory", "name", "description", "category", "type", "version", "icon", "unload"}) {
        EXPECT_NE(library.resolve(entry), nullptr) << entry;
    }
    const auto text = [&](const char* entry) { return *reinterpret_cast<Text>(library.resolve(entry))(); };
    EXPECT_EQ(text("name"), "Selvane");
    EXPECT_FALSE(text("description").isEmpty());
    EXPECT_EQ(text("version"), SELVANE_VERSION);
    EXPECT_EQ(reinterpret_cast<int (*)()>(library.resolve("type"))(), 1);  // QgisPlugin::UI
    const QPixmap icon(text("icon"));
    EXPECT_EQ(icon.size(), QSize(64, 64));
}

}  // namespace
}  // namespace selvane::testing
