#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>
#include <vector>

#include "gis/model/map.h"
#include "platform/arcobjects.h"

class QgsLayerTreeGroup;
class QgsMapCanvas;
class QgsMapLayer;
class QgsProject;

namespace selvane::qgis {

class QgisFeatureLayer;
class PendingSelections;

/// The open QGIS project as the map document: its focus map is the project's layer tree
/// as the layer panel shows it at the time of asking (groups as group layers, vector layers
/// with shapes as feature layers, every other layer as a plain one), and its view redraws
/// QGIS's map canvas. Adapters of layers are kept while the layer, its source and its
/// subset string stay the same, its data unchanged and the project's transformations too.
class QgisDocument : public platform::IMxDocument {
public:
    /// Call on QGIS's main thread; `canvas` may be null (no canvas to redraw).
    QgisDocument(QgsProject& project, QgsMapCanvas* canvas);
    ~QgisDocument() override;

    std::shared_ptr<platform::IMap> FocusMap() override;
    std::shared_ptr<platform::IActiveView> ActiveView() override { return m_view; }
    const std::shared_ptr<gis::ActiveView>& View() const { return m_view; }

    /// Hands every selection made by the command to QGIS (see QgisFeatureLayer).
    void CommitSelections();

private:
    std::vector<std::shared_ptr<platform::ILayer>> Members(QgsLayerTreeGroup& group);
    std::shared_ptr<platform::ILayer> LayerOf(QgsMapLayer* layer, const QString& name);

    struct Adapter {
        QgsMapLayer* layer = nullptr;
        QString name;
        QString source;
        QString subset;
        std::shared_ptr<platform::ILayer> adapter;
    };

    QPointer<QgsProject> m_project;
    QPointer<QgsMapCanvas> m_canvas;
    std::shared_ptr<gis::ActiveView> m_view = std::make_shared<gis::ActiveView>();
    std::map<QString, Adapter> m_adapters;  // by layer id
    std::shared_ptr<PendingSelections> m_pending;
    QObject m_signals;  // the receiver of the layers' signals, gone with the document
};

}  // namespace selvane::qgis
