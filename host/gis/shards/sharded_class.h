#pragma once

// A table whose rows are spread over several tables, each on a server of its own (the
// partitions of a table, foreign tables of postgres_fdw among them): a PostGIS class a
// part, each searched on its own server, all at once.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gis/common/gdal_table.h"
#include "gis/common/layer_names.h"
#include "gis/postgis/feature_class.h"
#include "gis/shards/part_workers.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// One part of a spread table: where it lies, and its class there.
struct ShardPart {
    std::string server;  // as messages name it
    std::shared_ptr<PostgisFeatureClass> table;
};

class ShardedFeatureClass : public platform::IFeatureClass {
public:
    /// `whole`: the parent table on the coordinator, which GDAL reads the rows of (through
    /// postgres_fdw) to export them; every part has its columns, type and system. Without a
    /// coordinator (`union_of_parts`), `whole` is the first part, and GDAL reads the rows
    /// of every part as one layer.
    ShardedFeatureClass(std::shared_ptr<PostgisFeatureClass> whole, std::vector<ShardPart> parts,
                        bool union_of_parts = false);

    const std::vector<ShardPart>& Parts() const { return m_parts; }
    ShapeDimension Dimension() const { return m_whole->Dimension(); }
    const std::shared_ptr<const OGRSpatialReference>& SpatialReference() const { return m_whole->SpatialReference(); }
    void AddLayerName(const std::string& name);
    GdalTable AsGdalTable() const;
    /// The part that `feature` (a feature one of the parts handed out) belongs to.
    std::size_t PartOf(const platform::IFeature& feature) const;

    std::string ShapeFieldName() override { return m_whole->Table().geometry_column; }
    std::int32_t FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) override;
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;

    /// The features that `filter` finds on every part among the rows that `wheres[part]`
    /// (a layer's definition query as that part's server runs it; none when empty) lets
    /// through. Without a spatial filter, the parts' features one part after another; with
    /// one, every part searched at once and their ids merged. Two parts that give the same
    /// id fail the search: one id would stand for two features. One search at a time.
    using PartSearch = std::function<std::shared_ptr<platform::IFeatureCursor>(std::size_t part)>;
    std::shared_ptr<platform::IFeatureCursor> SearchParts(const std::shared_ptr<platform::IQueryFilter>& filter,
                                                          bool recycling, const std::vector<std::string>& wheres) const;

private:
    std::shared_ptr<PostgisFeatureClass> m_whole;
    std::vector<ShardPart> m_parts;
    bool m_union_of_parts;
    mutable PartWorkers m_workers;
    mutable std::weak_ptr<const ShapeReading> m_prepared_for;  // the reading whose searches the parts are ready for
};

}  // namespace selvane::gis
