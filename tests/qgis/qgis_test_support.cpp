#include "qgis_test_support.h"

#include <qgslayertree.h>
#include <qgslayertreegroup.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QStatusBar>
#include <QTest>

#include <algorithm>

#include "state/shared_state.h"

namespace selvane::testing {

void WriteShapefile(const std::string& path, int geometry_type, int epsg, const std::vector<std::string>& shapes) {
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    ASSERT_NE(driver, nullptr);
    GDALDatasetUniquePtr dataset(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_NE(dataset, nullptr);
    OGRSpatialReference reference;
    reference.importFromEPSG(epsg);
    OGRLayer* layer = dataset->CreateLayer("shapes", &reference, static_cast<OGRwkbGeometryType>(geometry_type));
    ASSERT_NE(layer, nullptr);
    for (const auto& wkt : shapes) {
        OGRFeature feature(layer->GetLayerDefn());
        OGRGeometry* geometry = nullptr;
        ASSERT_EQ(OGRGeometryFactory::createFromWkt(wkt.c_str(), nullptr, &geometry), OGRERR_NONE) << wkt;
        feature.SetGeometryDirectly(geometry);
        ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
    }
}

QgisMap::QgisMap() : window(std::make_unique<QMainWindow>()) {
    window->setObjectName(QStringLiteral("QgisApp"));
    canvas = new QgsMapCanvas(window.get());
    window->setCentralWidget(canvas);
    window->statusBar();
    window->resize(900, 700);
    window->show();
}

QgisMap::~QgisMap() {
    host.reset();
    ProcessEvents();
}

QgsVectorLayer* QgisMap::AddLayer(const QString& uri, const QString& name, const QString& provider,
                                  QgsLayerTreeGroup* group) {
    auto* layer = new QgsVectorLayer(uri, name, provider);
    EXPECT_TRUE(layer->isValid()) << uri.toStdString();
    project.addMapLayer(layer, false);
    (group ? group : project.layerTreeRoot())->addLayer(layer);
    return layer;
}

void QgisMap::Start() {
    host = std::make_unique<qgis::QgisHost>(project, qgis::QgisWindows{window.get(), canvas, window->statusBar()});
}

qt::QtForm& QgisMap::Open() {
    if (!host) Start();
    host->CommandAction()->trigger();
    return Form();
}

qt::QtForm& QgisMap::Form() { return dynamic_cast<qt::QtForm&>(*state::MainDialog->Form()); }

void QgisMap::Select(const std::string& layer2, const std::string& relation, const std::string& layer1) {
    Pick(Control<QComboBox>("cboSearchLayers"), QString::fromStdString(layer2));
    Pick(Control<QComboBox>("cboRelationship"), QString::fromStdString(relation));
    Pick(Control<QComboBox>("cboMapLayers"), QString::fromStdString(layer1));
    QTest::mouseClick(Control<QAbstractButton>("btnNext"), Qt::LeftButton);
}

std::vector<std::int64_t> QgisMap::SelectedIds(const QgsVectorLayer& layer) {
    const QgsFeatureIds& ids = layer.selectedFeatureIds();
    std::vector<std::int64_t> sorted(ids.begin(), ids.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

}  // namespace selvane::testing
