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
