#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <memory>
#include <string>

#include "gis/common/feature_source.h"
#include "gis/model/id_selection.h"
#include "gis/model/layers.h"
#include "gis/postgis/feature_class.h"

namespace selvane::gis {

/// A feature layer on a database table: searches run in the server with the layer's
/// definition query in their WHERE clause, and the selection holds object ids.
class PostgisLayer : public SelectableLayer, public FeatureSource {
public:
    /// `definition_query` must have passed the class's RequireDefinitionQuery.
    PostgisLayer(std::string name, std::shared_ptr<PostgisFeatureClass> feature_class, std::string definition_query = {});

    std::string Name() override { return m_name; }
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override { return m_class; }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    void Add(const std::shared_ptr<platform::IFeature>& feature) override;

    std::size_t SelectedCount() const override { return static_cast<std::size_t>(m_selection.Count()); }
    void ClearSelection() override { m_selection.Clear(); }
    std::vector<std::int64_t> SelectedFids() const override;

    const std::shared_ptr<PostgisFeatureClass>& Class() const { return m_class; }
    const std::string& DefinitionQuery() const { return m_definition_query; }
    const IdSelection& Selection() const { return m_selection; }

    const void* ClassIdentity() const override { return m_class.get(); }
    ShapeDimension ClassDimension() const override { return m_class->Dimension(); }
    const std::shared_ptr<const OGRSpatialReference>& ClassSpatialReference() const override {
        return m_class->SpatialReference();
    }
    /// The table's extent, worked out by the server once.
    geos::geom::Envelope ClassExtent() override;
    /// Reads what is in the box through the server's index. With a cell, the server sends
    /// the shapes smaller than a cell as one sample a cell, so that a table of millions
    /// costs what the picture's pixels do.
    void ReadShapes(const ShapeRequest& request, const ShapeVisitor& visit) override;
    std::string Description() override;

private:
    enum class Reading { All, Large, Samples, Selected };
    /// The statement of one way of reading, prepared on first use.
    const std::string& ReadingStatement(Reading reading);
    /// Streams the rows of `statement` (fid, WKB) to `visit`.
    void Stream(const std::string& statement, const std::vector<PgParameter>& parameters, bool samples,
                const ShapeVisitor& visit);

    std::string m_name;
    std::shared_ptr<PostgisFeatureClass> m_class;
    std::string m_definition_query;
    IdSelection m_selection;
    std::map<Reading, std::string> m_statements;
    std::optional<geos::geom::Envelope> m_extent;
};

}  // namespace selvane::gis
