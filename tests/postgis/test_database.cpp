#include "test_database.h"

#include <cstdlib>
#include <fstream>

namespace selvane::testing {
namespace {

std::string ConninfoFromEnvironment() {
    const char* file = std::getenv("SELVANE_TEST_PG_FILE");
    if (!file) return {};
    std::ifstream in(file);
    std::string conninfo;
    std::getline(in, conninfo);
    return conninfo;
}

std::string TypeName(int geometry_type) {
    switch (geometry_type) {
        case 1: return "Point";
        case 2: return "LineString";
        case 3: return "Polygon";
        case 4: return "MultiPoint";
        case 5: return "MultiLineString";
        case 6: return "MultiPolygon";
        default: return "Geometry";
    }
}

}  // namespace

gis::PostgisSource MapSource(const std::string& source) {
    return gis::PostgisSource(source, TestTuning(), gis::TableCopies());
}

TestDatabase::TestDatabase(const std::string& schema) : m_conninfo(ConninfoFromEnvironment()), m_schema(schema) {
    if (m_conninfo.empty()) {
        ADD_FAILURE() << "SELVANE_TEST_PG_FILE names no connection string: run the tests through ctest, which "
                         "starts the test server";
        return;
    }
    m_connection = PQconnectdb(m_conninfo.c_str());
    if (PQstatus(m_connection) != CONNECTION_OK) {
        ADD_FAILURE() << "cannot reach the test server: " << PQerrorMessage(m_connection);
        return;
    }
    PQsetNoticeProcessor(m_connection, [](void*, const char*) {}, nullptr);
    Execute("DROP SCHEMA IF EXISTS " + m_schema + " CASCADE");
    Execute("CREATE SCHEMA " + m_schema);
}

TestDatabase::~TestDatabase() {
    m_source.reset();
    if (m_connection) PQfinish(m_connection);
}

std::string TestDatabase::Execute(const std::string& sql) {
    if (!m_connection) return {};
    PGresult* result = PQexec(m_connection, sql.c_str());
    const auto status = PQresultStatus(result);
    std::string first;
    if (status == PGRES_TUPLES_OK && PQntuples(result) > 0 && PQnfields(result) > 0) first = PQgetvalue(result, 0, 0);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        ADD_FAILURE() << sql << ": " << PQerrorMessage(m_connection);
    }
    PQclear(result);
    return first;
}

void TestDatabase::WriteTable(const TableSpec& table) {
    const auto qualified = m_schema + "." + table.name;
    Execute("CREATE TABLE " + qualified + " (fid integer PRIMARY KEY, geom geometry(" + TypeName(table.geometry_type) +
            ", " + std::to_string(table.epsg) + "), zone text)");
    for (std::size_t index = 0; index < table.shapes.size(); ++index) {
        const std::string fid = std::to_string(index + 1);
        const auto& shape = table.shapes[index];
        const std::string geometry =
            shape.empty() ? "NULL" : "ST_GeomFromText('" + shape + "', " + std::to_string(table.epsg) + ")";
        const std::string zone = index < table.zones.size() ? "'" + table.zones[index] + "'" : "NULL";
        Execute("INSERT INTO " + qualified + " VALUES (" + fid + ", " + geometry + ", " + zone + ")");
    }
    Execute("CREATE INDEX ON " + qualified + " USING gist (geom)");
    Execute("ANALYZE " + qualified);
}

std::shared_ptr<gis::PostgisLayer> TestDatabase::Layer(const std::string& table, const std::string& name,
                                                       const std::string& definition_query) {
    if (!m_source) m_source = std::make_unique<gis::PostgisSource>(MapSource(Source()));
    auto feature_class = m_source->LoadTable(m_schema + "." + table);
    if (!definition_query.empty()) feature_class->RequireDefinitionQuery(definition_query);
    return std::make_shared<gis::PostgisLayer>(name.empty() ? table : name, feature_class, definition_query);
}

}  // namespace selvane::testing
