#include "gis/shards/shard_catalog.h"

#include "gis/postgis/connection_options.h"
#include "gis/support/sql_identifier.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

std::string Text(const PGresult* result, int row, int column) {
    return PQgetisnull(result, row, column) ? std::string() : std::string(PQgetvalue(result, row, column));
}

// A value in a libpq connection string: quoted, with its quotes and backslashes escaped.
std::string ConninfoValue(const std::string& value) {
    std::string quoted = "'";
    for (const char c : value) {
        if (c == '\'' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

}  // namespace

std::string SourceWithServer(const std::string& source, const std::string& host, const std::string& port,
                             const std::string& dbname) {
    std::string password_file_fault;
    std::string conninfo;
    for (const auto& [keyword, value] : ConnectionOptions(source, password_file_fault)) {
        // The server's place is the foreign server's; what the project adds is added again.
        if (keyword == "host" || keyword == "hostaddr" || keyword == "port" || keyword == "dbname" ||
            keyword == "passfile" || keyword == "fallback_application_name") {
            continue;
        }
        conninfo += keyword + "=" + ConninfoValue(value) + " ";
    }
    if (!host.empty()) conninfo += "host=" + ConninfoValue(host) + " ";
    if (!port.empty()) conninfo += "port=" + ConninfoValue(port) + " ";
    if (!dbname.empty()) conninfo += "dbname=" + ConninfoValue(dbname) + " ";
    if (!conninfo.empty()) conninfo.pop_back();
    return "PG:" + conninfo;
}

std::vector<ShardPlace> ForeignShards(const PostgisSource& coordinator, const PgRelation& relation) {
    auto& connection = *coordinator.Connection();
    // A partition's own schema and name, or those its foreign table reads on its server;
    // the server's host, port and database as postgres_fdw connects to them.
    const auto parts = connection.Execute(
        "SELECT n.nspname::text, c.relname::text, s.srvname::text, w.fdwname::text, "
        "(SELECT option_value FROM pg_catalog.pg_options_to_table(s.srvoptions) WHERE option_name = 'host'), "
        "(SELECT option_value FROM pg_catalog.pg_options_to_table(s.srvoptions) WHERE option_name = 'port'), "
        "(SELECT option_value FROM pg_catalog.pg_options_to_table(s.srvoptions) WHERE option_name = 'dbname'), "
        "(SELECT option_value FROM pg_catalog.pg_options_to_table(f.ftoptions) WHERE option_name = 'schema_name'), "
        "(SELECT option_value FROM pg_catalog.pg_options_to_table(f.ftoptions) WHERE option_name = 'table_name') "
        "FROM pg_catalog.pg_class p JOIN pg_catalog.pg_inherits i ON i.inhparent = p.oid "
        "JOIN pg_catalog.pg_class c ON c.oid = i.inhrelid JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
        "LEFT JOIN pg_catalog.pg_foreign_table f ON f.ftrelid = c.oid "
        "LEFT JOIN pg_catalog.pg_foreign_server s ON s.oid = f.ftserver "
        "LEFT JOIN pg_catalog.pg_foreign_data_wrapper w ON w.oid = s.srvfdw "
        "WHERE p.oid = $1::oid AND p.relkind = 'p' ORDER BY n.nspname, c.relname",
        {{relation.oid}});
    connection.EndTransaction();
    std::vector<ShardPlace> places;
    bool foreign = false;
    for (int row = 0; row < PQntuples(parts.get()); ++row) {
        const auto schema = Text(parts.get(), row, 0), name = Text(parts.get(), row, 1);
        const auto server = Text(parts.get(), row, 2);
        if (server.empty()) {
            places.push_back({"the coordinator", coordinator.Source(), QuotedIdentifier(schema) + "." + QuotedIdentifier(name),
                              schema + "." + name});
            continue;
        }
        if (Text(parts.get(), row, 3) != "postgres_fdw") {
            throw platform::Error(platform::kFail, connection.Named() + ": table " + relation.schema + "." + relation.table +
                                                       ": its partition " + schema + "." + name + " is a foreign table of " +
                                                       Text(parts.get(), row, 3) +
                                                       ", which the map cannot search on its server (postgres_fdw only)");
        }
        foreign = true;
        const auto remote_schema = Text(parts.get(), row, 7).empty() ? schema : Text(parts.get(), row, 7);
        const auto remote_name = Text(parts.get(), row, 8).empty() ? name : Text(parts.get(), row, 8);
        places.push_back({"server " + server,
                          SourceWithServer(coordinator.Source(), Text(parts.get(), row, 4), Text(parts.get(), row, 5),
                                           Text(parts.get(), row, 6)),
                          QuotedIdentifier(remote_schema) + "." + QuotedIdentifier(remote_name),
                          remote_schema + "." + remote_name});
    }
    if (!foreign) places.clear();
    return places;
}

}  // namespace selvane::gis
