#include "gis/postgis/source.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cctype>

#include "gis/support/gdal_session.h"
#include "gis/support/message_text.h"
#include "gis/postgis/sql.h"

namespace selvane::gis {
namespace {

std::string Text(const PGresult* result, int row, int column) {
    return PQgetisnull(result, row, column) ? std::string() : std::string(PQgetvalue(result, row, column));
}

// The shape type that geometry_columns gives ("MULTIPOLYGON", "POINTM", "GEOMETRY") by
// dimension; false for curves and surfaces, which GEOS cannot hold.
bool DimensionOfType(std::string type, ShapeDimension& dimension) {
    if (type.size() > 1 && type.back() == 'M' && type != "GEOMETRYCOLLECTIONM") type.pop_back();
    if (type == "GEOMETRYCOLLECTIONM") type = "GEOMETRYCOLLECTION";
    if (type == "POINT" || type == "MULTIPOINT") {
        dimension = ShapeDimension::Point;
    } else if (type == "LINESTRING" || type == "MULTILINESTRING") {
        dimension = ShapeDimension::Line;
    } else if (type == "POLYGON" || type == "MULTIPOLYGON") {
        dimension = ShapeDimension::Area;
    } else if (type == "GEOMETRY" || type == "GEOMETRYCOLLECTION") {
        dimension = ShapeDimension::Mixed;
    } else {
        return false;
    }
    return true;
}

std::shared_ptr<const OGRSpatialReference> SpatialReferenceOf(PgConnection& connection, std::int32_t srid,
                                                              const std::string& table) {
    if (srid <= 0) return nullptr;
    const auto result = connection.Execute("SELECT auth_name, auth_srid, srtext FROM spatial_ref_sys WHERE srid = $1",
                                           {{std::to_string(srid)}});
    if (PQntuples(result.get()) == 0) {
        throw platform::Error(platform::kFail, connection.Named() + ": table " + table + " uses SRID " +
                                                   std::to_string(srid) + ", which spatial_ref_sys does not list");
    }
    InitialiseGdal();
    GdalMessages gdal;
    std::shared_ptr<OGRSpatialReference> reference(new OGRSpatialReference(),
                                                   [](OGRSpatialReference* srs) { srs->Release(); });
    const auto authority = Text(result.get(), 0, 0);
    const bool by_code = (authority == "EPSG" || authority == "epsg") && !PQgetisnull(result.get(), 0, 1) &&
                         reference->importFromEPSG(std::atoi(PQgetvalue(result.get(), 0, 1))) == OGRERR_NONE;
    if (!by_code && reference->importFromWkt(Text(result.get(), 0, 2).c_str()) != OGRERR_NONE) {
        throw platform::Error(platform::kFail, connection.Named() + ": table " + table + ": the coordinate system of SRID " +
                                                   std::to_string(srid) + " cannot be read: " + gdal.Text());
    }
    // Longitude first for geographic systems, as PostGIS stores them.
    reference->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return reference;
}

// The SRID of a geometry column that declares none (as CREATE TABLE ... AS makes): the one
// its shapes carry. Shapes in several systems cannot be searched as one layer.
std::int32_t SridOfRows(PgConnection& connection, const PgTable& table) {
    const auto column = QuotedIdentifier(table.geometry_column);
    const auto first = connection.Execute("SELECT ST_SRID(" + column + ") FROM " + table.Rows() + " WHERE " + column +
                                          " IS NOT NULL LIMIT 1");
    if (PQntuples(first.get()) == 0) return 0;
    const auto srid = Text(first.get(), 0, 0);
    const auto other = connection.Execute("SELECT ST_SRID(" + column + ") FROM " + table.Rows() + " WHERE ST_SRID(" +
                                              column + ") <> $1::int4 LIMIT 1",
                                          {{srid}});
    if (PQntuples(other.get()) > 0) {
        throw platform::Error(platform::kFail, "table " + table.Display() + ": the shapes of " + InMessage(table.geometry_column) +
                                                   " are in more than one coordinate system (SRID " + srid + " and " +
                                                   Text(other.get(), 0, 0) + "), which one layer cannot search together");
    }
    return std::atoi(srid.c_str());
}

}  // namespace

PostgisSource::PostgisSource(const std::string& source, std::shared_ptr<EngineTuning> tuning,
                             SearchesElsewhereMaker elsewhere)
    : m_connection(std::make_shared<PgConnection>(source)), m_tuning(std::move(tuning)), m_elsewhere(std::move(elsewhere)) {
    const auto result =
        m_connection->Execute("SELECT to_regclass('geometry_columns') IS NOT NULL AND to_regtype('geometry') IS NOT NULL");
    if (Text(result.get(), 0, 0) != "t") {
        throw platform::Error(platform::kFail, m_connection->Named() + ": the database has no PostGIS (CREATE EXTENSION postgis)");
    }
    m_connection->EndTransaction();
}

std::vector<std::string> PostgisSource::FeatureTables() const {
    // Each name as a map document writes it: quoted where the server needs quotes (capitals,
    // spaces, dots), so that every table listed can be opened by its name.
    const auto result = m_connection->Execute(
        "SELECT DISTINCT f_table_schema::text, quote_ident(f_table_schema::text), quote_ident(f_table_name::text) "
        "FROM geometry_columns ORDER BY 1, 3");
    std::vector<std::string> tables;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        const auto schema = Text(result.get(), row, 1);
        const auto table = Text(result.get(), row, 2);
        tables.push_back(Text(result.get(), row, 0) == "public" ? table : schema + "." + table);
    }
    m_connection->EndTransaction();
    return tables;
}

std::vector<std::pair<std::string, std::shared_ptr<PostgisFeatureClass>>> PostgisSource::UsableTables() const {
    std::vector<std::pair<std::string, std::shared_ptr<PostgisFeatureClass>>> usable;
    for (const auto& table : FeatureTables()) {
        try {
            usable.emplace_back(table, LoadTable(table));
        } catch (const platform::Error&) {
            if (m_connection->Lost()) throw;
        }
    }
    return usable;
}

PgRelation PostgisSource::Find(const std::string& name) const {
    const auto& source = m_connection->Named();
    const auto fail = [&](const std::string& why) -> platform::Error {
        return platform::Error(platform::kFail, source + ": " + why);
    };
    PgResult found{nullptr, PQclear};
    try {
        // Looked up as the user's own session would (its search_path's schemas in order),
        // since the connection's search_path is pinned for functions.
        found = m_connection->Execute(
            "WITH name AS (SELECT pg_catalog.parse_ident($1) AS part) SELECT c.oid::int8::text, n.nspname::text, "
            "c.relname::text FROM name, pg_catalog.unnest(CASE WHEN pg_catalog.cardinality(part) = 2 THEN "
            "ARRAY[part[1]] ELSE $2::text[] END) WITH ORDINALITY AS s(schema, place), pg_catalog.pg_namespace n, "
            "pg_catalog.pg_class c WHERE n.nspname = s.schema AND c.relnamespace = n.oid AND c.relname = "
            "part[pg_catalog.cardinality(part)] AND pg_catalog.cardinality(part) <= 2 ORDER BY s.place LIMIT 1",
            {{name}, {m_connection->TableSchemas()}});
    } catch (const PgStatementStopped& error) {
        // Not an answer about the name: the server stopped looking.
        throw fail("the table " + InMessage(name) + " could not be looked up: " + m_connection->Words(error));
    } catch (const platform::Error& error) {
        throw fail("no table named " + InMessage(name) + " (" + m_connection->Words(error) + ")");
    }
    if (PQntuples(found.get()) == 0) {
        // The server folds a name without quotes to small letters.
        const bool capitals = std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
        throw fail("no table named " + InMessage(name) +
                   (capitals && name.find('"') == std::string::npos
                        ? " (a name with capitals is written in double quotes, as \"Name\" or schema.\"Name\")"
                        : ""));
    }
    return {Text(found.get(), 0, 0), Text(found.get(), 0, 1), Text(found.get(), 0, 2)};
}

std::shared_ptr<PostgisFeatureClass> PostgisSource::LoadTable(const std::string& name, const KnownOfTable* known) const {
    const auto fail = [&](const std::string& why) -> platform::Error {
        return platform::Error(platform::kFail, m_connection->Named() + ": " + why);
    };
    const auto relation = Find(name);
    const auto& oid = relation.oid;
    PgTable table;
    table.schema = relation.schema;
    table.table = relation.table;

    const auto columns = m_connection->Execute(
        "SELECT g.f_geometry_column::text, g.type, g.srid, g.coord_dimension, format_type(a.atttypid, a.atttypmod) "
        "FROM geometry_columns g JOIN pg_attribute a ON a.attrelid = "
        "$3::oid AND a.attname = g.f_geometry_column WHERE g.f_table_schema = $1 AND g.f_table_name = $2 ORDER BY "
        "a.attnum LIMIT 1",
        {{table.schema}, {table.table}, {oid}});
    if (PQntuples(columns.get()) == 0) {
        throw fail("table " + table.Display() + " has no geometry column (a geography column is not read as shapes)");
    }
    table.geometry_column = Text(columns.get(), 0, 0);
    const auto type = Text(columns.get(), 0, 1);
    if (!DimensionOfType(type, table.dimension)) {
        throw fail("table " + table.Display() + ": the geometry column " + table.geometry_column + " holds " + type +
                   " shapes, which the map cannot hold (points, lines and polygons, single or multi)");
    }
    table.srid = std::atoi(Text(columns.get(), 0, 2).c_str());
    table.declared_type = Text(columns.get(), 0, 4);
    table.single_points = type == "POINT" || type == "POINTM";
    table.flat_shapes = Text(columns.get(), 0, 3) == "2" && table.dimension != ShapeDimension::Mixed &&
                        type.back() != 'M';
    // Inheritance children hold rows with ids of their own, which the parent's primary key
    // does not cover; a partitioned table's partitions are its rows, under one key.
    const auto children = m_connection->Execute(
        "SELECT c.relkind::text, EXISTS (SELECT 1 FROM pg_inherits i WHERE i.inhparent = c.oid) FROM pg_class c "
        "WHERE c.oid = $1::oid",
        {{oid}});
    table.own_rows_only = Text(children.get(), 0, 0) != "p" && Text(children.get(), 0, 1) == "t";
    table.heap_rows = Text(children.get(), 0, 0) == "r";
    if (table.srid == 0 && known && known->srid) {
        table.srid = *known->srid;
    } else if (table.srid == 0) {
        try {
            table.srid = SridOfRows(*m_connection, table);
        } catch (const platform::Error& error) {
            throw fail(m_connection->Words(error));
        }
    }

    const auto keys = m_connection->Execute(
        "SELECT a.attname::text, format_type(a.atttypid, NULL) FROM pg_index i JOIN pg_attribute a ON a.attrelid = "
        "i.indrelid AND a.attnum = ANY(i.indkey) WHERE i.indrelid = $1::oid AND i.indisprimary",
        {{oid}});
    auto key_type = PQntuples(keys.get()) == 1 ? Text(keys.get(), 0, 1) : std::string();
    table.fid_column = PQntuples(keys.get()) == 1 ? Text(keys.get(), 0, 0) : std::string();
    const bool id_given = known && !known->id_column.empty();
    if (id_given && PQntuples(keys.get()) == 1 && table.fid_column != known->id_column) {
        throw fail("table " + table.Display() + " has the primary key " + InMessage(table.fid_column) +
                   ", which its features' ids are; not " + InMessage(known->id_column));
    }
    if (id_given && PQntuples(keys.get()) == 0) {
        const auto given = m_connection->Execute(
            "SELECT format_type(atttypid, NULL) FROM pg_catalog.pg_attribute WHERE attrelid = $1::oid AND attname = $2 "
            "AND attnum > 0 AND NOT attisdropped",
            {{oid}, {known->id_column}});
        key_type = PQntuples(given.get()) == 1 ? Text(given.get(), 0, 0) : std::string();
        table.fid_column = known->id_column;
        table.ids_without_key = true;
        if (key_type.empty()) throw fail("table " + table.Display() + " has no column " + InMessage(known->id_column));
    }
    if (key_type != "integer" && key_type != "bigint" && key_type != "smallint") {
        throw fail("table " + table.Display() +
                   (id_given ? ": the column " + InMessage(table.fid_column) + " is " + key_type + ", not an integer one"
                             : std::string(" has no primary key of one integer column, which its features need as "
                                           "object ids (a map may name one with \"id_column\")")));
    }
    const auto names = m_connection->Execute(
        "SELECT attname::text FROM pg_catalog.pg_attribute WHERE attrelid = $1::oid AND attnum > 0 AND NOT attisdropped",
        {{oid}});
    for (int row = 0; row < PQntuples(names.get()); ++row) table.columns.insert(Text(names.get(), row, 0));
    auto reference = SpatialReferenceOf(*m_connection, table.srid, table.Display());
    m_connection->EndTransaction();
    return std::make_shared<PostgisFeatureClass>(m_connection, std::move(table), std::move(reference), m_tuning,
                                                 m_elsewhere);
}

}  // namespace selvane::gis
