#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gis/common/feature_layer.h"
#include "gis/postgis/layer.h"
#include "gis/shards/sharded_class.h"

namespace selvane::gis {

/// A feature layer on a table spread over servers: a PostGIS layer a part, each with the
/// layer's definition query, searched at once; the selection is the parts' together.
class ShardedLayer : public FeatureLayerOf<ShardedFeatureClass> {
public:
    /// `definition_query` must have passed every part's RequireDefinitionQuery.
    ShardedLayer(std::string name, std::shared_ptr<ShardedFeatureClass> feature_class, std::string definition_query = {});

    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    void Add(const std::shared_ptr<platform::IFeature>& feature) override;

    std::size_t SelectedCount() const override;
    void ClearSelection() override;
    std::vector<std::int64_t> SelectedFids() const override;

    geos::geom::Envelope ClassExtent() override;
    void ReadShapes(const ShapeRequest& request, const ShapeVisitor& visit) override;
    std::string Description() override;

private:
    std::vector<std::shared_ptr<PostgisLayer>> m_parts;
    std::vector<std::string> m_filters;  // the definition query as each part's server runs it
};

}  // namespace selvane::gis
