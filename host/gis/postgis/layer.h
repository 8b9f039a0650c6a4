#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gis/common/feature_layer.h"
#include "gis/model/id_selection.h"
#include "gis/model/layers.h"
#include "gis/postgis/feature_class.h"

namespace selvane::gis {

class OccupiedCells;

/// A feature layer on a database table: searches run in the server with the layer's
/// definition query in their WHERE clause, and the selection holds object ids.
class PostgisLayer : public FeatureLayerOf<PostgisFeatureClass> {
public:
    /// `definition_query` must have passed the class's RequireDefinitionQuery.
    PostgisLayer(std::string name, std::shared_ptr<PostgisFeatureClass> feature_class, std::string definition_query = {});

    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    void Add(const std::shared_ptr<platform::IFeature>& feature) override;

    std::size_t SelectedCount() const override { return static_cast<std::size_t>(m_selection.Count()); }
    void ClearSelection() override { m_selection.Clear(); }
    std::vector<std::int64_t> SelectedFids() const override;

    const IdSelection& Selection() const { return m_selection; }

    /// The table's extent, worked out by the server once.
    geos::geom::Envelope ClassExtent() override;
    /// Reads what is in the box through the server's index. With a cell, the server sends
    /// the shapes smaller than a cell as one sample a cell, so that a table of millions
    /// costs what the picture's pixels do.
    void ReadShapes(const ShapeRequest& request, const ShapeVisitor& visit) override;
    std::string Description() override;
    /// The definition query as this layer's statements run it (empty: every row).
    const std::string& Filter() const { return m_filter; }

private:
    enum class Reading { All, Large, Samples, Selected, PointBlocks, PointBlocksInBox };
    /// The statement of one way of reading, prepared on first use.
    const std::string& ReadingStatement(Reading reading);
    /// The statement of `reading` prepared on `connection`, whose statements `names` holds.
    const std::string& Prepared(PgConnection& connection, std::map<Reading, std::string>& names, Reading reading);
    /// Streams the rows of `statement` (fid, WKB) to `visit`.
    void Stream(const std::string& statement, const std::vector<PgParameter>& parameters, bool samples,
                const ShapeVisitor& visit);
    /// A table of single points in view, one sample a cell: the points' coordinates copied
    /// from the server and binned here; false when the cells are too many to hold (the
    /// server then samples them as it samples other shapes).
    bool SamplePointsHere(const ShapeRequest& request, const ShapeVisitor& visit);
    /// Marks the cells of the table's points (in `box`, for PointBlocksInBox) read by ranges
    /// of the table's blocks.
    void ReadPointBlocks(Reading reading, const geos::geom::Envelope& box, OccupiedCells& cells);
    std::string m_filter;  // the definition query as the statements run it
    IdSelection m_selection;
    std::map<Reading, std::string> m_statements;
    std::map<Reading, std::string> m_helper_statements;  // prepared on the drawing's extra connection
    std::optional<geos::geom::Envelope> m_extent;
};

}  // namespace selvane::gis
