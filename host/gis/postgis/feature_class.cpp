#include "gis/postgis/feature_class.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "gis/common/cursors.h"
#include "gis/common/definition_query.h"
#include "gis/support/message_text.h"
#include "gis/geometry/prepared_query.h"
#include "gis/common/shape_errors.h"
#include "gis/geometry/spatial_relation.h"
#include "gis/wkb/wkb_outline.h"
#include "gis/wkb/wkb_shapes.h"
#include "gis/postgis/cursors.h"
#include "gis/postgis/definition_filter.h"
#include "gis/postgis/search_ahead.h"
#include "gis/postgis/sql.h"

namespace selvane::gis {

std::string PgTable::Qualified() const { return QuotedIdentifier(schema) + "." + QuotedIdentifier(table); }

PostgisFeatureClass::PostgisFeatureClass(std::shared_ptr<PgConnection> connection, PgTable table,
                                         std::shared_ptr<const OGRSpatialReference> spatial_reference,
                                         std::shared_ptr<EngineTuning> tuning, SearchesElsewhereMaker elsewhere)
    : m_connection(std::move(connection)),
      m_table(std::move(table)),
      m_spatial_reference(std::move(spatial_reference)),
      m_tuning(std::move(tuning)),
      m_elsewhere(std::move(elsewhere)) {}

PostgisFeatureClass::~PostgisFeatureClass() = default;

void PostgisFeatureClass::AddLayerName(const std::string& name) { m_layer_names.Add(name); }

std::string PostgisFeatureClass::Culprit() const {
    return m_layer_names.Around("table " + m_table.Display() + ", database " + m_connection->Named());
}

GdalTable PostgisFeatureClass::AsGdalTable() const {
    // Only the one table is looked up: the driver otherwise reads every table's definition.
    return {m_connection->Source(), m_table.Display(), {"TABLES=" + m_table.Display()}, m_table.fid_column, Culprit(),
            m_table.ids_without_key};
}

void PostgisFeatureClass::RequireDefinitionQuery(const std::string& where, std::chrono::milliseconds limit) {
    std::string filter;
    try {
        RequireEnclosedExpression(where);
        filter = DefinitionFilter(where, Scope());
    } catch (const platform::Error& error) {
        throw platform::Error(error.Number(), "the definition query '" + InMessage(where) + "' cannot be used on " +
                                                  Culprit() + ": " + error.what());
    }
    try {
        // Run by the server over every row of the table, as the layer's statements will
        // run it on the rows they meet: a filter too slow for the whole table is stopped
        // here, not in the middle of a run.
        m_connection->ExecuteWithin("SELECT count(*) FROM " + m_table.Rows() + " t WHERE (" + filter + ")", limit);
    } catch (const PgStatementStopped&) {
        throw platform::Error(platform::kFail, "table " + m_table.Display() + ": " + StoppedQueryText(where, limit));
    } catch (const platform::Error& error) {
        throw platform::Error(error.Number(), "the definition query '" + InMessage(where) + "' cannot be used on table " +
                                                  m_table.Display() + ": " + error.what());
    }
}

std::int32_t PostgisFeatureClass::FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) {
    if (std::dynamic_pointer_cast<platform::ISpatialFilter>(filter)) {
        auto cursor = Search(std::move(filter), true);
        std::int32_t count = 0;
        while (cursor->NextFeature()) ++count;
        return count;
    }
    if (!m_row_count) {
        try {
            const auto result = m_connection->Execute("SELECT count(*) FROM " + m_table.Rows(), {}, true);
            m_row_count = PgInteger(result.get(), 0, 0);
        } catch (const platform::Error& error) {
            throw platform::Error(error.Number(), "Cannot count " + Culprit() + ": " + m_connection->Words(error));
        }
    }
    if (*m_row_count > std::numeric_limits<std::int32_t>::max()) {
        throw platform::Error(platform::kFail, Culprit() + " has " + std::to_string(*m_row_count) +
                                                   " features, more than a count can hold");
    }
    return static_cast<std::int32_t>(*m_row_count);
}

std::shared_ptr<platform::IFeatureCursor> PostgisFeatureClass::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                                      bool recycling) {
    return SearchWhere(filter, recycling, {});
}

std::shared_ptr<platform::IFeatureCursor> PostgisFeatureClass::SearchWhere(
    const std::shared_ptr<platform::IQueryFilter>& filter, bool recycling, const std::string& where) {
    auto spatial = std::dynamic_pointer_cast<platform::ISpatialFilter>(filter);
    if (!spatial) return std::make_shared<PostgisScanCursor>(shared_from_this(), recycling, where);

    // What the filter asks of the layers' shape types fails here; anything after it (a lost
    // connection, a server that stopped) is no fault of the shapes, and its cursor says so.
    const auto request = ReadSpatialFilter(*spatial, m_table.geometry_column, m_table.Display(), m_table.dimension,
                                           [this] { return Culprit(); });
    if (!request.shape) return std::make_shared<EmptyCursor>();
    try {
        return SearchRequest(request, recycling, where);
    } catch (const platform::Error& error) {
        return std::make_shared<FailingCursor>(
            platform::Error(error.Number(), "Cannot search " + Culprit() + ": " + m_connection->Words(error)));
    }
}

void PostgisFeatureClass::RequireColumnAsOpened() const {
    if (m_column_checked == m_connection->TransactionSerial() && m_connection->InTransaction()) return;
    // The column of this table alone: the geometry_columns view reads every table's, which
    // other sessions may be dropping meanwhile ("cache lookup failed").
    const auto found = m_connection->Execute(
        "SELECT pg_catalog.format_type(atttypid, atttypmod) FROM pg_catalog.pg_attribute WHERE attrelid = "
        "$1::regclass AND attname = $2 AND NOT attisdropped",
        {{m_table.Qualified()}, {m_table.geometry_column}});
    const auto& was = m_table.declared_type;
    const auto now = PQntuples(found.get()) == 1 ? std::string(PQgetvalue(found.get(), 0, 0)) : std::string("gone");
    if (now != was) {
        throw platform::Error(platform::kFail, "table " + m_table.Display() + ": the geometry column " +
                                                   InMessage(m_table.geometry_column) + " is now " + now + " (it was " +
                                                   was + " when the map was opened); open the map again");
    }
    m_column_checked = m_connection->TransactionSerial();
}

std::shared_ptr<platform::IFeatureCursor> PostgisFeatureClass::SearchRequest(const SpatialQuery& request,
                                                                             bool recycling, const std::string& where) {
    const auto relation = request.relation;
    const auto* query = request.shape;
    const auto* origin = query->Origin();
    if (origin && relation != platform::esriSpatialRelEnvelopeIntersects) {
        try {
            origin->RequireFinite(query->Row());
            origin->RequireValid(query->Row());
        } catch (const platform::Error& error) {
            // A fault of the query shape's data, not of the search: the cursor reports it.
            return std::make_shared<FailingCursor>(error);
        }
    }

    const auto batch = std::dynamic_pointer_cast<const QueryBatch>(query->Reading());
    const bool scan_of_this_database = batch && batch->connection == m_connection.get();
    std::int32_t source_srid = 0;
    try {
        // The server's check of every coordinate is a scan of the whole table. A copy of
        // the whole table checks each coordinate as it reads it, so a scan that may copy
        // the table has it checked there, or here if the copy is not made.
        if (!batch || !where.empty()) RequireAllFinite();
        source_srid = QuerySrid(query->SpatialReference());
    } catch (const platform::Error& error) {
        return std::make_shared<FailingCursor>(error);
    }
    if (auto* elsewhere = ElsewhereFor(batch.get(), source_srid)) {
        if (auto cursor = elsewhere->Search(*this, batch, request, where, recycling)) return cursor;
    }
    try {
        RequireAllFinite();
    } catch (const platform::Error& error) {
        return std::make_shared<FailingCursor>(error);
    }
    // A shape of a scan: the shapes it shows next are answered ahead, the rest of the
    // batch of a scan of this database, or the next ones another reading tells of.
    std::shared_ptr<const AheadShapes> ahead = scan_of_this_database ? batch : nullptr;
    std::size_t position = query->Row();
    if (!ahead && query->Reading()) {
        auto found = m_read_ahead ? m_read_ahead->Position(query->Reading().get(), query->Row()) : std::nullopt;
        if (!found) {
            m_read_ahead = std::make_shared<const ShapesReadAhead>(query->Reading(), query->Row(), kShapesReadAhead);
            found = m_read_ahead->Position(query->Reading().get(), query->Row());
        }
        if (found) {
            ahead = m_read_ahead;
            position = *found;
        }
    }
    if (ahead) {
        auto self = shared_from_this();
        auto own = [self, relation, source_srid, where, query_owner = request.owner] {
            const auto* shape = dynamic_cast<const Shape*>(query_owner.get());
            return self->OwnSearch(relation, source_srid, where, *shape->Geometry());
        };
        if (!m_ahead) m_ahead = std::make_unique<PostgisSearchAhead>(*this);
        if (auto cursor = m_ahead->Search(ahead, position, {relation, source_srid, where}, recycling, own)) {
            return cursor;
        }
    }
    return std::make_shared<PostgisSearchCursor>(shared_from_this(), recycling,
                                                 OwnSearch(relation, source_srid, where, *query->Geometry()));
}

SearchesElsewhere* PostgisFeatureClass::ElsewhereFor(const QueryBatch* batch, std::int32_t source_srid) const {
    // A shape of a database scan, in this table's system: its searches may be answered
    // outside the server.
    return batch && source_srid == 0 ? batch->searches->Elsewhere(m_elsewhere) : nullptr;
}

void PostgisFeatureClass::PrepareSearch(const std::shared_ptr<platform::IQueryFilter>& filter,
                                        const std::string& where) noexcept {
    try {
        const auto spatial = std::dynamic_pointer_cast<platform::ISpatialFilter>(filter);
        if (!spatial) return;
        const auto request = ReadSpatialFilter(*spatial, m_table.geometry_column, m_table.Display(),
                                               m_table.dimension, [this] { return Culprit(); });
        if (!request.shape) return;
        const auto batch = std::dynamic_pointer_cast<const QueryBatch>(request.shape->Reading());
        if (auto* elsewhere = ElsewhereFor(batch.get(), QuerySrid(request.shape->SpatialReference()))) {
            elsewhere->Prepare(*this, batch, request, where);
        }
        RequireAllFinite();
    } catch (...) {
        // The search meets it again, and reports it.
    }
}

std::unique_ptr<FoundRows> PostgisFeatureClass::OwnSearch(platform::esriSpatialRelEnum relation,
                                                          std::int32_t source_srid, const std::string& where,
                                                          const geos::geom::Geometry& query) {
    RequireColumnAsOpened();
    const auto& statement = SearchStatement(relation, source_srid != 0, IsLargeArea(query), where);
    const std::vector<PgParameter> parameters{{ExtendedWkb(query, source_srid != 0 ? source_srid : m_table.srid), true}};
    return std::make_unique<StatementRows>(shared_from_this(), relation,
                                           std::make_unique<PgStream>(m_connection, statement, parameters));
}

const std::string& PostgisFeatureClass::SearchStatement(platform::esriSpatialRelEnum relation, bool projected,
                                                        bool large_area, const std::string& where) {
    auto& name = m_statements[{static_cast<int>(relation), projected, large_area, where}];
    if (!name.empty()) return name;
    // The query shape is a parameter; projected, it is projected once, in a CTE.
    const std::string target = "t." + QuotedIdentifier(m_table.geometry_column);
    const std::string query = projected ? "selvane_query.selvane_query_shape" : "$1::geometry";

    std::string sql;
    if (projected) {
        sql = "WITH selvane_query AS MATERIALIZED (SELECT ST_Transform($1::geometry, " + std::to_string(m_table.srid) +
              ") AS selvane_query_shape) ";
    }
    sql += "SELECT t." + QuotedIdentifier(m_table.fid_column) + "::int8" + PgValidityColumn(relation, m_table.dimension, target);
    sql += " FROM " + m_table.Rows() + " t" + (projected ? ", selvane_query" : "") + " WHERE " + target + " && " +
           query + " AND " + PgRelationSql(relation, query, target, large_area ? "true" : "false");
    if (!where.empty()) sql += " AND (" + where + ")";
    try {
        name = m_connection->Prepare(sql, 1);
    } catch (const platform::Error& error) {
        m_statements.erase({static_cast<int>(relation), projected, large_area, where});
        throw platform::Error(error.Number(), "Cannot search " + Culprit() + ": " + m_connection->Words(error));
    }
    return name;
}

std::int32_t PostgisFeatureClass::QuerySrid(const std::shared_ptr<const OGRSpatialReference>& reference) {
    if (!reference || !m_spatial_reference || reference == m_spatial_reference) return 0;
    auto found = m_query_systems.find(reference.get());
    if (found == m_query_systems.end()) {
        std::int32_t srid = 0;
        if (!reference->IsSame(m_spatial_reference.get())) {
            const char* authority = reference->GetAuthorityName(nullptr);
            const char* code = reference->GetAuthorityCode(nullptr);
            if (!authority || !code || std::string_view(authority) != "EPSG") {
                const char* name = reference->GetName();
                throw platform::Error(platform::kFail, std::string("A query shape in ") +
                                                           (name ? name : "a coordinate system") +
                                                           " cannot be projected by the server into that of " +
                                                           Culprit() + ": the system has no EPSG code");
            }
            srid = std::atoi(code);
        }
        found = m_query_systems.emplace(reference.get(), QuerySystem{reference, srid}).first;
    }
    return found->second.srid;
}

void PostgisFeatureClass::RequireAllFinite() {
    if (m_all_finite) return;
    // A measure that adds up every coordinate is NaN or infinite when one of them is.
    const auto g = "t." + QuotedIdentifier(m_table.geometry_column);
    const std::string measure = "CASE WHEN GeometryType(" + g + ") = 'POINT' THEN ST_X(" + g + ") + ST_Y(" + g +
                                ") WHEN GeometryType(" + g + ") = 'MULTIPOINT' THEN ST_Length(ST_LineFromMultiPoint(" +
                                g + ")) ELSE ST_Length(" + g + ") + ST_Perimeter(" + g + ") END";
    // A single point's box is the point, and a box test is a quarter of the measure's cost:
    // only a point outside every finite box (NaN, infinite, or beyond a float's range,
    // which the measure then tells apart) is measured. Empty points have no box and no
    // coordinates.
    const std::string outside_finite_box =
        m_table.single_points
            ? "NOT (" + g + " && 'BOX(-1e38 -1e38,1e38 1e38)'::box2d) AND NOT ST_IsEmpty(" + g + ") AND "
            : "";
    PgResult found(nullptr, &PQclear);
    try {
        found = m_connection->Execute("SELECT t." + QuotedIdentifier(m_table.fid_column) + "::int8 FROM " +
                                          m_table.Rows() + " t WHERE " + outside_finite_box + "NOT (" + measure +
                                          " - " + measure + " = 0) LIMIT 1",
                                      {}, true);
    } catch (const platform::Error& error) {
        // A run's first search or a drawing meets a lost server here: named with the layer.
        throw platform::Error(error.Number(), "Cannot read " + Culprit() + ": " + m_connection->Words(error));
    }
    if (PQntuples(found.get()) > 0) throw InvalidShapeError(Culprit(), PgInteger(found.get(), 0, 0), kNotFiniteReason);
    m_all_finite = true;
}

std::unique_ptr<geos::geom::Geometry> ReadServerShape(const unsigned char* wkb, std::size_t size) {
    // The commonest shapes (flat lines and areas, no nesting) are made without GEOS's reader.
    if (auto plain = ShapeOfPlainWkb(wkb, size, Shape::Factory())) return plain;
    // Checked before GEOS, whose reader recurses once a level.
    const auto outline = OutlineWkb(wkb, size);
    if (outline.curved) throw ShapeBytesFault("a curved shape, which is not read here");
    geos::io::WKBReader reader(Shape::Factory());
    return reader.read(wkb, size);
}

std::shared_ptr<Shape> PostgisFeatureClass::ShapeFromWkb(const char* bytes, std::size_t size, std::int64_t fid) const {
    std::unique_ptr<geos::geom::Geometry> geometry;
    try {
        geometry = ReadServerShape(reinterpret_cast<const unsigned char*>(bytes), size);
    } catch (const std::exception& error) {
        throw platform::Error(platform::kFail, "Cannot read the shape of " + Culprit() + ", FID " + std::to_string(fid) +
                                                   ": " + error.what());
    }
    // Named as a file's shape is, not handed on to match nothing.
    if (!AllCoordinatesFinite(*geometry)) throw InvalidShapeError(Culprit(), fid, kNotFiniteReason);
    auto shape = std::make_shared<Shape>(std::move(geometry), m_spatial_reference);
    shape->SetClassDimension(m_table.dimension);
    return shape;
}

std::shared_ptr<Shape> PostgisFeatureClass::ReadShape(std::int64_t fid) const {
    if (m_shape_statement.empty()) {
        m_shape_statement = m_connection->Prepare("SELECT ST_AsBinary(ST_Force2D(" +
                                                      QuotedIdentifier(m_table.geometry_column) + ")) FROM " +
                                                      m_table.Rows() + " WHERE " +
                                                      QuotedIdentifier(m_table.fid_column) + " = $1",
                                                  1);
    }
    const auto result = m_connection->ExecutePrepared(m_shape_statement, {{std::to_string(fid)}}, true);
    if (PQntuples(result.get()) == 0) {
        throw platform::Error(platform::kFail, Culprit() + " has no feature with FID " + std::to_string(fid) + " now");
    }
    if (PQgetisnull(result.get(), 0, 0)) return nullptr;
    return ShapeFromWkb(PQgetvalue(result.get(), 0, 0), static_cast<std::size_t>(PQgetlength(result.get(), 0, 0)), fid);
}

std::shared_ptr<platform::IGeometry> PostgisFeature::Shape() {
    if (!m_shape) m_shape = m_owner->ReadShape(m_fid);
    return *m_shape;
}

}  // namespace selvane::gis
