// A table spread over three servers (the partitions of a table on the coordinator, foreign
// tables of postgres_fdw) selects exactly what the same rows in one file select.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "gis/shards/sharded_layer.h"
#include "spread_rows.h"
#include "test_database.h"

namespace selvane::testing {
namespace {

const char* const kRelations[] = {"INTERSECT", "ENVELOPE INTERSECT", "TOUCH", "OVERLAP",
                                  "CROSS", "WHOLLY CONTAIN", "ARE WHOLLY CONTAINED BY"};

TEST(ShardedTable, EveryRelationSelectsWhatTheSameRowsInOneFileSelect) {
    SpreadRows spread("spread", EdgeCaseTables(0));
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
    // Each part searched by its server, or from a copy of it in memory (all parts copied at
    // once, whichever server the query shapes come from).
    for (const auto rule : {gis::TableCopyRule::kNever, gis::TableCopyRule::kAlways}) {
        const ScopedTableCopyRule answered(rule);
        const auto copied = TablesCopied();
        for (const auto& [layer2, layer1] : pairings) {
            for (const char* relation : kRelations) {
                SCOPED_TRACE(std::string(layer2) + " " + relation + " " + layer1 + (rule == gis::TableCopyRule::kAlways ? " copied" : ""));
                const auto expected = RunOn(in_file({}), layer2, relation, layer1);
                const auto actual = RunOn(layers({}), layer2, relation, layer1);
                EXPECT_EQ(actual.ids, expected.ids);
                EXPECT_EQ(actual.messages, expected.messages);
                EXPECT_EQ(actual.count, expected.count);
                runs_with_ids += !expected.ids.empty();
            }
        }
        // Copies of the parts for the scans of whichever part (of whichever server) they search.
        EXPECT_EQ(TablesCopied() - copied > 100u, rule == gis::TableCopyRule::kAlways);
        EXPECT_EQ(TablesCopied() == copied, rule == gis::TableCopyRule::kNever);
    }
    EXPECT_GT(runs_with_ids, 60);
    // A definition query (which the run applies to Layer #1's shapes) applies on every server.
    const auto filtered = RunOn(layers("fid IN (1, 2)"), "lines", "INTERSECT", "cells");
    EXPECT_EQ(filtered.ids, RunOn(in_file("fid IN (1, 2)"), "lines", "INTERSECT", "cells").ids);
    EXPECT_LT(filtered.ids.size(), RunOn(layers({}), "lines", "INTERSECT", "cells").ids.size());
}

TEST(ShardedTable, TheCommandLineSelectsAndWritesOutWhatTheFileGives) {
    SpreadRows spread("spread_cli", EdgeCaseTables(0));
    // `cells_options`: what the map says of the cells layer beyond its table.
    const auto document = [&spread](const std::string& file, const std::string& cells_options) {
        const auto path = spread.folder.File(file);
        const auto source = spread.coordinator.Source();
        std::ofstream(path) << R"({"layers": [
            {"type": "feature", "name": "cells", "source": ")" + source + R"(", "table": "spread_cli.cells")" +
                                   cells_options + R"(},
            {"type": "feature", "name": "lines", "source": ")" + source + R"(", "table": "spread_cli.lines"}]})";
        return path;
    };
    const auto run = [&spread](const std::string& map, const std::string& output) {
        const auto written = spread.folder.File(output);
        const auto ran = RunSelvane("select --map " + ShellQuoted(map) +
                                    " --layer2 cells --relation TOUCH --layer1 lines --ids --output " + ShellQuoted(written));
        EXPECT_EQ(ran.status, 0) << ran.err;
        return std::make_pair(ran.out, Features(written));
    };
    const auto [spread_ids, spread_features] = run(document("map.json", ""), "spread.geojson");
    const auto [file_ids, file_features] = run(spread.file, "file.geojson");
    EXPECT_EQ(spread_ids, file_ids);
    // The features written are read through the coordinator, attributes and shapes.
    EXPECT_GT(spread_features.size(), 5u);
    EXPECT_EQ(spread_features, file_features);

    // Read through the coordinator as one table, with the ids the map names; the map's id
    // column must be there, an integer one, and the key of a table that has one.
    // Parts of a size nobody here knows are searched by the coordinator; analysed, copied.
    const auto through_map = document("through.json", R"(, "parts": "coordinator", "id_column": "fid")");
    EXPECT_EQ(run(through_map, "through.geojson"), std::make_pair(spread_ids, spread_features));
    for (int part = 1; part <= 3; ++part) spread.coordinator.Execute("ANALYZE spread_cli.cells_" + std::to_string(part));
    EXPECT_EQ(run(through_map, "copied.geojson"), std::make_pair(spread_ids, spread_features));

    // The parts listed by the map, with no coordinator: searched each on its server, and
    // written out from all of them.
    const auto listed = spread.folder.File("listed.json");
    std::ofstream(listed) << R"({"layers": [
        {"type": "feature", "name": "cells", "table": "spread_cli.cells", "parts": [")" + spread.shards[0]->Source() +
                                 R"(", ")" + spread.shards[1]->Source() + R"(", ")" + spread.shards[2]->Source() + R"("]},
        {"type": "feature", "name": "lines", "source": ")" + spread.coordinator.Source() + R"(", "table": "spread_cli.lines"}]})";
    EXPECT_EQ(run(listed, "listed.geojson"), std::make_pair(spread_ids, spread_features));
    for (const auto& [options, said] :
         {std::pair{R"(, "parts": "coordinator")", "has no primary key of one integer column, which its features need as "
                                                   "object ids (a map may name one with \"id_column\")"},
          std::pair{R"(, "parts": "coordinator", "id_column": "zone")", "the column zone is text, not an integer one"},
          std::pair{R"(, "id_column": "nowhere")", "part spread_cli.cells on server spread_cli_shard1: "},
          std::pair{R"(, "id_column": "nowhere")", "has the primary key fid, which its features' ids are; not nowhere"},
          std::pair{R"(, "parts": "coordinator", "id_column": "nowhere")", "has no column nowhere"},
          std::pair{R"(, "parts": "all")", "\"parts\" is \"coordinator\" or a list of the sources that hold the "
                                           "table's parts"}}) {
        const auto refused = RunSelvane("select --map " + ShellQuoted(document("refused.json", options)) +
                                        " --layer2 cells --relation TOUCH --layer1 lines");
        EXPECT_NE(refused.status, 0) << options;
        EXPECT_NE(refused.err.find(said), std::string::npos) << refused.err;
    }
}

TEST(ShardedTable, APartThatIsUnreachableLostDifferentOrSharesAnIdIsNamed) {
    SpreadRows spread("spread_faults", EdgeCaseTables(0));
    auto& coordinator = spread.coordinator;
    // A table with a part on a server nobody answers at, and one whose part has no shapes.
    const auto shard1 = ShardConninfo(1);
    spread.AddServer("spread_ghost", shard1.substr(0, shard1.find("port=")) + "port=1 dbname=selvane_test");
    spread.shards[1]->Execute("CREATE TABLE spread_faults.bare (fid integer PRIMARY KEY, zone text)");
    for (const char* table : {"unreached", "bare"}) {
        coordinator.Execute(std::string("CREATE TABLE spread_faults.") + table +
                            " (fid integer, geom geometry(Point, 0), zone text) PARTITION BY HASH (fid)");
    }
    coordinator.Execute("CREATE FOREIGN TABLE spread_faults.unreached_1 PARTITION OF spread_faults.unreached FOR VALUES WITH "
                        "(MODULUS 2, REMAINDER 0) SERVER spread_faults_shard1 OPTIONS (schema_name 'spread_faults', table_name 'points')");
    coordinator.Execute("CREATE FOREIGN TABLE spread_faults.unreached_2 PARTITION OF spread_faults.unreached FOR VALUES WITH "
                        "(MODULUS 2, REMAINDER 1) SERVER spread_ghost OPTIONS (schema_name 'spread_faults', table_name 'points')");
    coordinator.Execute("CREATE FOREIGN TABLE spread_faults.bare_1 PARTITION OF spread_faults.bare FOR VALUES WITH "
                        "(MODULUS 1, REMAINDER 0) SERVER spread_faults_shard2 OPTIONS (schema_name 'spread_faults', table_name 'bare')");
    const auto refused = [&spread](const std::string& table) {
        try {
            spread.Layer(table);
        } catch (const platform::Error& error) {
            return std::string(error.what());
        }
        return std::string("opened");
    };
    const auto unreached = refused("unreached");
    EXPECT_NE(unreached.find("part spread_faults.points on server spread_ghost: "), std::string::npos) << unreached;
    EXPECT_NE(unreached.find("cannot connect"), std::string::npos) << unreached;
    const auto bare = refused("bare");
    EXPECT_NE(bare.find("on server spread_faults_shard2: "), std::string::npos) << bare;
    EXPECT_NE(bare.find("has no geometry column"), std::string::npos) << bare;

    // One id on two servers: the run says which, and where.
    const auto layers = [&spread] {
        return std::vector<std::shared_ptr<platform::ILayer>>{spread.Layer("cells"), spread.Layer("lines")};
    };
    const auto before = RunOn(layers(), "cells", "INTERSECT", "lines");
    ASSERT_TRUE(before.messages.empty()) << before.messages.front();
    const auto held = [&spread](int shard) {
        return spread.shards[static_cast<std::size_t>(shard - 1)]->Execute("SELECT min(fid) FROM spread_faults.cells");
    };
    const auto twice = held(1);
    spread.shards[2]->Execute("DELETE FROM spread_faults.cells WHERE fid = " + held(3));
    const auto shape = coordinator.Execute("SELECT ST_AsText(geom) FROM spread_faults_rows.cells WHERE fid = " + twice);
    spread.shards[2]->Execute("INSERT INTO spread_faults.cells VALUES (" + twice + ", ST_Multi(ST_GeomFromText('" + shape +
                              "', 0)), 'a')");
    const auto shared = RunOn(layers(), "cells", "INTERSECT", "lines");
    ASSERT_EQ(shared.messages.size(), 1u);
    EXPECT_NE(shared.messages.front().find("gives the object id " + twice + " to a feature on server spread_faults_shard1 and to one on "
                                           "server spread_faults_shard3"),
              std::string::npos)
        << shared.messages.front();

    // A part's server lost after the map opened: the run ends through the report, naming it.
    const auto lost_layers = layers();
    spread.shards[1]->Execute(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'spread_faults'");
    const auto lost = RunOn(lost_layers, "cells", "INTERSECT", "lines");
    ASSERT_EQ(lost.messages.size(), 1u);
    const auto shard2 = ShardConninfo(2);
    const auto port2 = shard2.substr(shard2.find("port=") + 5, shard2.find(' ', shard2.find("port=")) - shard2.find("port=") - 5);
    EXPECT_NE(lost.messages.front().find("port='" + port2 + "'"), std::string::npos) << lost.messages.front();
}

TEST(ShardedTable, APartLostDuringARunEndsItThroughTheReportNamingItsServer) {
    SpreadRows spread("spread_during", EdgeCaseTables(0));
    const std::vector<std::shared_ptr<platform::ILayer>> layers{spread.Layer("cells"), spread.Layer("lines")};
    // The run waits on one part, locked by another session, and that part's connection is
    // ended under it.
    auto& locked = *spread.shards[1];
    locked.Execute("BEGIN");
    locked.Execute("LOCK TABLE spread_during.cells IN ACCESS EXCLUSIVE MODE");
    RunOutcome outcome;
    std::thread run([&] { outcome = RunOn(layers, "cells", "INTERSECT", "lines"); });
    const std::string waiting = "FROM pg_stat_activity WHERE application_name = 'spread_during' AND wait_event_type = 'Lock'";
    const bool waited = BecomesTrue(locked, "SELECT EXISTS (SELECT 1 " + waiting + ")");
    locked.Execute("SELECT pg_terminate_backend(pid) " + waiting);
    run.join();
    locked.Execute("ROLLBACK");
    ASSERT_TRUE(waited);
    ASSERT_EQ(outcome.messages.size(), 1u);
    const auto shard2 = ShardConninfo(2);
    const auto port = shard2.substr(shard2.find("port=") + 5, shard2.find(' ', shard2.find("port=")) - shard2.find("port=") - 5);
    EXPECT_NE(outcome.messages.front().find("Cannot read layer cells (table spread_during.cells, database PG:"),
              std::string::npos)
        << outcome.messages.front();
    EXPECT_NE(outcome.messages.front().find("port='" + port + "'"), std::string::npos) << outcome.messages.front();
    EXPECT_TRUE(outcome.ids.empty());
}

TEST(ShardedTable, AnInterruptedRunLeavesNoStatementOnAnyPart) {
    SpreadRows spread("spread_cancel", EdgeCaseTables(0));
    // One part locked by another session: the run waits on that server, the others done.
    auto& locked = *spread.shards[1];
    locked.Execute("BEGIN");
    locked.Execute("LOCK TABLE spread_cancel.cells IN ACCESS EXCLUSIVE MODE");
    const auto document = spread.folder.File("map.json");
    const auto source = spread.coordinator.Source() + " application_name=spread_cancel";
    std::ofstream(document) << R"({"layers": [
        {"type": "feature", "name": "cells", "source": ")" + source + R"(", "table": "spread_cancel.cells"},
        {"type": "feature", "name": "lines", "source": ")" + source + R"(", "table": "spread_cancel.lines"}]})";
    ::setenv("PGOPTIONS", "-c lock_timeout=600000", 1);
    const auto started = RunSelvane("select --map " + ShellQuoted(document) +
                                    " --layer2 cells --relation INTERSECT --layer1 lines >/dev/null 2>&1 & echo $!");
    ::unsetenv("PGOPTIONS");
    const int pid = std::atoi(started.out.c_str());
    ASSERT_GT(pid, 0) << started.out;
    const std::string waiting = "SELECT EXISTS (SELECT 1 FROM pg_stat_activity WHERE application_name = 'spread_cancel' "
                                "AND state = 'active' AND wait_event_type = 'Lock')";
    ASSERT_TRUE(BecomesTrue(locked, waiting));
    // The part's server says why its statement stopped (not that its client went away).
    std::string cluster;
    std::getline(std::ifstream(std::string(SELVANE_TEST_PG_SHARDS) + "/shard2/cluster"), cluster);
    std::ifstream server_log(cluster + "/server.log");
    ASSERT_TRUE(server_log) << cluster;
    server_log.seekg(0, std::ios::end);
    // SIGTERM: a background job of a shell ignores SIGINT, as Selvane leaves it.
    ::kill(pid, SIGTERM);
    // The program ends, and its statement on the part's server is cancelled first.
    EXPECT_TRUE(BecomesTrue(locked, "SELECT NOT (" + waiting.substr(7) + ")"));
    int tries = 0;
    while (::kill(pid, 0) == 0 && ++tries < 300) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LT(tries, 300);
    locked.Execute("ROLLBACK");
    std::string said, line;
    while (std::getline(server_log, line)) said += line + "\n";
    EXPECT_NE(said.find("canceling statement due to user request"), std::string::npos) << said;
    EXPECT_NE(said.find("spread_cancel"), std::string::npos) << said;
}

}  // namespace
}  // namespace selvane::testing
