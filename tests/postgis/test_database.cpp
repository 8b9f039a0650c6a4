#include "test_database.h"

#include <ogr_core.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace selvane::testing {
namespace {

std::string FirstLine(const char* file) {
    if (!file) return {};
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
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

std::string Square(double x, double y, double size) {
    const auto c = [](double v) { return std::to_string(v); };
    return "POLYGON((" + c(x) + " " + c(y) + "," + c(x + size) + " " + c(y) + "," + c(x + size) + " " + c(y + size) +
           "," + c(x) + " " + c(y + size) + "," + c(x) + " " + c(y) + "))";
}

// Shapes with the cases where exact answers differ most: cells that share edges, lines
// along those edges and through corners, holes, multi-part shapes, points on vertices,
// on edges and inside.
std::vector<TableSpec> EdgeCaseTables(int epsg) {
    TableSpec cells{"cells", wkbMultiPolygon, epsg, {}, {}};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            cells.shapes.push_back("MULTIPOLYGON(((" + Square(column * 10, row * 10, 10).substr(9)  + ")");
        }
    }
    cells.shapes.push_back("MULTIPOLYGON(((5 5,35 5,35 35,5 35,5 5),(10 10,30 10,30 30,10 30,10 10)))");
    cells.shapes.push_back("MULTIPOLYGON(((0 0,5 0,5 5,0 5,0 0)),((35 35,40 35,40 40,35 40,35 35)))");
    cells.shapes.push_back("MULTIPOLYGON(((12 12,18 12,18 18,12 18,12 12)))");
    cells.shapes.push_back("MULTIPOLYGON(((20 0,30 10,20 20,10 10,20 0)))");
    cells.shapes.push_back("");  // a feature without a shape

    TableSpec lines{"lines", wkbLineString, epsg, {}, {}};
    lines.shapes = {"LINESTRING(0 10,40 10)",    "LINESTRING(10 0,10 40)",   "LINESTRING(0 0,40 40)",
                    "LINESTRING(12 12,18 18)",  "LINESTRING(5 15,10 15)",   "LINESTRING(15 15,25 15)",
                    "LINESTRING(-5 20,45 20)",  "LINESTRING(20 20,30 30)",  "LINESTRING(0 40,20 20)",
                    "LINESTRING(3 3,4 4)",      "LINESTRING(10 10,20 10)",  "LINESTRING(35 5,35 35)"};

    TableSpec points{"points", wkbPoint, epsg, {}, {}};
    for (int x = 0; x <= 40; x += 5) {
        for (int y = 0; y <= 40; y += 5) points.shapes.push_back("POINT(" + std::to_string(x) + " " + std::to_string(y) + ")");
    }
    points.shapes.push_back("POINT(15.5 15.5)");
    points.shapes.push_back("POINT EMPTY");

    // Areas of more than a hundred vertices, which the searches answer with their
    // shortcuts: one along the cells' edges and across them, one with a hole.
    TableSpec districts{"districts", wkbPolygon, epsg, {}, {}};
    const auto walk = [](double x0, double y0, double x1, double y1) {  // corners every unit along a rectangle
        std::string ring;
        for (double x = x0; x < x1; ++x) ring += std::to_string(x) + " " + std::to_string(y0) + ",";
        for (double y = y0; y < y1; ++y) ring += std::to_string(x1) + " " + std::to_string(y) + ",";
        for (double x = x1; x > x0; --x) ring += std::to_string(x) + " " + std::to_string(y1) + ",";
        for (double y = y1; y > y0; --y) ring += std::to_string(x0) + " " + std::to_string(y) + ",";
        return "(" + ring + std::to_string(x0) + " " + std::to_string(y0) + ")";
    };
    districts.shapes = {"POLYGON(" + walk(10, 5, 35, 30) + ")", "POLYGON(" + walk(0, 20, 40, 40) + "," + walk(12, 25, 18, 32) + ")"};

    for (auto* table : {&cells, &lines, &points, &districts}) {
        for (std::size_t index = 0; index < table->shapes.size(); ++index) table->zones.push_back(index % 3 ? "a" : "b");
    }
    return {cells, lines, points, districts};
}

#ifdef SELVANE_TEST_PG_SHARDS
std::string ShardConninfo(int shard) {
    return FirstLine((std::string(SELVANE_TEST_PG_SHARDS) + "/shard" + std::to_string(shard) + "/conninfo").c_str());
}
#endif

gis::PostgisSource MapSource(const std::string& source) {
    return gis::PostgisSource(source, TestTuning(), gis::TableCopies());
}

TestDatabase::TestDatabase(const std::string& schema) : TestDatabase(schema, FirstLine(std::getenv("SELVANE_TEST_PG_FILE"))) {}

TestDatabase::TestDatabase(const std::string& schema, const std::string& conninfo)
    : m_conninfo(conninfo), m_schema(schema) {
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

bool BecomesTrue(TestDatabase& database, const std::string& sql) {
    for (int tries = 0; tries < 300; ++tries) {
        database.Execute("SELECT pg_stat_clear_snapshot()");  // activity read afresh inside a transaction
        if (database.Execute(sql) == "t") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

}  // namespace selvane::testing
