#include "gis/postgis_feature_class.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "gis/definition_query.h"
#include "gis/feature_cursor.h"
#include "gis/postgis_cursor.h"
#include "gis/postgis_search_ahead.h"
#include "gis/spatial_relation.h"

namespace selvane::gis {
namespace {

// The relation in SQL, with the query shape first as the spatial filter has it. The
// envelope comparison is exact: the index's `&&` compares rounded boxes.
std::string RelationSql(platform::esriSpatialRelEnum relation, const std::string& query, const std::string& target) {
    const auto call = [&](const char* function) { return std::string(function) + "(" + query + ", " + target + ")"; };
    switch (relation) {
        case platform::esriSpatialRelIntersects: return call("ST_Intersects");
        case platform::esriSpatialRelEnvelopeIntersects:
            return "ST_XMin(" + target + ") <= ST_XMax(" + query + ") AND ST_XMax(" + target + ") >= ST_XMin(" + query +
                   ") AND ST_YMin(" + target + ") <= ST_YMax(" + query + ") AND ST_YMax(" + target +
                   ") >= ST_YMin(" + query + ")";
        case platform::esriSpatialRelTouches: return call("ST_Touches");
        case platform::esriSpatialRelOverlaps: return call("ST_Overlaps");
        case platform::esriSpatialRelCrosses: return call("ST_Crosses");
        case platform::esriSpatialRelWithin: return call("ST_Within");
        case platform::esriSpatialRelContains: return call("ST_Contains");
        default: return "false";
    }
}

// The shape as PostGIS's binary form of a geometry: extended WKB, the SRID in the header.
std::string ExtendedWkb(const geos::geom::Geometry& geometry, std::int32_t srid) {
    geos::io::WKBWriter writer;
    std::ostringstream stream;
    writer.write(geometry, stream);
    std::string bytes = stream.str();
    if (bytes.size() < 5) return bytes;
    const bool little_endian = bytes[0] == 1;
    const auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            const int shift = little_endian ? 8 * i : 8 * (3 - i);
            bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> shift) & 0xFF);
        }
    };
    std::uint32_t type = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1 + static_cast<std::size_t>(i)]));
        type |= little_endian ? byte << (8 * i) : byte << (8 * (3 - i));
    }
    bytes.insert(5, 4, '\0');
    put(1, type | 0x20000000u);  // the flag of a header with an SRID
    put(5, static_cast<std::uint32_t>(srid));
    return bytes;
}

}  // namespace

std::string QuotedPgIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (const char c : name) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string PgTable::Qualified() const { return QuotedPgIdentifier(schema) + "." + QuotedPgIdentifier(table); }

PostgisFeatureClass::PostgisFeatureClass(std::shared_ptr<PgConnection> connection, PgTable table,
                                         std::shared_ptr<const OGRSpatialReference> spatial_reference)
    : m_connection(std::move(connection)), m_table(std::move(table)), m_spatial_reference(std::move(spatial_reference)) {}

PostgisFeatureClass::~PostgisFeatureClass() = default;

void PostgisFeatureClass::AddLayerName(const std::string& name) {
    if (std::find(m_layer_names.begin(), m_layer_names.end(), name) == m_layer_names.end()) m_layer_names.push_back(name);
}

std::string PostgisFeatureClass::Culprit() const {
    std::string text;
    if (!m_layer_names.empty()) {
        text = m_layer_names.size() == 1 ? "layer " : "layers ";
        for (std::size_t index = 0; index < m_layer_names.size(); ++index) {
            text += (index ? ", " : "") + m_layer_names[index];
        }
        text += " (";
    }
    text += "table " + m_table.Display() + ", database " + m_connection->Source();
    if (!m_layer_names.empty()) text += ")";
    return text;
}

void PostgisFeatureClass::RequireDefinitionQuery(const std::string& where) {
    try {
        RequireEnclosedExpression(where);
        // Parsed and planned by the server against the table, run to no rows.
        m_connection->Execute("SELECT 1 FROM " + m_table.Qualified() + " t WHERE (" + where + ") LIMIT 0");
    } catch (const platform::Error& error) {
        throw platform::Error(error.Number(), "the definition query '" + where + "' cannot be used on table " +
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
        const auto result = m_connection->Execute("SELECT count(*) FROM " + m_table.Qualified(), {}, true);
        m_row_count = PgInteger(result.get(), 0, 0);
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

    RequireShapeField(spatial->GeometryField(), m_table.geometry_column, m_table.Display());
    const auto relation = spatial->SpatialRel();
    RequireSupportedRelation(relation);
    auto query_owner = spatial->Geometry();
    const auto* query = dynamic_cast<const Shape*>(query_owner.get());
    if (query_owner && !query) throw platform::Error(platform::kInvalidArg, "The query shape is not a shape of this map");
    if (!query || query->IsEmpty()) return std::make_shared<EmptyCursor>();

    // The same gate as a class in memory: by the query's class, then by the one shape.
    const auto* query_class = query->Source();
    const auto declared =
        query_class ? query_class->Dimension() : query->ClassDimension().value_or(DimensionOf(*query->Geometry()));
    RequireRelationCanHold(relation, declared, m_table.dimension, Culprit());
    if (!RelationCanHold(relation, DimensionOf(*query->Geometry()), m_table.dimension)) {
        return std::make_shared<EmptyCursor>();
    }
    if (query_class && relation != platform::esriSpatialRelEnvelopeIntersects) {
        query_class->RequireFinite(query->Row());
        query_class->RequireValid(query->Row());
    }

    std::int32_t source_srid = 0;
    try {
        source_srid = QuerySrid(query->SpatialReference());
    } catch (const platform::Error& error) {
        return std::make_shared<FailingCursor>(error);
    }
    const auto& batch = query->Batch();
    if (!batch || batch->connection != m_connection.get()) {
        return OwnSearch(relation, source_srid, where, *query->Geometry(), recycling);
    }
    // A shape of a scan of this database: the searches of the rest of its batch are
    // answered ahead, unless that has failed for this batch already.
    const auto row = query->BatchRow();
    const std::tuple<int, std::int32_t, std::string> key{relation, source_srid, where};
    const bool going_on = m_ahead && m_ahead->batch == batch && m_ahead->key == key && row > m_ahead->last_asked;
    if (m_ahead && m_ahead->batch == batch && m_ahead->key == key && m_ahead->failed) {
        return OwnSearch(relation, source_srid, where, *query->Geometry(), recycling);
    }
    if (!going_on) {
        FinishAhead();
        m_ahead.reset();
        const auto& statement = AheadStatement(relation, source_srid, where);
        m_connection->Execute("SAVEPOINT selvane_search_ahead");
        auto ahead = std::make_unique<SearchAheadState>();
        ahead->batch = batch;
        ahead->key = key;
        ahead->first = row;
        ahead->reading_row = row;
        ahead->stream = std::make_unique<PgStream>(m_connection, statement,
                                                   std::vector<PgParameter>{{batch->ShapesFrom(row), true}});
        m_ahead = std::move(ahead);
    }
    m_ahead->last_asked = row;
    auto self = shared_from_this();
    auto own = [self, relation, source_srid, where, query_owner, recycling] {
        const auto* shape = dynamic_cast<const Shape*>(query_owner.get());
        return self->OwnSearch(relation, source_srid, where, *shape->Geometry(), recycling);
    };
    return std::make_shared<SearchAheadCursor>(self, recycling, relation, batch, row, std::move(own));
}

std::shared_ptr<platform::IFeatureCursor> PostgisFeatureClass::OwnSearch(platform::esriSpatialRelEnum relation,
                                                                         std::int32_t source_srid,
                                                                         const std::string& where,
                                                                         const geos::geom::Geometry& query,
                                                                         bool recycling) {
    const auto& statement = SearchStatement(relation, source_srid != 0, where);
    const std::vector<PgParameter> parameters{{ExtendedWkb(query, source_srid != 0 ? source_srid : m_table.srid), true}};
    return std::make_shared<PostgisSearchCursor>(shared_from_this(), recycling, relation,
                                                 std::make_unique<PgStream>(m_connection, statement, parameters));
}

void PostgisFeatureClass::FinishAhead() {
    if (!m_ahead || !m_ahead->stream) return;
    m_ahead->stream.reset();
    m_ahead->pending = nullptr;
    m_ahead->ended = true;
    if (m_ahead->failed || m_connection->Lost()) return;
    try {
        m_connection->Execute("RELEASE SAVEPOINT selvane_search_ahead");
    } catch (const platform::Error&) {
        // The transaction failed meanwhile; whoever uses it next starts it again.
    }
}

void PostgisFeatureClass::FailAhead() {
    if (!m_ahead) return;
    m_ahead->failed = true;
    m_ahead->pending = nullptr;
    m_ahead->stream.reset();
    m_connection->RollbackToSavepoint("selvane_search_ahead");
}

const std::string& PostgisFeatureClass::AheadStatement(platform::esriSpatialRelEnum relation, std::int32_t source_srid,
                                                       const std::string& where) {
    auto& name = m_ahead_statements[{relation, source_srid, where}];
    if (!name.empty()) return name;
    const auto srid = std::to_string(m_table.srid);
    const std::string read = "ST_GeomFromWKB(u.b, " + std::to_string(source_srid != 0 ? source_srid : m_table.srid) + ")";
    const std::string shape = source_srid != 0 ? "ST_Transform(" + read + ", " + srid + ")" : read;
    const std::string target = "t." + QuotedPgIdentifier(m_table.geometry_column);
    const std::string query = "q.selvane_query_shape";
    // OFFSET 0 keeps each query shape made once, not once per candidate.
    std::string sql = "SELECT q.selvane_query_row, t." + QuotedPgIdentifier(m_table.fid_column) + "::int8" +
                      ValidityColumn(relation, target) + " FROM (SELECT " + shape +
                      " AS selvane_query_shape, u.i AS selvane_query_row FROM unnest($1::bytea[]) WITH ORDINALITY "
                      "AS u(b, i) OFFSET 0) q JOIN " +
                      m_table.Qualified() + " t ON " + target + " && " + query + " AND " +
                      RelationSql(relation, query, target);
    if (!where.empty()) sql += " AND (" + where + ")";
    sql += " ORDER BY q.selvane_query_row";
    try {
        name = m_connection->Prepare(sql, 1);
    } catch (const platform::Error& error) {
        m_ahead_statements.erase({relation, source_srid, where});
        throw platform::Error(error.Number(), "Cannot search " + Culprit() + ": " + error.what());
    }
    return name;
}

std::string PostgisFeatureClass::ValidityColumn(platform::esriSpatialRelEnum relation, const std::string& target) const {
    // A point's only fault is a coordinate that is not a number, which PostGIS refuses to
    // store; other shapes found are checked, so that an answer never rests on an invalid one.
    if (relation == platform::esriSpatialRelEnvelopeIntersects || m_table.dimension == ShapeDimension::Point) return {};
    return ", CASE WHEN ST_IsValid(" + target + ") THEN NULL ELSE ST_IsValidReason(" + target + ") END";
}

const std::string& PostgisFeatureClass::SearchStatement(platform::esriSpatialRelEnum relation, bool projected,
                                                        const std::string& where) {
    auto& name = m_statements[{static_cast<int>(relation), projected, where}];
    if (!name.empty()) return name;
    // The query shape is a parameter; projected, it is projected once, in a CTE.
    const std::string target = "t." + QuotedPgIdentifier(m_table.geometry_column);
    const std::string query = projected ? "selvane_query.selvane_query_shape" : "$1::geometry";

    std::string sql;
    if (projected) {
        sql = "WITH selvane_query AS MATERIALIZED (SELECT ST_Transform($1::geometry, " + std::to_string(m_table.srid) +
              ") AS selvane_query_shape) ";
    }
    sql += "SELECT t." + QuotedPgIdentifier(m_table.fid_column) + "::int8" + ValidityColumn(relation, target);
    sql += " FROM " + m_table.Qualified() + " t" + (projected ? ", selvane_query" : "") + " WHERE " + target + " && " +
           query + " AND " + RelationSql(relation, query, target);
    if (!where.empty()) sql += " AND (" + where + ")";
    try {
        name = m_connection->Prepare(sql, 1);
    } catch (const platform::Error& error) {
        m_statements.erase({static_cast<int>(relation), projected, where});
        throw platform::Error(error.Number(), "Cannot search " + Culprit() + ": " + error.what());
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

std::shared_ptr<Shape> PostgisFeatureClass::ShapeFromWkb(const char* bytes, std::size_t size, std::int64_t fid) const {
    try {
        geos::io::WKBReader reader(Shape::Factory());
        auto shape = std::make_shared<Shape>(reader.read(reinterpret_cast<const unsigned char*>(bytes), size),
                                             m_spatial_reference);
        shape->SetClassDimension(m_table.dimension);
        return shape;
    } catch (const geos::util::GEOSException& error) {
        throw platform::Error(platform::kFail, "Cannot read the shape of " + Culprit() + ", FID " + std::to_string(fid) +
                                                   ": " + error.what());
    }
}

std::shared_ptr<Shape> PostgisFeatureClass::ReadShape(std::int64_t fid) const {
    if (m_shape_statement.empty()) {
        m_shape_statement = m_connection->Prepare("SELECT ST_AsBinary(ST_Force2D(" +
                                                      QuotedPgIdentifier(m_table.geometry_column) + ")) FROM " +
                                                      m_table.Qualified() + " WHERE " +
                                                      QuotedPgIdentifier(m_table.fid_column) + " = $1",
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
