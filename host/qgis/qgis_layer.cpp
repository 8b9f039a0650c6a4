#include "qgis/qgis_layer.h"

#include <qgsfeatureid.h>
#include <qgsvectorlayer.h>

#include <QTimer>

#include <algorithm>

#include "gis/memory/feature.h"
#include "qgis/qgis_rows.h"

namespace selvane::qgis {

QgisFeatureLayer::QgisFeatureLayer(QgsVectorLayer& layer)
    : FeatureLayerOf(layer.name().toStdString(), LoadLayerClass(layer), layer.subsetString().toStdString()),
      m_layer(&layer) {}

QgisFeatureLayer::~QgisFeatureLayer() { CommitSelection(); }

const gis::RowMask& QgisFeatureLayer::ShownRows() const {
    if (!m_shown_read) {
        if (!m_layer) throw platform::Error(platform::kFail, "Layer " + m_name + " has been removed from the project");
        // The document makes a new adapter when the subset string changes.
        m_shown = gis::ShownRowMask(*m_class, SubsetIds(*m_layer));
        m_shown_read = true;
    }
    return m_shown;
}

std::shared_ptr<platform::IFeatureCursor> QgisFeatureLayer::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                                   bool recycling) {
    return m_class->SearchShown(filter, recycling, ShownRows());
}

void QgisFeatureLayer::Add(const std::shared_ptr<platform::IFeature>& feature) {
    m_added.push_back(m_class->Fid(OwnFeature<gis::MemoryFeature>(feature).Row()));
    if (*m_commit_planned || !m_layer) return;
    // Should the run stop before it reads the selection, what it selected still reaches
    // QGIS once the event loop runs.
    *m_commit_planned = true;
    std::weak_ptr<bool> planned = m_commit_planned;
    QTimer::singleShot(0, m_layer.data(), [this, planned] {
        if (planned.lock()) CommitSelection();
    });
}

void QgisFeatureLayer::CommitSelection() const {
    *m_commit_planned = false;
    if (m_added.empty()) return;
    if (m_layer) {
        QgsFeatureIds ids;
        ids.reserve(static_cast<int>(m_added.size()));
        for (const auto fid : m_added) ids.insert(fid);
        m_layer->selectByIds(ids, Qgis::SelectBehavior::AddToSelection);
    }
    m_added.clear();
}

std::size_t QgisFeatureLayer::SelectedCount() const {
    CommitSelection();
    return m_layer ? static_cast<std::size_t>(m_layer->selectedFeatureCount()) : 0;
}

void QgisFeatureLayer::ClearSelection() {
    m_added.clear();
    if (m_layer) m_layer->removeSelection();
}

std::vector<std::int64_t> QgisFeatureLayer::SelectedFids() const {
    CommitSelection();
    std::vector<std::int64_t> fids;
    if (!m_layer) return fids;
    const QgsFeatureIds& selected = m_layer->selectedFeatureIds();
    fids.assign(selected.begin(), selected.end());
    std::sort(fids.begin(), fids.end());
    return fids;
}

geos::geom::Envelope QgisFeatureLayer::ClassExtent() { return gis::ShapesExtent(*m_class); }

void QgisFeatureLayer::ReadShapes(const gis::ShapeRequest& request, const gis::ShapeVisitor& visit) {
    const auto& feature_class = *m_class;
    if (feature_class.RowCount() == 0) return;
    std::vector<std::int64_t> selected;
    if (request.selected_only) selected = SelectedFids();
    const auto& shown = ShownRows();
    feature_class.Index().query(request.box, [&](std::size_t row) {
        if (shown && !(*shown)[row]) return;
        if (request.selected_only && !std::binary_search(selected.begin(), selected.end(), feature_class.Fid(row))) return;
        if (const auto* shape = feature_class.ShapeAt(row)) visit({*shape});
    });
}

std::string QgisFeatureLayer::Description() {
    std::string text = "QGIS vector layer: " + m_class->Culprit();
    if (!m_definition_query.empty()) text += "\nSubset string: " + m_definition_query;
    return text;
}

}  // namespace selvane::qgis
