#include "qgis/qgis_layer.h"

#include <qgsfeatureid.h>
#include <qgsvectorlayer.h>

#include <QTimer>

#include <algorithm>

#include "gis/memory/feature.h"
#include "qgis/qgis_rows.h"

namespace selvane::qgis {

void PendingSelections::Add(QgsVectorLayer& layer, std::int64_t fid) {
    auto found = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending& p) { return p.layer == &layer; });
    if (found == m_pending.end()) found = m_pending.insert(m_pending.end(), Pending{&layer, {}});
    found->fids.push_back(fid);
    if (*m_commit_planned) return;
    // Should the run stop before it reads the selection, what it selected still reaches
    // QGIS once the event loop runs.
    *m_commit_planned = true;
    std::weak_ptr<bool> planned = m_commit_planned;
    QTimer::singleShot(0, &layer, [this, planned] {
        if (planned.lock()) CommitAll();
    });
}

void PendingSelections::Commit(const QgsVectorLayer& layer) {
    const auto found = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending& p) { return p.layer == &layer; });
    if (found == m_pending.end()) return;
    Pending pending = std::move(*found);
    m_pending.erase(found);
    if (!pending.layer || pending.fids.empty()) return;
    QgsFeatureIds ids;
    ids.reserve(static_cast<int>(pending.fids.size()));
    for (const auto fid : pending.fids) ids.insert(fid);
    pending.layer->selectByIds(ids, Qgis::SelectBehavior::AddToSelection);
}

void PendingSelections::CommitAll() {
    *m_commit_planned = false;
    while (!m_pending.empty()) {
        if (m_pending.front().layer) {
            Commit(*m_pending.front().layer);
        } else {
            m_pending.erase(m_pending.begin());
        }
    }
}

void PendingSelections::Drop(const QgsVectorLayer& layer) {
    std::erase_if(m_pending, [&](const Pending& p) { return !p.layer || p.layer == &layer; });
}

QgisFeatureLayer::QgisFeatureLayer(QgsVectorLayer& layer, std::shared_ptr<PendingSelections> pending)
    : FeatureLayerOf(layer.name().toStdString(), LoadLayerClass(layer), layer.subsetString().toStdString()),
      m_layer(&layer),
      m_pending(std::move(pending)) {}

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
    const std::int64_t fid = m_class->Rows().Fid(OwnFeature<gis::MemoryFeature>(feature).Row());
    if (m_layer) m_pending->Add(*m_layer, fid);
}

std::size_t QgisFeatureLayer::SelectedCount() const {
    if (!m_layer) return 0;
    m_pending->Commit(*m_layer);
    return static_cast<std::size_t>(m_layer->selectedFeatureCount());
}

void QgisFeatureLayer::ClearSelection() {
    if (!m_layer) return;
    m_pending->Drop(*m_layer);
    m_layer->removeSelection();
}

std::vector<std::int64_t> QgisFeatureLayer::SelectedFids() const {
    std::vector<std::int64_t> fids;
    if (!m_layer) return fids;
    m_pending->Commit(*m_layer);
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
        if (request.selected_only && !std::binary_search(selected.begin(), selected.end(), feature_class.Rows().Fid(row))) return;
        if (const auto shape = feature_class.Rows().ShapeAt(row)) visit(gis::ShapeInView::Of(*shape));
    });
}

std::string QgisFeatureLayer::Description() {
    std::string text = "QGIS vector layer: " + m_class->Culprit();
    if (!m_definition_query.empty()) text += "\nSubset string: " + m_definition_query;
    return text;
}

}  // namespace selvane::qgis
