#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "gis/common/definition_query.h"
#include "gis/common/layer_names.h"
#include "gis/geometry/shape.h"
#include "gis/geometry/spatial_relation.h"
#include "gis/common/engine_tuning.h"
#include "gis/common/gdal_table.h"
#include "gis/postgis/connection.h"
#include "gis/postgis/definition_filter.h"
#include "gis/postgis/searches_elsewhere.h"
#include "gis/postgis/sql.h"
#include "platform/arcobjects.h"

class OGRSpatialReference;

namespace selvane::gis {

class FoundRows;
class PostgisSearchAhead;
class ShapesReadAhead;
struct QueryBatch;

/// A shape from WKB the server sent, its bytes checked before GEOS reads them; throws
/// ShapeBytesFault (or GEOS's exception) for bytes that are not a shape read here.
std::unique_ptr<geos::geom::Geometry> ReadServerShape(const unsigned char* wkb, std::size_t size);

/// Where a table's features lie in the server and which columns the map reads.
struct PgTable {
    std::string schema;
    std::string table;
    std::string fid_column;
    /// The ids are a column named to the map, not the table's primary key (it has none).
    bool ids_without_key = false;
    std::string geometry_column;
    std::int32_t srid = 0;
    ShapeDimension dimension = ShapeDimension::Mixed;
    /// The table has child tables (inheritance), whose rows are not read: the primary key
    /// makes ids unique in the table alone.
    bool own_rows_only = false;
    /// The rows lie in the table's own heap (not a partitioned table's partitions), so that
    /// they can be read by ranges of its blocks.
    bool heap_rows = true;
    /// The geometry column's type as the catalogue declared it when the table was opened,
    /// with its shape type and SRID where it has them ("geometry(Polygon,32633)").
    std::string declared_type;
    /// Every column's name, for the check of a definition query.
    std::set<std::string, std::less<>> columns;
    /// The column holds single points (type POINT), read by their coordinates alone.
    bool single_points = false;
    /// The column holds one type of point, line or polygon (single or multi) of two
    /// coordinates, so that the server can send its shapes as they are kept.
    bool flat_shapes = false;

    /// "schema"."table", quoted for SQL.
    std::string Qualified() const;
    /// The table's rows in a FROM clause: ONLY "schema"."table" when it has children.
    std::string Rows() const { return (own_rows_only ? "ONLY " : "") + Qualified(); }
    /// schema.table as a person writes it.
    std::string Display() const { return schema + "." + table; }
};

/// A table of features that stays in a PostGIS database. Opening it reads only the
/// catalogue; a search runs in the server (the GiST index with `&&`, then the relation's
/// ST_ function with the query shape first) and streams the ids of the features found.
/// Shapes are read when a feature's shape is asked for, or with the rows of a full scan.
class PostgisFeatureClass : public platform::IFeatureClass, public std::enable_shared_from_this<PostgisFeatureClass> {
public:
    /// `elsewhere` (may be empty) makes what answers a scan's searches outside the server.
    PostgisFeatureClass(std::shared_ptr<PgConnection> connection, PgTable table,
                        std::shared_ptr<const OGRSpatialReference> spatial_reference,
                        std::shared_ptr<EngineTuning> tuning = DefaultTuning(), SearchesElsewhereMaker elsewhere = {});
    ~PostgisFeatureClass() override;

    const PgTable& Table() const { return m_table; }
    ShapeDimension Dimension() const { return m_table.dimension; }
    const std::shared_ptr<const OGRSpatialReference>& SpatialReference() const { return m_spatial_reference; }
    const std::shared_ptr<PgConnection>& Connection() const { return m_connection; }
    const std::shared_ptr<EngineTuning>& Tuning() const { return m_tuning; }
    /// Throws platform::Error when the geometry column's type or SRID is no longer what it
    /// was when the table was opened (an answer would be silently wrong); asked once a
    /// transaction, so once a run or a drawing.
    void RequireColumnAsOpened() const;
    /// What a definition query on this table may name.
    FilterScope Scope() const { return {m_connection->PostgisSchema(), m_table.columns}; }
    /// Names a layer that shows this class, for error texts.
    void AddLayerName(const std::string& name);
    /// "layer Parcels (table public.parcels, database PG:dbname=city)".
    std::string Culprit() const;
    /// The table through GDAL's PostgreSQL driver, on the connection string the map checked;
    /// its features' ids are the primary key's, as here.
    GdalTable AsGdalTable() const;

    /// Throws platform::Error when `where` is not a filter the server accepts on this
    /// table, or when it takes longer than `limit` over the whole table (as a file's
    /// definition query is run whole under the same clock).
    void RequireDefinitionQuery(const std::string& where,
                                std::chrono::milliseconds limit = kDefinitionQueryTimeLimit);

    std::string ShapeFieldName() override { return m_table.geometry_column; }
    /// Without a filter, the table's row count, counted once.
    std::int32_t FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) override;
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    /// Search limited to the rows that `where` (a layer's definition query) lets through.
    std::shared_ptr<platform::IFeatureCursor> SearchWhere(const std::shared_ptr<platform::IQueryFilter>& filter,
                                                          bool recycling, const std::string& where);

    /// Makes ready what the first search by `filter` would: the answer outside the server
    /// its scan may have (a copy of the table) and the check of every coordinate, so that
    /// several tables can be made ready at once, each on a thread. Faults are left for the
    /// search to report.
    void PrepareSearch(const std::shared_ptr<platform::IQueryFilter>& filter, const std::string& where) noexcept;

    /// The table's row count if it has been counted.
    std::optional<std::int64_t> CountedRows() const { return m_row_count; }

    /// What answers the searches of a scan batch's shapes ahead; nullptr before the first.
    PostgisSearchAhead* Ahead() { return m_ahead.get(); }

    /// Throws InvalidShapeError for the first feature with a coordinate that is not a
    /// finite number, looked for once: such a shape has no envelope the index can find, so
    /// a search would leave it out silently.
    void RequireAllFinite();
    /// Every row of the table has been read and found finite: the server need not look.
    void NoteAllFinite() { m_all_finite = true; }

    /// The shape of the feature `fid` (nullptr for none), read from the server.
    std::shared_ptr<Shape> ReadShape(std::int64_t fid) const;
    /// A shape from the WKB the server sent, in this class's system.
    std::shared_ptr<Shape> ShapeFromWkb(const char* bytes, std::size_t size, std::int64_t fid) const;

private:
    /// The search of a spatial filter already read.
    std::shared_ptr<platform::IFeatureCursor> SearchRequest(const SpatialQuery& request, bool recycling,
                                                            const std::string& where);
    // The server-side statement of a search, prepared on first use: by relation, whether
    // the query shape is projected in the server, and the definition query.
    /// `large_area`: the query shape is one (IsLargeArea), whose interior rules candidates out first.
    const std::string& SearchStatement(platform::esriSpatialRelEnum relation, bool projected, bool large_area,
                                       const std::string& where);
    // The rows of a search of one query shape in one statement.
    SearchesElsewhere* ElsewhereFor(const QueryBatch* batch, std::int32_t source_srid) const;
    std::unique_ptr<FoundRows> OwnSearch(platform::esriSpatialRelEnum relation, std::int32_t source_srid,
                                         const std::string& where, const geos::geom::Geometry& query);
    // The SRID to project a query shape from, 0 when it is already in the table's system.
    std::int32_t QuerySrid(const std::shared_ptr<const OGRSpatialReference>& reference);

    std::shared_ptr<PgConnection> m_connection;
    mutable std::optional<std::uint64_t> m_column_checked;  // the transaction it was checked in
    PgTable m_table;
    std::shared_ptr<const OGRSpatialReference> m_spatial_reference;
    std::shared_ptr<EngineTuning> m_tuning;
    SearchesElsewhereMaker m_elsewhere;
    LayerNames m_layer_names;
    std::optional<std::int64_t> m_row_count;
    bool m_all_finite = false;
    std::map<std::tuple<int, bool, bool, std::string>, std::string> m_statements;
    std::unique_ptr<PostgisSearchAhead> m_ahead;
    std::shared_ptr<const ShapesReadAhead> m_read_ahead;  // the shapes of another reading answered ahead
    mutable std::string m_shape_statement;
    struct QuerySystem {
        std::shared_ptr<const OGRSpatialReference> reference;  // held so that its address stays unique
        std::int32_t srid;
    };
    std::map<const OGRSpatialReference*, QuerySystem> m_query_systems;
};

/// One feature of a database table: its id, and its shape once read.
class PostgisFeature : public platform::IFeature {
public:
    PostgisFeature(std::shared_ptr<const PostgisFeatureClass> owner, std::int64_t fid,
                   std::optional<std::shared_ptr<gis::Shape>> shape)
        : m_owner(std::move(owner)) {
        MoveTo(fid, std::move(shape));
    }
    /// `shape` unset: read from the server when asked for.
    void MoveTo(std::int64_t fid, std::optional<std::shared_ptr<gis::Shape>> shape) {
        m_fid = fid;
        m_shape = std::move(shape);
    }
    const PostgisFeatureClass& Owner() const { return *m_owner; }

    std::int64_t Fid() const { return m_fid; }
    std::int64_t OID() override { return m_fid; }
    std::shared_ptr<platform::IGeometry> Shape() override;

private:
    std::shared_ptr<const PostgisFeatureClass> m_owner;
    std::int64_t m_fid = 0;
    std::optional<std::shared_ptr<gis::Shape>> m_shape;
};

}  // namespace selvane::gis
