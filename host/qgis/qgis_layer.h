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

/// A QGIS vector layer as a feature layer of the map: its source (without the subset
/// string) is the feature class, searched in memory; its subset string is the definition
/// query; its selection is QGIS's own. Features added during a run are handed to QGIS in
/// one change, when the selection is next read or the map redrawn, or when the event loop
/// runs again, so that a run does not send one signal per feature.
class QgisFeatureLayer : public gis::FeatureLayerOf<gis::MemoryFeatureClass> {
public:
    /// Call on QGIS's main thread. The ids the subset string lets through are read by the
    /// first search.
    explicit QgisFeatureLayer(QgsVectorLayer& layer);
    ~QgisFeatureLayer() override;

    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    void Add(const std::shared_ptr<platform::IFeature>& feature) override;

    std::size_t SelectedCount() const override;
    void ClearSelection() override;
    std::vector<std::int64_t> SelectedFids() const override;
    /// Hands the features added since the last commit to QGIS's selection.
    void CommitSelection() const;

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
    mutable std::vector<std::int64_t> m_added;  // not yet handed to QGIS
    std::shared_ptr<bool> m_commit_planned = std::make_shared<bool>(false);
};

}  // namespace selvane::qgis
