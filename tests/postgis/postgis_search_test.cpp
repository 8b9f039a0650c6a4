// Layers in PostGIS select exactly what layers in memory select on the same rows.

#include <gtest/gtest.h>

#include <ogr_core.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <tuple>

#include "gis/geometry/shape.h"
#include "gis/wkb/wkb_outline.h"
#include "test_database.h"

namespace selvane::testing {
namespace {

// The same rows in a GeoPackage and in a schema of the test server.
struct SameRows {
    SameRows(const std::string& schema, const std::vector<TableSpec>& tables)
        : file(folder.File(schema + ".gpkg")), database(schema) {
        WriteGeoPackage(file, tables);
        for (const auto& table : tables) database.WriteTable(table);
    }
    TempFolder folder;
    std::string file;
    TestDatabase database;
};

const char* const kRelations[] = {"INTERSECT", "ENVELOPE INTERSECT", "TOUCH", "OVERLAP",
                                  "CROSS", "WHOLLY CONTAIN", "ARE WHOLLY CONTAINED BY"};

// A run whose searches of a database table are answered as `rule` says, and how many
// tables it read into memory, and how many of those in two halves.
struct AnsweredRun {
    RunOutcome outcome;
    std::size_t copies = 0;
    std::size_t halves = 0;
};

AnsweredRun RunAnswered(gis::TableCopyRule rule, std::vector<std::shared_ptr<platform::ILayer>> layers,
                        const std::string& layer2, const std::string& relation, const std::string& layer1) {
    const ScopedTableCopyRule answered(rule);
    const auto copied = TablesCopied();
    const auto copied_in_halves = TablesCopiedInHalves();
    auto outcome = RunOn(std::move(layers), layer2, relation, layer1);
    return {outcome, TablesCopied() - copied, TablesCopiedInHalves() - copied_in_halves};
}

// The run on a copy selects what the server's run selects, of at least `least` features,
// without a message; the copy was made (not left to the server after it failed) `copies`
// times, and the server's run made none.
void ExpectAnsweredAlike(const AnsweredRun& server, const AnsweredRun& memory, std::size_t least, std::size_t copies) {
    EXPECT_TRUE(server.outcome.messages.empty()) << server.outcome.messages.front();
    EXPECT_TRUE(memory.outcome.messages.empty()) << memory.outcome.messages.front();
    EXPECT_GE(server.outcome.ids.size(), least);
    EXPECT_EQ(memory.outcome.ids, server.outcome.ids);
    EXPECT_EQ(memory.outcome.count, server.outcome.count);
    EXPECT_EQ(server.copies, 0u);
    EXPECT_EQ(memory.copies, copies);
}

TEST(PostgisSearch, EveryRelationSelectsWhatTheSameRowsInAGeoPackageSelect) {
    SameRows rows("oracle", EdgeCaseTables(0));
    const auto& file = rows.file;
    auto& database = rows.database;

    const std::pair<const char*, const char*> pairings[] = {
        {"cells", "lines"}, {"cells", "cells"}, {"points", "cells"}, {"lines", "lines"},
        {"lines", "cells"}, {"cells", "points"}, {"lines", "points"}, {"points", "points"},
        {"cells", "districts"}, {"lines", "districts"}, {"points", "districts"}};
    int runs_with_ids = 0;
    for (const auto& [layer2, layer1] : pairings) {
        for (const char* relation : kRelations) {
            SCOPED_TRACE(std::string(layer2) + " " + relation + " " + layer1);
            const auto expected = RunOn({LoadLayer(file, "cells"), LoadLayer(file, "lines"), LoadLayer(file, "points"),
                                         LoadLayer(file, "districts")},
                                        layer2, relation, layer1);
            // Both layers in the database: searched in the server, and in the table read
            // into memory for the run.
            for (const auto rule : {gis::TableCopyRule::kNever, gis::TableCopyRule::kAlways}) {
                SCOPED_TRACE(rule == gis::TableCopyRule::kNever ? "in the server" : "in memory");
                const ScopedTableCopyRule answered(rule);
                const auto actual = RunOn({database.Layer("cells"), database.Layer("lines"), database.Layer("points"),
                                           database.Layer("districts")},
                                          layer2, relation, layer1);
                EXPECT_EQ(actual.ids, expected.ids);
                EXPECT_EQ(actual.messages, expected.messages);
                EXPECT_EQ(actual.count, expected.count);
            }
            runs_with_ids += !expected.ids.empty();
            if (std::string(layer1) == "districts") {
                // Query shapes from a file: each searched in the server on its own.
                const auto mixed = RunOn({database.Layer("cells"), database.Layer("lines"), database.Layer("points"),
                                          LoadLayer(file, "districts")},
                                         layer2, relation, layer1);
                EXPECT_EQ(mixed.ids, expected.ids);
            }
        }
    }
    // The pairings are chosen so that most relations select something.
    EXPECT_GT(runs_with_ids, 40);
}

TEST(PostgisSearch, ManyQueryShapesAreAnsweredOnTwoConnectionsAsOneAtATimeWouldBe) {
    // The searches in the server, on two connections.
    const ScopedTableCopyRule server(gis::TableCopyRule::kNever);
    auto tables = EdgeCaseTables(0);
    TableSpec points{"many", wkbPoint, 0, {}, {}};
    for (int x = 0; x < 40; ++x) {
        for (int y = 0; y < 40; ++y) points.shapes.push_back("POINT(" + std::to_string(x) + " " + std::to_string(y) + ")");
    }
    tables.push_back(points);
    SameRows rows("many", tables);
    const auto& file = rows.file;
    auto& database = rows.database;

    int round = 0;
    for (const char* relation : {"INTERSECT", "TOUCH", "WHOLLY CONTAIN"}) {
        SCOPED_TRACE(relation);
        const auto expected = RunOn({LoadLayer(file, "cells"), LoadLayer(file, "many")}, "cells", relation, "many");
        // A name of this round's map on the server, so that only its connections are
        // counted: other suites use the server too, and the last round's connections may
        // still be closing.
        const auto name = "selvane_many_" + std::to_string(++round);
        auto source = MapSource(database.Source() + " application_name=" + name);
        auto cells = std::make_shared<gis::PostgisLayer>("cells", source.LoadTable("many.cells"));
        auto many = std::make_shared<gis::PostgisLayer>("many", source.LoadTable("many.many"));
        const auto actual = RunOn({cells, many}, "cells", relation, "many");
        EXPECT_EQ(actual.ids, expected.ids);
        EXPECT_EQ(actual.messages, expected.messages);
        // The searches of the 1600 points were shared between the map's connection and a
        // second one, which lives as long as the class.
        EXPECT_EQ(database.Execute("SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + name + "'"), "2");
    }
}

TEST(PostgisSearch, QueryShapesOfAFileAreAnsweredAheadAWindowAtATimeAsOneAtATimeWouldBe) {
    // A square around each point of a grid; the file's squares searched in the server, the
    // next shapes of the file answered a window of 1,024 at a time: none, one, a window,
    // one more, and two windows and one.
    const ScopedTableCopyRule server(gis::TableCopyRule::kNever);
    TableSpec points{"points", wkbPoint, 0, {}, {}};
    TableSpec squares{"squares", wkbPolygon, 0, {}, {}};
    for (int index = 0; index < 2100; ++index) {
        const double x = index % 60, y = index / 60;
        points.shapes.push_back("POINT(" + std::to_string(x) + " " + std::to_string(y) + ")");
        squares.shapes.push_back(Square(x - 0.25, y - 0.25, 0.5));
    }
    SameRows rows("windows", {points, squares});
    for (const int count : {0, 1, 1024, 1025, 2049}) {
        SCOPED_TRACE(count);
        const auto queries = [&] { return LoadLayer(rows.file, "squares", "squares", "fid <= " + std::to_string(count)); };
        const auto expected = RunOn({LoadLayer(rows.file, "points"), queries()}, "points", "INTERSECT", "squares");
        const auto actual = RunOn({rows.database.Layer("points"), queries()}, "points", "INTERSECT", "squares");
        EXPECT_EQ(actual.ids, expected.ids);
        EXPECT_EQ(actual.count, std::to_string(count));
    }
}

TEST(PostgisSearch, QueryShapesInAnotherSystemAreProjectedByTheServer) {
    // The same places in two systems: Web Mercator targets, longitude/latitude queries.
    TableSpec targets{"targets", wkbPolygon, 3857, {}, {}};
    TableSpec queries{"queries", wkbPoint, 4326, {}, {}};
    for (int i = 0; i < 12; ++i) {
        const double x = 1000000.0 + i * 20000.0;
        targets.shapes.push_back(Square(x, 6000000.0, 15000.0));
    }
    for (int i = 0; i < 8; ++i) {
        const double lon = 8.99 + i * 0.07;
        queries.shapes.push_back("POINT(" + std::to_string(lon) + " 47.40)");
    }
    SameRows rows("systems", {targets, queries});
    const auto& file = rows.file;
    auto& database = rows.database;

    const auto expected =
        RunOn({LoadLayer(file, "targets"), LoadLayer(file, "queries")}, "targets", "INTERSECT", "queries");
    ASSERT_FALSE(expected.ids.empty());
    ASSERT_LT(expected.ids.size(), targets.shapes.size());
    // Targets in the database, queries in the file; then the other way round.
    const auto in_server =
        RunOn({database.Layer("targets"), LoadLayer(file, "queries")}, "targets", "INTERSECT", "queries");
    EXPECT_EQ(in_server.ids, expected.ids);
    EXPECT_TRUE(in_server.messages.empty());
    const auto in_memory =
        RunOn({LoadLayer(file, "targets"), database.Layer("queries")}, "targets", "INTERSECT", "queries");
    EXPECT_EQ(in_memory.ids, expected.ids);
}

TEST(PostgisSearch, DefinitionQueriesFilterLayerOneInTheServer) {
    SameRows rows("queries", EdgeCaseTables(0));
    const auto& file = rows.file;
    auto& database = rows.database;

    const auto expected = RunOn({LoadLayer(file, "cells"), LoadLayer(file, "lines", "lines", "zone = 'b'")}, "cells",
                                "INTERSECT", "lines");
    const auto actual = RunOn({database.Layer("cells"), database.Layer("lines", "lines", "zone = 'b'")}, "cells",
                              "INTERSECT", "lines");
    const auto unfiltered =
        RunOn({database.Layer("cells"), database.Layer("lines")}, "cells", "INTERSECT", "lines");
    EXPECT_EQ(actual.ids, expected.ids);
    EXPECT_LT(actual.ids.size(), unfiltered.ids.size());
}

TEST(PostgisSearch, SelectionsHoldIdsInOrderOnceEachAndCountAtOnce) {
    gis::IdSelection selection;
    constexpr auto kLowest = std::numeric_limits<std::int64_t>::min();
    constexpr auto kHighest = std::numeric_limits<std::int64_t>::max();
    // Either side of the ids from 0 to 2^32 - 1, which are held apart from the others.
    for (const std::int64_t id : std::vector<std::int64_t>{7, -3, 5'000'000'000, 7, 0, -3, 4'294'967'296, kHighest,
                                                           4'294'967'295, -1, kLowest, 4'294'967'296}) {
        selection.Add(id);
    }
    EXPECT_EQ(selection.Count(), 9u);
    EXPECT_TRUE(selection.Contains(-3));
    EXPECT_FALSE(selection.Contains(3));
    EXPECT_TRUE(selection.Contains(4'294'967'295));
    EXPECT_FALSE(selection.Contains(4'294'967'294));
    EXPECT_FALSE(selection.Contains(8'589'934'592 + 7));
    std::vector<std::int64_t> ids;
    selection.ForEachId([&ids](std::int64_t id) { ids.push_back(id); });
    EXPECT_EQ(ids, (std::vector<std::int64_t>{kLowest, -3, -1, 0, 7, 4'294'967'295, 4'294'967'296, 5'000'000'000,
                                              kHighest}));
    for (std::int64_t id = 0; id < 3'000'000; ++id) selection.Add(id);
    EXPECT_EQ(selection.Count(), 3'000'007u);
    selection.Clear();
    EXPECT_EQ(selection.Count(), 0u);
}

TEST(PostgisSearch, TheCommandLineSelectsFromADatabaseNamedInAMapDocument) {
    SameRows rows("cli", EdgeCaseTables(0));
    const auto& file = rows.file;
    auto& database = rows.database;
    const auto document = rows.folder.File("map.json");
    std::ofstream(document) << R"({"layers": [
        {"type": "feature", "name": "Cells", "source": ")" + database.Source() + R"(", "table": "cli.cells"},
        {"type": "feature", "name": "Lines", "source": ")" + database.Source() + R"(", "table": "cli.lines"}]})";

    const auto from_database = RunSelvane("select --map " + ShellQuoted(document) +
                                          " --layer2 Cells --relation CROSS --layer1 Lines --ids");
    const auto from_file = RunSelvane("select --map " + ShellQuoted(file) +
                                      " --layer2 cells --relation CROSS --layer1 lines --ids");
    EXPECT_EQ(from_database.status, 0) << from_database.err;
    EXPECT_EQ(from_database.out, from_file.out);
    EXPECT_NE(from_database.out.find('\n'), from_database.out.rfind('\n', from_database.out.size() - 2));
    // Written out, the selection's features are the file's, attributes and shapes, read in
    // blocks of ids from the server.
    const auto written = [&rows](const std::string& map, const std::string& layer2, const std::string& layer1) {
        const auto output = rows.folder.File(layer2 + ".geojson");
        const auto run = RunSelvane("select --map " + ShellQuoted(map) + " --layer2 " + layer2 +
                                    " --relation INTERSECT --layer1 " + layer1 + " --output " + ShellQuoted(output));
        EXPECT_EQ(run.status, 0) << run.err;
        return Features(output);
    };
    const auto from_server = written(document, "Cells", "Lines");
    EXPECT_GT(from_server.size(), 10u);
    EXPECT_EQ(from_server, written(file, "cells", "lines"));

    // --map PG: lists the database's spatial tables as layers.
    const auto listed = RunSelvane("layers --map " + ShellQuoted(database.Source()));
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("cli.cells"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("cli.points"), std::string::npos) << listed.out;

    // Tables whose names need quotes are listed quoted, and open by those names.
    for (const char* name : {"Upper", "with space", "dot.ted"}) {
        database.Execute(std::string("CREATE TABLE cli.\"") + name + "\" (fid integer PRIMARY KEY, geom geometry(Point, 0))");
    }
    const auto quoted = RunSelvane("layers --map " + ShellQuoted(database.Source()));
    EXPECT_EQ(quoted.status, 0) << quoted.err;
    for (const char* listed_name : {"cli.\"Upper\"", "cli.\"with space\"", "cli.\"dot.ted\""}) {
        EXPECT_NE(quoted.out.find(listed_name), std::string::npos) << quoted.out;
    }
    std::ofstream(document) << R"({"layers": [
        {"type": "feature", "name": "Upper", "source": ")" + database.Source() + R"(", "table": "cli.Upper"}]})";
    const auto unquoted = RunSelvane("layers --map " + ShellQuoted(document));
    EXPECT_EQ(unquoted.status, 1);
    EXPECT_NE(unquoted.err.find("no table named cli.Upper (a name with capitals is written in double quotes"),
              std::string::npos)
        << unquoted.err;
}

// Query squares along x, square g about x = g: odd ones half a unit wide, even ones from
// g - 0.5 to g + 1 (along the edge between two cells, and over the next). Under them,
// points ten a unit and unit cells about each whole x.
void WriteSquaresOverPointsAndCells(TestDatabase& database, int squares) {
    const auto& schema = database.Schema();
    database.Execute("CREATE TABLE " + schema + ".points AS SELECT g AS fid, ST_MakePoint(g / 10.0, 0)::geometry(Point, "
                     "0) AS geom FROM generate_series(1, " + std::to_string(10 * squares + 10) + ") g");
    database.Execute("CREATE TABLE " + schema + ".cells AS SELECT g AS fid, ST_MakeEnvelope(g - 0.5, -0.5, g + 0.5, "
                     "0.5)::geometry(Polygon, 0) AS geom FROM generate_series(1, " + std::to_string(squares + 1) + ") g");
    database.Execute("CREATE TABLE " + schema + ".squares AS SELECT g AS fid, CASE WHEN g % 2 = 1 THEN "
                     "ST_MakeEnvelope(g - 0.25, -0.25, g + 0.25, 0.25) ELSE ST_MakeEnvelope(g - 0.5, -0.25, g + 1, "
                     "0.25) END::geometry(Polygon, 0) AS geom FROM generate_series(1, " + std::to_string(squares) + ") g");
    for (const std::string table : {"points", "cells", "squares"}) {
        database.Execute("ALTER TABLE " + schema + "." + table + " ADD PRIMARY KEY (fid)");
        database.Execute("CREATE INDEX ON " + schema + "." + table + " USING gist (geom)");
        database.Execute("ANALYZE " + schema + "." + table);
    }
}

TEST(PostgisSearch, ATableReadIntoMemoryForAScanAnswersEveryBatchAsTheServerDoes) {
    TestDatabase database("read_into_memory");
    WriteSquaresOverPointsAndCells(database, 20001);
    const auto run = [&](gis::TableCopyRule rule, const std::string& targets, const std::string& relation,
                         int squares) {
        const ScopedTableCopyRule answered(rule);
        const auto copied = TablesCopied();
        auto outcome = RunOn({database.Layer(targets), database.Layer("squares", "squares",
                                                                      "fid <= " + std::to_string(squares))},
                             targets, relation, "squares");
        return std::make_pair(outcome, TablesCopied() - copied);
    };
    // Scans of no square, one, a batch of the scan's, one more, and two batches and one.
    for (const int squares : {0, 1, 10000, 10001, 20001}) {
        SCOPED_TRACE(squares);
        const auto [server, server_copies] = run(gis::TableCopyRule::kNever, "points", "INTERSECT", squares);
        const auto [memory, memory_copies] = run(gis::TableCopyRule::kAlways, "points", "INTERSECT", squares);
        EXPECT_EQ(memory.ids, server.ids);
        EXPECT_EQ(memory.count, server.count);
        EXPECT_TRUE(memory.messages.empty()) << memory.messages.front();
        EXPECT_EQ(server_copies, 0u);
        // One copy for the whole scan, however many batches it reads.
        EXPECT_EQ(memory_copies, squares == 0 ? 0u : 1u);
    }
    for (const char* relation : {"TOUCH", "OVERLAP", "WHOLLY CONTAIN"}) {
        SCOPED_TRACE(relation);
        const auto server = run(gis::TableCopyRule::kNever, "cells", relation, 10001).first;
        const auto memory = run(gis::TableCopyRule::kAlways, "cells", relation, 10001).first;
        EXPECT_FALSE(server.ids.empty());
        EXPECT_EQ(memory.ids, server.ids);
        EXPECT_EQ(memory.count, server.count);
    }

    // By cost: the 20,001 squares' searches cost the server more than the points cost to
    // read; the three squares of a small table's do not.
    database.Execute("CREATE TABLE read_into_memory.few AS SELECT * FROM read_into_memory.squares WHERE fid <= 3");
    database.Execute("ALTER TABLE read_into_memory.few ADD PRIMARY KEY (fid)");
    database.Execute("ANALYZE read_into_memory.few");
    for (const auto& [queries, copies] : {std::make_pair("squares", 1u), std::make_pair("few", 0u)}) {
        SCOPED_TRACE(queries);
        const ScopedTableCopyRule by_cost(gis::TableCopyRule::kByCost);
        const auto copied = TablesCopied();
        const auto outcome = RunOn({database.Layer("points"), database.Layer(queries)}, "points", "INTERSECT", queries);
        EXPECT_TRUE(outcome.messages.empty()) << outcome.messages.front();
        EXPECT_EQ(TablesCopied() - copied, copies);
    }
}

TEST(PostgisSearch, ALargeTableIsCopiedInTwoHalvesAtOnceAndAnswersAsTheServerDoes) {
    TestDatabase database("halves");
    WriteSquaresOverPointsAndCells(database, 7000);
    const std::string schema = "halves.";
    const auto blocks = [&](const std::string& table) {
        return std::stoull(database.Execute("SELECT pg_relation_size('" + schema + table + "') / 8192"));
    };
    ASSERT_GE(blocks("points"), 2 * gis::kCopyHalfBlocks);
    // Octagons about the points (flat polygons, copied as they are kept); a table of points with either
    // half's rows deleted (its blocks kept: no vacuum); a small table, copied whole; and
    // tables with a curved shape, which the copy does not read, in either half.
    database.Execute("CREATE TABLE " + schema + "tiles AS SELECT fid, ST_Buffer(geom, 0.04, 2)::geometry(Polygon, 0) "
                     "AS geom FROM " + schema + "points");
    const std::string middle = "'(" + std::to_string(blocks("points") / 2) + ",0)'::tid";
    for (const auto& [table, deleted] : {std::pair{"head_only", ">="}, {"tail_only", "<"}}) {
        database.Execute("CREATE TABLE " + schema + table + " WITH (autovacuum_enabled = off) AS SELECT * FROM " +
                         schema + "points");
        database.Execute("DELETE FROM " + schema + table + " WHERE ctid " + deleted + " " + middle);
    }
    database.Execute("CREATE TABLE " + schema + "small AS SELECT * FROM " + schema + "points WHERE fid <= 3000");
    // Tables of one block fewer than two halves' worth, exactly that, and one more: every
    // row of points takes the same room, so a block holds as many as the first does.
    const auto per_block =
        std::stoull(database.Execute("SELECT count(*) FROM " + schema + "points WHERE ctid < '(1,0)'::tid"));
    const std::uint64_t least = 2 * gis::kCopyHalfBlocks;
    for (const auto& [table, rows] : {std::pair{std::string("one_fewer"), (least - 1) * per_block},
                                      {std::string("exactly"), least * per_block},
                                      {std::string("one_more"), least * per_block + 1}}) {
        database.Execute("CREATE TABLE " + schema + table + " AS SELECT * FROM " + schema + "points ORDER BY fid LIMIT " +
                         std::to_string(rows));
    }
    ASSERT_EQ(blocks("one_fewer"), least - 1);
    ASSERT_EQ(blocks("exactly"), least);
    ASSERT_EQ(blocks("one_more"), least + 1);
    const std::string curve = "'CURVEPOLYGON(CIRCULARSTRING(1 0, 1.1 0.1, 1.2 0, 1.1 -0.1, 1 0))'::geometry";
    for (const auto& [table, fid] : {std::pair{"curved_head", "5"}, {"curved_tail", "69990"}}) {
        database.Execute("CREATE TABLE " + schema + table + " AS SELECT fid, CASE WHEN fid = " + fid + " THEN " + curve +
                         " ELSE geom::geometry END AS geom FROM " + schema + "tiles ORDER BY fid");
    }
    for (const std::string table : {"tiles", "head_only", "tail_only", "small", "curved_head", "curved_tail", "one_fewer",
                                    "exactly", "one_more"}) {
        database.Execute("ALTER TABLE " + schema + table + " ADD PRIMARY KEY (fid)");
        database.Execute("CREATE INDEX ON " + schema + table + " USING gist (geom)");
        database.Execute("ANALYZE " + schema + table);
    }
    ASSERT_GE(blocks("curved_tail"), 2 * gis::kCopyHalfBlocks);

    struct Case {
        std::string targets, relation, definition_query;
        std::size_t copies, halves;
    };
    for (const auto& [targets, relation, definition_query, copies, halves] :
         {Case{"points", "INTERSECT", "", 1, 1}, Case{"points", "INTERSECT", "fid % 3 <> 0", 1, 1},
          Case{"head_only", "INTERSECT", "", 1, 1}, Case{"tail_only", "INTERSECT", "", 1, 1},
          Case{"tiles", "INTERSECT", "", 1, 1}, Case{"tiles", "OVERLAP", "", 1, 1},
          Case{"one_fewer", "INTERSECT", "", 1, 0}, Case{"exactly", "INTERSECT", "", 1, 1},
          Case{"one_more", "INTERSECT", "", 1, 1},
          Case{"small", "INTERSECT", "", 1, 0}, Case{"curved_head", "INTERSECT", "", 0, 0},
          Case{"curved_tail", "INTERSECT", "", 0, 0}}) {
        SCOPED_TRACE(targets + " " + relation + " " + definition_query);
        // Squares over both halves of each table.
        const auto run = [&](gis::TableCopyRule rule) {
            return RunAnswered(rule, {database.Layer(targets, targets, definition_query),
                                      database.Layer("squares", "squares", "fid % 5 = 0")},
                               targets, relation, "squares");
        };
        const auto server = run(gis::TableCopyRule::kNever);
        const auto memory = run(gis::TableCopyRule::kAlways);
        ExpectAnsweredAlike(server, memory, 500, copies);
        EXPECT_EQ(memory.halves, halves);
    }
}

TEST(PostgisSearch, ATableOfOneFlatTypeIsCopiedAsItIsKeptWhateverItsIdsAndSystem) {
    TestDatabase database("points_as_kept");
    WriteSquaresOverPointsAndCells(database, 300);
    const std::string schema = "points_as_kept.";
    // Ids of each integer type, negative ones and ones past 32 bits; a NULL shape and an
    // empty point; an SRID, which the server's EWKB carries; and points with a z, which
    // are copied through a query.
    for (const auto& [table, fid, geom] :
         {std::tuple<std::string, std::string, std::string>{"small_ids", "(fid - 1000)::smallint", "geom"},
          {"big_ids", "fid::bigint * 10000000000 * CASE WHEN fid % 2 = 0 THEN -1 ELSE 1 END", "geom"},
          {"with_z", "fid", "ST_Force3D(geom)::geometry(PointZ, 0)"}}) {
        database.Execute("CREATE TABLE " + schema + table + " AS SELECT " + fid + " AS fid, " + geom + " AS geom FROM " +
                         schema + "points");
    }
    database.Execute("CREATE TABLE " + schema + "with_nulls AS SELECT fid, geom FROM " + schema + "points");
    database.Execute("INSERT INTO " + schema + "with_nulls VALUES (5001, NULL), (5002, 'POINT EMPTY')");
    database.Execute("CREATE TABLE " + schema + "in_4326 AS SELECT CASE WHEN fid % 2 = 0 THEN -fid ELSE fid END AS fid, "
                     "ST_SetSRID(geom, 4326)::geometry(Point, 4326) AS geom FROM " + schema + "points");
    database.Execute("CREATE TABLE " + schema + "squares_4326 AS SELECT fid, ST_SetSRID(geom, 4326)::geometry(Polygon, "
                     "4326) AS geom FROM " + schema + "squares");
    // Lines and areas, single and multi, in a system and not; multipolygons with a hole,
    // two parts, a NULL and an empty one; and a column of any type, copied through a query.
    for (const auto& [table, geom] : std::initializer_list<std::pair<std::string, std::string>>{
             {"cells_4326", "ST_SetSRID(geom, 4326)::geometry(Polygon, 4326)"},
             {"multi_cells", "CASE fid % 3 WHEN 0 THEN ST_Multi(ST_Difference(geom, ST_Buffer(ST_Centroid(geom), 0.1, 2))) "
                             "WHEN 1 THEN ST_Collect(geom, ST_Translate(geom, 0, 2)) ELSE ST_Multi(geom) "
                             "END::geometry(MultiPolygon, 0)"},
             {"rings", "ST_SetSRID(ST_ExteriorRing(geom), 4326)::geometry(LineString, 4326)"},
             {"multi_rings", "ST_Multi(ST_ExteriorRing(geom))::geometry(MultiLineString, 0)"},
             {"any_type", "CASE WHEN fid % 2 = 0 THEN geom ELSE ST_ExteriorRing(geom) END::geometry"},
             // No row, and one.
             {"no_cells", "geom::geometry(Polygon, 0)"},
             {"one_cell", "geom::geometry(Polygon, 0)"}}) {
        database.Execute("CREATE TABLE " + schema + table + " AS SELECT fid, " + geom + " AS geom FROM " + schema + "cells");
    }
    database.Execute("DELETE FROM " + schema + "no_cells");
    database.Execute("DELETE FROM " + schema + "one_cell WHERE fid <> 1");
    database.Execute("INSERT INTO " + schema + "multi_cells VALUES (5001, NULL), (5002, 'MULTIPOLYGON EMPTY')");
    for (const std::string table : {"small_ids", "big_ids", "with_z", "with_nulls", "in_4326", "squares_4326",
                                    "cells_4326", "multi_cells", "rings", "multi_rings", "any_type", "no_cells",
                                    "one_cell"}) {
        database.Execute("ALTER TABLE " + schema + table + " ADD PRIMARY KEY (fid)");
        database.Execute("ANALYZE " + schema + table);
    }
    for (const auto& [targets, queries, relation, selected] :
         {std::tuple{"points", "squares", "INTERSECT", 1001}, {"small_ids", "squares", "INTERSECT", 1001},
          {"big_ids", "squares", "INTERSECT", 1001}, {"with_z", "squares", "INTERSECT", 1001},
          {"with_nulls", "squares", "INTERSECT", 1001}, {"in_4326", "squares_4326", "INTERSECT", 1001},
          {"cells_4326", "squares_4326", "INTERSECT", 301}, {"multi_cells", "squares", "INTERSECT", 301},
          {"multi_cells", "squares", "TOUCH", 0}, {"rings", "squares_4326", "CROSS", 0},
          {"multi_rings", "squares", "INTERSECT", 301}, {"any_type", "squares", "INTERSECT", 301},
          {"no_cells", "squares", "INTERSECT", 0}, {"one_cell", "squares", "INTERSECT", 1}}) {
        SCOPED_TRACE(std::string(targets) + " " + relation);
        const auto run = [&](gis::TableCopyRule rule) {
            return RunAnswered(rule, {database.Layer(targets), database.Layer(queries)}, targets, relation, queries);
        };
        ExpectAnsweredAlike(run(gis::TableCopyRule::kNever), run(gis::TableCopyRule::kAlways), selected, 1);
    }
}

TEST(PostgisSearch, TheServersEwkbOfAFlatShapeIsReadAsItsWkbAndNothingElseIsTakenForOne) {
    const geos::io::WKTReader reader(gis::Shape::Factory());
    std::vector<unsigned char> scratch;
    const auto ewkb_of = [](const geos::geom::Geometry& shape, int dimension, int order, bool with_srid) {
        geos::io::WKBWriter writer(static_cast<std::uint8_t>(dimension), order, with_srid);
        std::ostringstream bytes;
        writer.write(shape, bytes);
        return bytes.str();
    };
    const auto flat = [&scratch](const std::string& bytes) {
        return gis::FlatWkbOfEwkb(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), scratch);
    };
    for (const auto* text : {"POINT (1.5 -2.25)", "LINESTRING (0 0, 1 1, 2 0)", "POLYGON ((0 0, 4 0, 4 4, 0 0), (1 1, 2 1, 2 2, 1 1))",
                             "MULTIPOINT ((0 0), (1 1))", "MULTILINESTRING ((0 0, 1 1), (2 2, 3 3))",
                             "MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), ((5 5, 6 5, 6 6, 5 5)))", "POLYGON EMPTY"}) {
        const auto shape = reader.read(text);
        for (const int order : {geos::io::WKBConstants::wkbNDR, geos::io::WKBConstants::wkbXDR}) {
            SCOPED_TRACE(std::string(text) + (order == geos::io::WKBConstants::wkbNDR ? " NDR" : " XDR"));
            // The WKB a query would have sent: the same bytes whether the SRID was in them or not.
            shape->setSRID(0);
            const auto wkb = ewkb_of(*shape, 2, order, false);
            shape->setSRID(4326);
            for (const auto& ewkb : {wkb, ewkb_of(*shape, 2, order, true)}) {
                const auto read = flat(ewkb);
                ASSERT_TRUE(read);
                EXPECT_EQ(std::string(read->begin(), read->end()), wkb);
            }
        }
    }
    // A z, by the EWKB flag, is not flat.
    for (const auto* text : {"POINT Z (1 2 3)", "LINESTRING Z (0 0 0, 1 1 1)", "POLYGON Z ((0 0 0, 1 0 0, 1 1 0, 0 0 0))"}) {
        const auto shape = reader.read(text);
        shape->setSRID(4326);
        for (const int order : {geos::io::WKBConstants::wkbNDR, geos::io::WKBConstants::wkbXDR}) {
            for (const bool with_srid : {false, true}) EXPECT_FALSE(flat(ewkb_of(*shape, 3, order, with_srid))) << text;
        }
    }
    // Collections, curves and ISO codes of a z; an SRID flag with no SRID; a header cut short.
    const auto type_only = [](std::uint32_t type, std::size_t extra) {
        std::string bytes(1 + 4 + extra, '\0');
        bytes[0] = 1;
        for (int index = 0; index < 4; ++index) bytes[1 + index] = static_cast<char>(type >> (8 * index));
        return bytes;
    };
    for (const std::uint32_t type : {0u, 7u, 8u, 9u, 10u, 1003u, 0x80000003u, 0x40000003u, 0x20000007u}) {
        EXPECT_FALSE(flat(type_only(type, 8))) << type;
    }
    EXPECT_FALSE(flat(type_only(0x20000003u, 3)));
    EXPECT_FALSE(flat(type_only(3, 0).substr(0, 4)));
    EXPECT_FALSE(flat(std::string("\2\3\0\0\0", 5)));
}

TEST(PostgisSearch, ThePointOfTheServersEwkbIsReadInEitherByteOrderAndNothingElseIsTakenForOne) {
    const geos::io::WKTReader reader(gis::Shape::Factory());
    const auto point = reader.read("POINT(1.5 -2.25)");
    for (const int order : {geos::io::WKBConstants::wkbNDR, geos::io::WKBConstants::wkbXDR}) {
        for (const bool with_srid : {false, true}) {
            point->setSRID(with_srid ? 4326 : 0);
            geos::io::WKBWriter writer(2, order, with_srid);
            std::ostringstream ewkb;
            writer.write(*point, ewkb);
            const std::string bytes = ewkb.str();
            const auto wkb = gis::PointWkbOfEwkb(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
            ASSERT_TRUE(wkb) << order << with_srid;
            const auto plain = gis::PlainPointOfWkb(wkb->data(), wkb->size());
            ASSERT_TRUE(plain);
            EXPECT_EQ(plain->x, 1.5);
            EXPECT_EQ(plain->y, -2.25);
            // Cut short, one byte more, or a z: not a flat point.
            EXPECT_FALSE(gis::PointWkbOfEwkb(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() - 1));
            EXPECT_FALSE(gis::PointWkbOfEwkb(reinterpret_cast<const unsigned char*>((bytes + '\0').data()), bytes.size() + 1));
        }
    }
    geos::io::WKBWriter with_z(3, geos::io::WKBConstants::wkbNDR, true);
    std::ostringstream ewkb;
    with_z.write(*reader.read("POINT Z (1 2 3)"), ewkb);
    const std::string z = ewkb.str();
    EXPECT_FALSE(gis::PointWkbOfEwkb(reinterpret_cast<const unsigned char*>(z.data()), z.size()));
    const unsigned char line[] = {1, 2, 0, 0, 0};
    EXPECT_FALSE(gis::PointWkbOfEwkb(line, sizeof line));
}

TEST(PostgisSearch, ATableReadIntoMemoryIsTheScansOwnAndSeesTheScansSnapshot) {
    const ScopedTableCopyRule memory(gis::TableCopyRule::kAlways);
    TestDatabase database("snapshot");
    WriteSquaresOverPointsAndCells(database, 10);
    auto points = database.Layer("points");
    HostedMap hosted({points, database.Layer("squares")});
    hosted.Open();
    // A point written in square 1 once the scan has begun (the loop's first step) is not
    // the run's to see, nor a point moved out of it; the next run reads the table again.
    bool written = false;
    auto progress = hosted.host->Application()->Bar()->Progress();
    progress->SetDisplay([&](const gis::ProgressState& state) {
        if (!written && state.position >= 3) {
            written = true;
            database.Execute("INSERT INTO snapshot.points VALUES (1000, ST_MakePoint(1.1, 0.1))");
            database.Execute("UPDATE snapshot.points SET geom = ST_MakePoint(-50, 0) WHERE fid = 10");
        }
    });
    hosted.Select("points", "INTERSECT", "squares");
    ASSERT_TRUE(written);
    auto first = points->SelectedFids();
    EXPECT_NE(std::find(first.begin(), first.end(), 10), first.end());
    EXPECT_EQ(std::find(first.begin(), first.end(), 1000), first.end());

    hosted.Select("points", "INTERSECT", "squares");
    auto second = points->SelectedFids();
    EXPECT_EQ(std::find(second.begin(), second.end(), 10), second.end());
    EXPECT_NE(std::find(second.begin(), second.end(), 1000), second.end());
    EXPECT_EQ(second.size(), first.size());
}

}  // namespace
}  // namespace selvane::testing
