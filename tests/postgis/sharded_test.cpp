// A table spread over three servers (the partitions of a table on the coordinator, foreign
// tables of postgres_fdw) selects exactly what the same rows in one file select.

#include <gtest/gtest.h>

#include <sstream>

#include "gis/data_sources.h"
#include "gis/shards/sharded_layer.h"
#include "test_database.h"

namespace selvane::testing {
namespace {

// The tables of `tables` spread over the three shard servers, each row where the
// coordinator's hash of its id puts it, and the same rows in a GeoPackage.
struct SpreadRows {
    explicit SpreadRows(const std::vector<TableSpec>& tables)
        : file(folder.File("spread.gpkg")), coordinator("spread"), rows("spread_rows") {
        WriteGeoPackage(file, tables);
        coordinator.Execute("CREATE EXTENSION IF NOT EXISTS postgres_fdw");
        for (int shard = 1; shard <= 3; ++shard) {
            shards.push_back(std::make_unique<TestDatabase>("spread", ShardConninfo(shard)));
            AddServer("shard" + std::to_string(shard), ShardConninfo(shard));
        }
        for (const auto& table : tables) {
            rows.WriteTable(table);
            const auto type = coordinator.Execute("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE "
                                                  "attrelid = 'spread_rows." + table.name + "'::regclass AND attname = 'geom'");
            for (auto& shard : shards) {
                shard->Execute("CREATE TABLE spread." + table.name + " (fid integer PRIMARY KEY, geom " + type + ", zone text)");
                shard->Execute("CREATE INDEX ON spread." + table.name + " USING gist (geom)");
            }
            coordinator.Execute("CREATE TABLE spread." + table.name + " (fid integer, geom " + type +
                                ", zone text) PARTITION BY HASH (fid)");
            for (int shard = 1; shard <= 3; ++shard) {
                coordinator.Execute("CREATE FOREIGN TABLE spread." + table.name + "_" + std::to_string(shard) +
                                    " PARTITION OF spread." + table.name + " FOR VALUES WITH (MODULUS 3, REMAINDER " +
                                    std::to_string(shard - 1) + ") SERVER shard" + std::to_string(shard) +
                                    " OPTIONS (schema_name 'spread', table_name '" + table.name + "')");
            }
            coordinator.Execute("INSERT INTO spread." + table.name + " SELECT * FROM spread_rows." + table.name);
        }
    }

    // A foreign server of postgres_fdw at the place `conninfo` names.
    void AddServer(const std::string& name, const std::string& conninfo) {
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

    // The layer a map document naming the coordinator's `table` gets.
    std::shared_ptr<platform::ILayer> Layer(const std::string& table, const std::string& definition_query = {}) {
        if (!source) source = gis::KindOfSource(coordinator.Source()).open(coordinator.Source(), TestTuning());
        return source->Layer(table, "spread." + table, definition_query);
    }

    TempFolder folder;
    std::string file;
    TestDatabase coordinator;
    TestDatabase rows;
    std::vector<std::unique_ptr<TestDatabase>> shards;
    std::unique_ptr<gis::DataSource> source;
};

const char* const kRelations[] = {"INTERSECT", "ENVELOPE INTERSECT", "TOUCH", "OVERLAP",
                                  "CROSS", "WHOLLY CONTAIN", "ARE WHOLLY CONTAINED BY"};

TEST(ShardedTable, EveryRelationSelectsWhatTheSameRowsInOneFileSelect) {
    SpreadRows spread(EdgeCaseTables(0));
    const auto layers = [&spread](const std::string& definition_query) {
        return std::vector<std::shared_ptr<platform::ILayer>>{spread.Layer("cells", definition_query), spread.Layer("lines"),
                                                              spread.Layer("points"), spread.Layer("districts")};
    };
    const auto in_file = [&spread](const std::string& definition_query) {
        return std::vector<std::shared_ptr<platform::ILayer>>{LoadLayer(spread.file, "cells", "cells", definition_query),
                                                              LoadLayer(spread.file, "lines"),
                                                              LoadLayer(spread.file, "points"),
                                                              LoadLayer(spread.file, "districts")};
    };
    // Every part searched on its own server: the layer is one over three tables.
    const auto cells = std::dynamic_pointer_cast<gis::ShardedLayer>(spread.Layer("cells"));
    ASSERT_NE(cells, nullptr);
    EXPECT_EQ(cells->Class()->Parts().size(), 3u);

    const std::pair<const char*, const char*> pairings[] = {{"cells", "lines"},  {"cells", "cells"},  {"points", "cells"},
                                                            {"lines", "lines"},  {"lines", "cells"},  {"cells", "points"},
                                                            {"cells", "districts"}, {"points", "districts"}};
    int runs_with_ids = 0;
    for (const auto& [layer2, layer1] : pairings) {
        for (const char* relation : kRelations) {
            SCOPED_TRACE(std::string(layer2) + " " + relation + " " + layer1);
            const auto expected = RunOn(in_file({}), layer2, relation, layer1);
            const auto actual = RunOn(layers({}), layer2, relation, layer1);
            EXPECT_EQ(actual.ids, expected.ids);
            EXPECT_EQ(actual.messages, expected.messages);
            EXPECT_EQ(actual.count, expected.count);
            runs_with_ids += !expected.ids.empty();
        }
    }
    EXPECT_GT(runs_with_ids, 30);
    // A definition query (which the run applies to Layer #1's shapes) applies on every server.
    const auto filtered = RunOn(layers("fid IN (1, 2)"), "lines", "INTERSECT", "cells");
    EXPECT_EQ(filtered.ids, RunOn(in_file("fid IN (1, 2)"), "lines", "INTERSECT", "cells").ids);
    EXPECT_LT(filtered.ids.size(), RunOn(layers({}), "lines", "INTERSECT", "cells").ids.size());
}

}  // namespace
}  // namespace selvane::testing
