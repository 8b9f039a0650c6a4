#include "qgis/qgis_document.h"

#include <qgslayertree.h>
#include <qgslayertreegroup.h>
#include <qgslayertreelayer.h>
#include <qgsmapcanvas.h>
#include <qgsproject.h>
#include <qgsrasterlayer.h>
#include <qgsvectorlayer.h>

#include "gis/model/layers.h"
#include "qgis/qgis_layer.h"
#include "qgis/qgis_rows.h"

namespace selvane::qgis {
namespace {

/// A layer the command lists but never queries: meshes, tiles, vector layers without
/// shapes, layers whose source is missing.
class PlainLayer : public platform::ILayer {
public:
    explicit PlainLayer(std::string name) : m_name(std::move(name)) {}
    std::string Name() override { return m_name; }

private:
    std::string m_name;
};

}  // namespace

QgisDocument::QgisDocument(QgsProject& project, QgsMapCanvas* canvas)
    : m_project(&project), m_canvas(canvas), m_pending(std::make_shared<PendingSelections>()) {
    m_view->OnRefresh([this] {
        CommitSelections();
        if (m_canvas) m_canvas->refresh();
    });
    // A class keeps the transformations its searches made: new ones come with new classes.
    QObject::connect(&project, &QgsProject::transformContextChanged, &m_signals, [this] {
        for (auto& [id, kept] : m_adapters) kept.adapter.reset();
    });
}

QgisDocument::~QgisDocument() { CommitSelections(); }

std::shared_ptr<platform::IMap> QgisDocument::FocusMap() {
    if (!m_project) return std::make_shared<gis::Map>();
    auto layers = Members(*m_project->layerTreeRoot());
    // Adapters of layers no longer in the tree go.
    for (auto entry = m_adapters.begin(); entry != m_adapters.end();) {
        entry = m_project->mapLayer(entry->first) ? std::next(entry) : m_adapters.erase(entry);
    }
    return std::make_shared<gis::Map>(std::move(layers));
}

std::vector<std::shared_ptr<platform::ILayer>> QgisDocument::Members(QgsLayerTreeGroup& group) {
    std::vector<std::shared_ptr<platform::ILayer>> members;
    for (QgsLayerTreeNode* node : group.children()) {
        if (QgsLayerTree::isGroup(node)) {
            auto* inner = QgsLayerTree::toGroup(node);
            members.push_back(std::make_shared<gis::GroupLayer>(inner->name().toStdString(), Members(*inner)));
        } else if (QgsLayerTree::isLayer(node)) {
            auto* leaf = QgsLayerTree::toLayer(node);
            members.push_back(LayerOf(leaf->layer(), leaf->name()));
        }
    }
    return members;
}

std::shared_ptr<platform::ILayer> QgisDocument::LayerOf(QgsMapLayer* layer, const QString& name) {
    if (!layer || !layer->isValid()) return std::make_shared<PlainLayer>(name.toStdString());
    if (auto* raster = qobject_cast<QgsRasterLayer*>(layer)) {
        return std::make_shared<gis::RasterLayer>(raster->name().toStdString(), raster->publicSource().toStdString());
    }
    auto* vector = qobject_cast<QgsVectorLayer*>(layer);
    if (!vector || !HasShapes(*vector)) return std::make_shared<PlainLayer>(layer->name().toStdString());

    Adapter& kept = m_adapters[layer->id()];
    if (kept.adapter && kept.layer == layer && kept.name == vector->name() && kept.source == vector->source() &&
        kept.subset == vector->subsetString()) {
        return kept.adapter;
    }
    if (kept.layer != layer) {
        // Edits change the rows the adapter read: the next look at the tree reads them anew.
        const QString id = layer->id();
        QObject::connect(vector, &QgsVectorLayer::dataChanged, &m_signals, [this, id] {
            const auto found = m_adapters.find(id);
            if (found != m_adapters.end()) found->second.adapter.reset();
        });
    }
    kept = {layer, vector->name(), vector->source(), vector->subsetString(), std::make_shared<QgisFeatureLayer>(*vector, m_pending)};
    return kept.adapter;
}

void QgisDocument::CommitSelections() { m_pending->CommitAll(); }

}  // namespace selvane::qgis
