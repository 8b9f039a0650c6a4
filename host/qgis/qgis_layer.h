#pragma once

#include <QPointer>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gis/common/feature_layer.h"
#include "gis/memory/feature_class.h"
#include "gis/memory/layer.h"

class QgsVectorLayer;

namespace selvane::qgis {

/// Features the command has added to QGIS layers' selections and QGIS has not yet been
/// told of: handed to each layer in one change, when its selection is next read, the map is
/// redrawn, or the event loop runs again, so that a run does not send one signal per
/// feature. Shared by every adapter of the document: an adapter made anew during a run (the
/// layer's data changed) sees what the old one added.
class PendingSelections {
public:
    void Add(QgsVectorLayer& layer, std::int64_t fid);
    /// Hands the layer's pending features to QGIS.
    void Commit(const QgsVectorLayer& layer);
    void CommitAll();
    /// Forgets the layer's pending features (its selection is being cleared).
    void Drop(const QgsVectorLayer& layer);

private:
    struct Pending {
        QPointer<QgsVectorLayer> layer;
        std::vector<std::int64_t> fids;
    };
    std::vector<Pending> m_pending;
    std::shared_ptr<bool> m_commit_planned = std::make_shared<bool>(false);
};

/// A QGIS vector layer as a feature layer of the map: its source (without the subset
/// string) is the feature class, searched in memory; its subset string is the definition
/// query; its selection is QGIS's own, with features added during a run pending.
class QgisFeatureLayer : public gis::FeatureLayerOf<gis::MemoryFeatureClass> {
public:
    /// Call on QGIS's main thread. The ids the subset string lets through are read by the
    /// first search.
    QgisFeatureLayer(QgsVectorLayer& layer, std::shared_ptr<PendingSelections> pending);

    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    void Add(const std::shared_ptr<platform::IFeature>& feature) override;

    std::size_t SelectedCount() const override;
    void ClearSelection() override;
    std::vector<std::int64_t> SelectedFids() const override;
    geos::geom::Envelope ClassExtent() override;
    void ReadShapes(const gis::ShapeRequest& request, const gis::ShapeVisitor& visit) override;
    std::string Description() override;

    /// The QGIS layer; nullptr once QGIS has removed it.
    QgsVectorLayer* Layer() const { return m_layer; }

private:
    const gis::RowMask& ShownRows() const;

    QPointer<QgsVectorLayer> m_layer;
    mutable gis::RowMask m_shown;
    mutable bool m_shown_read = false;
    std::shared_ptr<PendingSelections> m_pending;
};

}  // namespace selvane::qgis
