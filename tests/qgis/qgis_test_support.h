#pragma once

// Helpers of the QGIS suites: a QGIS project of layers from files the test writes, a main
// window with a map canvas and a status bar, and the command's host over them.

#include <qgsmapcanvas.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <QAbstractButton>
#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qgis/qgis_host.h"
#include "qt/qt_form.h"
#include "qt_test_support.h"
#include "test_support.h"

class QgsLayerTreeGroup;

namespace selvane::testing {

// A 3 × 3 grid of 10 m parcels and shapes that meet them in every way.
inline const std::vector<std::string> kParcels = {
    "POLYGON((0 0,10 0,10 10,0 10,0 0))",    "POLYGON((10 0,20 0,20 10,10 10,10 0))",
    "POLYGON((20 0,30 0,30 10,20 10,20 0))", "POLYGON((0 10,10 10,10 20,0 20,0 10))",
    "POLYGON((10 10,20 10,20 20,10 20,10 10))", "POLYGON((20 10,30 10,30 20,20 20,20 10))",
    "POLYGON((0 20,10 20,10 30,0 30,0 20))", "POLYGON((10 20,20 20,20 30,10 30,10 20))",
    "POLYGON((20 20,30 20,30 30,20 30,20 20))"};
inline const std::vector<std::string> kWells = {"POINT(5 5)", "POINT(10 10)", "POINT(15 0)", "POINT(50 50)", "POINT(25 12)"};
inline const std::vector<std::string> kRoads = {"LINESTRING(-5 15,35 15)", "LINESTRING(10 0,10 30)", "LINESTRING(2 2,8 8)"};
inline const std::vector<std::string> kBlocks = {"POLYGON((5 5,25 5,25 25,5 25,5 5))", "POLYGON((10 10,20 10,20 20,10 20,10 10))",
                                          "POLYGON((2 2,4 2,4 4,2 4,2 2))"};

/// Writes a shapefile of `shapes` (WKT) in EPSG `epsg`; FIDs run from 0.
void WriteShapefile(const std::string& path, int geometry_type, int epsg, const std::vector<std::string>& shapes);

/// A QGIS project in a main window, and the command's host in it.
struct QgisMap {
    QgisMap();
    ~QgisMap();

    /// Adds a layer at the end of `group` (the root when null), as the layer panel lists it.
    QgsVectorLayer* AddLayer(const QString& uri, const QString& name, const QString& provider = "ogr",
                             QgsLayerTreeGroup* group = nullptr);
    /// Starts the host; layers added before and after are both seen.
    void Start();

    /// Presses the command and returns the dialog's realised form.
    qt::QtForm& Open();
    qt::QtForm& Form();
    template <typename Widget>
    Widget* Control(const std::string& name) {
        return dynamic_cast<Widget*>(Form().ControlWidget(name));
    }
    /// Picks the three entries and presses "Select Features".
    void Select(const std::string& layer2, const std::string& relation, const std::string& layer1);
    /// QGIS's selected ids of a layer, ascending.
    static std::vector<std::int64_t> SelectedIds(const QgsVectorLayer& layer);

    TempFolder folder;
    QgsProject project;
    std::unique_ptr<QMainWindow> window;
    QgsMapCanvas* canvas = nullptr;
    std::unique_ptr<qgis::QgisHost> host;
    MessageBoxWatcher messages;
};

}  // namespace selvane::testing
