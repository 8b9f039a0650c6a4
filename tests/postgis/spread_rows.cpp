#include "spread_rows.h"

#include <sstream>

#include "gis/data_sources.h"

namespace selvane::testing {

SpreadRows::SpreadRows(const std::string& name, const std::vector<TableSpec>& tables)
    : schema(name), file(folder.File(name + ".gpkg")), coordinator(name), rows(name + "_rows") {
    WriteGeoPackage(file, tables);
    // Tests at once would race to make the extension.
    coordinator.Execute("BEGIN; SELECT pg_advisory_xact_lock(4242); CREATE EXTENSION IF NOT EXISTS postgres_fdw; COMMIT");
    for (int shard = 1; shard <= 3; ++shard) {
        shards.push_back(std::make_unique<TestDatabase>(schema, ShardConninfo(shard)));
        AddServer(schema + "_shard" + std::to_string(shard), ShardConninfo(shard));
    }
    for (const auto& table : tables) {
        rows.WriteTable(table);
        const auto type = coordinator.Execute("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE "
                                              "attrelid = '" + schema + "_rows." + table.name + "'::regclass AND attname = 'geom'");
        for (auto& shard : shards) {
            shard->Execute("CREATE TABLE " + schema + "." + table.name + " (fid integer PRIMARY KEY, geom " + type + ", zone text)");
            shard->Execute("CREATE INDEX ON " + schema + "." + table.name + " USING gist (geom)");
        }
        coordinator.Execute("CREATE TABLE " + schema + "." + table.name + " (fid integer, geom " + type +
                            ", zone text) PARTITION BY HASH (fid)");
        for (int shard = 1; shard <= 3; ++shard) {
            coordinator.Execute("CREATE FOREIGN TABLE " + schema + "." + table.name + "_" + std::to_string(shard) +
                                " PARTITION OF " + schema + "." + table.name + " FOR VALUES WITH (MODULUS 3, REMAINDER " +
                                std::to_string(shard - 1) + ") SERVER " + schema + "_shard" + std::to_string(shard) +
                                " OPTIONS (schema_name '" + schema + "', table_name '" + table.name + "')");
        }
        coordinator.Execute("INSERT INTO " + schema + "." + table.name + " SELECT * FROM " + schema + "_rows." + table.name);
    }
}

void SpreadRows::AddServer(const std::string& name, const std::string& conninfo) {
    std::string host, port;
    std::istringstream words(conninfo);
    for (std::string word; words >> word;) {
        if (word.rfind("host=", 0) == 0) host = word.substr(5);
        if (word.rfind("port=", 0) == 0) port = word.substr(5);
    }
    coordinator.Execute("DROP SERVER IF EXISTS " + name + " CASCADE");
    coordinator.Execute("CREATE SERVER " + name + " FOREIGN DATA WRAPPER postgres_fdw OPTIONS (host '" + host +
                        "', port '" + port + "', dbname 'selvane_test')");
    coordinator.Execute("CREATE USER MAPPING FOR CURRENT_USER SERVER " + name + " OPTIONS (user 'selvane')");
}

std::shared_ptr<platform::ILayer> SpreadRows::Layer(const std::string& table, const std::string& definition_query) {
    const auto named = coordinator.Source() + " application_name=" + schema;
    if (!source) source = gis::KindOfSource(named).open(named, TestTuning());
    return source->Layer(gis::LayerEntry{table, schema + "." + table, definition_query, {}, false, {}});
}

}  // namespace selvane::testing
