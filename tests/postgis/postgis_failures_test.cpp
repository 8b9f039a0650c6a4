// A database that is down, refuses, lacks what a layer needs or goes away mid-run gives a
// clear message naming the layer and the server's words, and the database never changes.

#include <gtest/gtest.h>

#include <ogr_core.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "gis/map_document.h"
#include "gis/model/spatial_filter.h"
#include "gis/postgis/connection.h"
#include "gis/postgis/statements.h"
#include "gis/postgis/feature_class.h"
#include "test_database.h"

namespace selvane::testing {
namespace {

// The message of loading a map document with one database layer; empty when it loads.
std::string LoadFailure(const std::string& source, const std::string& table, const std::string& query = {}) {
    std::string document = R"({"layers": [{"type": "feature", "name": "Parcels", "source": ")" + source +
                           R"(", "table": ")" + table + "\"";
    if (!query.empty()) document += R"(, "definition_query": ")" + query + "\"";
    document += "}]}";
    try {
        gis::LoadMapDocumentText("/maps/city.json", document);
    } catch (const platform::Error& error) {
        return error.what();
    }
    return {};
}

TableSpec Parcels() {
    TableSpec parcels{"parcels", wkbPolygon, 0, {}, {}};
    for (int i = 0; i < 30; ++i) {
        parcels.shapes.push_back("POLYGON((" + std::to_string(i) + " 0," + std::to_string(i + 1) + " 0," +
                                 std::to_string(i + 1) + " 1," + std::to_string(i) + " 1," + std::to_string(i) + " 0))");
        parcels.zones.push_back(i % 2 ? "a" : "b");
    }
    return parcels;
}

TEST(PostgisFailures, MissingOrUnusableTablesAreNamedWithTheLayer) {
    TestDatabase database("unusable");
    database.WriteTable(Parcels());
    database.Execute("CREATE TABLE unusable.notes (id integer PRIMARY KEY, body text)");
    database.Execute("CREATE TABLE unusable.arcs (id integer PRIMARY KEY, geom geometry(CurvePolygon, 0))");
    database.Execute("CREATE TABLE unusable.keyless (geom geometry(Point, 0))");
    const auto source = database.Source();

    EXPECT_EQ(LoadFailure(source, "unusable.parcels"), "");
    const auto missing = LoadFailure(source, "unusable.nowhere");
    EXPECT_NE(missing.find("map layer 1 (Parcels)"), std::string::npos) << missing;
    EXPECT_NE(missing.find("no table named unusable.nowhere"), std::string::npos) << missing;
    EXPECT_NE(LoadFailure(source, "unusable.notes").find("has no geometry column"), std::string::npos);
    const auto curves = LoadFailure(source, "unusable.arcs");
    EXPECT_NE(curves.find("CURVEPOLYGON shapes, which the map cannot hold"), std::string::npos) << curves;
    EXPECT_NE(LoadFailure(source, "unusable.keyless").find("no primary key"), std::string::npos);
    // The database is named once in a message, whichever layer of the code adds its part.
    const auto named = [&source](const std::string& text) {
        std::size_t count = 0;
        for (auto at = text.find(source); at != std::string::npos; at = text.find(source, at + 1)) ++count;
        return count;
    };
    for (const auto& text : {missing, curves, LoadFailure(source, "unusable.parcels", "colour = 'red'")}) {
        EXPECT_EQ(named(text), 1u) << text;
    }
    auto parcels = database.Layer("parcels");
    database.Execute("DROP TABLE unusable.parcels");
    try {
        parcels->Search(nullptr, true)->NextFeature();
        ADD_FAILURE() << "a dropped table was read";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("Cannot read layer parcels"), std::string::npos) << error.what();
        EXPECT_EQ(named(error.what()), 1u) << error.what();
    }
}

TEST(PostgisFailures, ServersThatCannotBeReachedAndPasswordsInDocumentsAreRefused) {
    TempFolder folder;
    const auto down = LoadFailure("PG:host=" + folder.Path().string() + " dbname=city", "parcels");
    EXPECT_NE(down.find("cannot connect to the database"), std::string::npos) << down;
    EXPECT_NE(down.find(folder.Path().string()), std::string::npos) << down;

    TestDatabase database("refused");
    const auto no_database = LoadFailure("PG:" + database.Conninfo() + " dbname=no_such_db", "parcels");
    EXPECT_NE(no_database.find("\"no_such_db\" does not exist"), std::string::npos) << no_database;

    const auto password = LoadFailure("PG:" + database.Conninfo() + " password=secret", "parcels");
    EXPECT_NE(password.find("holds a password"), std::string::npos) << password;
    EXPECT_EQ(password.find("secret"), std::string::npos) << "the message repeats the password: " << password;

    // A password comes from libpq's own sources; a wrong one is the server's refusal.
    database.WriteTable(Parcels());
    database.Execute("DROP ROLE IF EXISTS selvane_password");  // left by an earlier run on this server
    database.Execute("CREATE ROLE selvane_password LOGIN PASSWORD 'right'");
    database.Execute("GRANT USAGE ON SCHEMA refused TO selvane_password");
    database.Execute("GRANT SELECT ON refused.parcels TO selvane_password");
    const auto as_role = "PG:" + database.Conninfo() + " user=selvane_password";
    ::setenv("PGPASSWORD", "wrong", 1);
    const auto wrong = LoadFailure(as_role, "refused.parcels");
    ::setenv("PGPASSWORD", "right", 1);
    const auto right = LoadFailure(as_role, "refused.parcels");
    ::unsetenv("PGPASSWORD");
    // A password file others may read is passed over, as libpq does, but said in the
    // message rather than in a warning libpq prints beside the program's output.
    const auto password_file = folder.File("pgpass");
    std::ofstream(password_file) << "*:*:*:selvane_password:right\n";
    std::filesystem::permissions(password_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                                    std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    ::setenv("PGPASSFILE", password_file.c_str(), 1);
    ::testing::internal::CaptureStderr();
    const auto open_file = LoadFailure(as_role, "refused.parcels");
    const auto printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "");
    EXPECT_NE(open_file.find("(the password file " + password_file + " was not read: others may read it"),
              std::string::npos)
        << open_file;
    std::filesystem::permissions(password_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto private_file = LoadFailure(as_role, "refused.parcels");
    ::unsetenv("PGPASSFILE");
    database.Execute("DROP OWNED BY selvane_password");
    database.Execute("DROP ROLE selvane_password");
    EXPECT_NE(wrong.find("password authentication failed for user \"selvane_password\""), std::string::npos) << wrong;
    EXPECT_EQ(right, "");
    EXPECT_EQ(private_file, "");

    const auto remote = LoadFailure("PG:host=db.example.org dbname=city", "parcels");
    EXPECT_NE(remote.find("the network is off"), std::string::npos) << remote;

    // The server libpq would reach decides, named in the source or in the environment.
    ::setenv("PGSERVICE", "remote", 1);
    const auto service_from_environment = LoadFailure(database.Source(), "refused.parcels");
    ::unsetenv("PGSERVICE");
    EXPECT_NE(service_from_environment.find("from a service"), std::string::npos) << service_from_environment;
    ::setenv("PGHOST", "192.0.2.1", 1);
    const auto host_from_environment = LoadFailure("PG:dbname=selvane_test user=selvane", "refused.parcels");
    ::unsetenv("PGHOST");
    EXPECT_NE(host_from_environment.find("192.0.2.1 (through PGHOST) on the network"), std::string::npos)
        << host_from_environment;

    // A postgresql:// URI reaches the same database as the connection string.
    const auto& conninfo = database.Conninfo();
    const auto host_at = conninfo.find("host=") + 5;
    const auto socket_folder = conninfo.substr(host_at, conninfo.find(' ', host_at) - host_at);
    const auto port_at = conninfo.find("port=") + 5;
    const auto port = conninfo.substr(port_at, conninfo.find(' ', port_at) - port_at);
    EXPECT_EQ(LoadFailure("PG:postgresql:///selvane_test?host=" + socket_folder + "&port=" + port + "&user=selvane",
                          "refused.parcels"),
              "");
}

// The first line of a file beside the test server's connection string: "conninfo_ssl" the
// connection string of its SSL port on the loopback address, "cluster" its folder.
std::string TestServerFile(const std::string& name) {
    const char* file = std::getenv("SELVANE_TEST_PG_FILE");
    std::ifstream in(std::filesystem::path(file ? file : "").parent_path() / name);
    std::string line;
    std::getline(in, line);
    return line;
}

TEST(PostgisFailures, AMapSetsOnlyWhereAndAsWhomToConnect) {
    TempFolder folder;
    const auto mark = folder.File("loaded");
    ::setenv("SELVANE_LOADED_MARK", mark.c_str(), 1);
    const auto library = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libselvane_never_loaded.so").string();
    ASSERT_TRUE(std::filesystem::exists(library));
    const auto ssl = "PG:" + TestServerFile("conninfo_ssl");
    // A certificate libpq can read, so that it goes on to the key.
    const auto certificate = TestServerFile("cluster") + "/data/server.crt";
    ASSERT_TRUE(std::filesystem::exists(certificate));
    TestDatabase database("keywords");
    database.WriteTable(Parcels());

    // Where and as whom: over SSL, named as a map may name it.
    EXPECT_EQ(LoadFailure(ssl + " sslmode=require connect_timeout=5 application_name=atlas target_session_attrs=any",
                          "keywords.parcels"),
              "");
    // libpq reads files and services for these, or sets the server's options; a key given
    // as "engine:name" would have OpenSSL load the engine's library into this program.
    const std::pair<std::string, std::string> refused[] = {
        {" sslmode=require sslcert=" + certificate + " sslkey=" + library + ":key", "sslcert, sslkey"},
        {" sslmode=verify-ca sslrootcert=" + folder.File("root.crt"), "sslrootcert"},
        {" sslcrl=" + folder.File("crl.pem"), "sslcrl"},
        {" sslcrldir=" + folder.Path().string(), "sslcrldir"},
        {" sslpassword=secret", "sslpassword"},
        {" passfile=" + folder.File("pgpass"), "passfile"},
        {" service=remote", "service"},
        {" options='-c search_path=evil,pg_catalog,public'", "options"},
        {" krbsrvname=evil", "krbsrvname"},
    };
    for (const auto& [keywords, keyword] : refused) {
        const auto failure = LoadFailure(ssl + keywords, "keywords.parcels");
        EXPECT_NE(failure.find("sets " + keyword + ", which a map may not set"), std::string::npos) << failure;
    }
    EXPECT_FALSE(std::filesystem::exists(mark)) << "the map had a library loaded";
    ::unsetenv("SELVANE_LOADED_MARK");

    // A source of a megabyte is named in part.
    const auto huge = LoadFailure("PG:dbname=" + std::string(1 << 20, 'x') + " host=" + folder.Path().string(), "t");
    EXPECT_NE(huge.find("cannot connect to the database"), std::string::npos) << huge.substr(0, 400);
    EXPECT_LT(huge.size(), 2000u);
}

TEST(PostgisFailures, DefinitionQueriesAreOneExpressionAndCannotChangeTheDatabase) {
    TestDatabase database("guarded");
    database.WriteTable(Parcels());
    const auto source = database.Source();

    EXPECT_EQ(LoadFailure(source, "guarded.parcels", "zone = 'a'"), "");
    const auto injection = LoadFailure(source, "guarded.parcels", "1=1; DROP TABLE guarded.parcels");
    EXPECT_NE(injection.find("must be one expression"), std::string::npos) << injection;
    EXPECT_NE(LoadFailure(source, "guarded.parcels", "1=1) OR (true").find("did not open"), std::string::npos);
    EXPECT_NE(LoadFailure(source, "guarded.parcels", "true -- ").find("comment"), std::string::npos);
    const auto syntax = LoadFailure(source, "guarded.parcels", "zone = = 'a'");
    EXPECT_NE(syntax.find("syntax error"), std::string::npos) << syntax;
    EXPECT_NE(syntax.find("map layer 1 (Parcels)"), std::string::npos) << syntax;
    const auto unknown = LoadFailure(source, "guarded.parcels", "colour = 'red'");
    EXPECT_NE(unknown.find("names colour, which is not a column of the table"), std::string::npos) << unknown;
    // Large objects can be written even in a read-only transaction: a definition query
    // that would write one is no filter, and is refused before it runs.
    const auto writer = LoadFailure(source, "guarded.parcels", "lo_create(0) > 0");
    EXPECT_NE(writer.find("may not call the function lo_create"), std::string::npos) << writer;

    EXPECT_EQ(database.Execute("SELECT count(*) FROM guarded.parcels"), "30");
    EXPECT_EQ(database.Execute("SELECT count(*) FROM pg_largeobject_metadata"), "0");
    gis::PgConnection connection(source);
    try {
        connection.Execute("CREATE TABLE guarded.created (id integer)");
        ADD_FAILURE() << "the map's connection could create a table";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("read-only transaction"), std::string::npos) << error.what();
    }
}

// A query as a JSON string holds it.
std::string InJson(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string Repeated(const std::string& text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) repeated += text;
    return repeated;
}

TEST(PostgisFailures, ADefinitionQueryIsAFilterAndWhatWasCheckedIsWhatRuns) {
    // What a query would write, were it run: a row of a table, a file of a program.
    TempFolder folder;
    const auto program_output = folder.File("ran.txt");
    TestDatabase database("filtered");
    const auto source = database.Source();
    const std::string server = database.Conninfo();
    database.WriteTable(Parcels());
    database.Execute("CREATE EXTENSION IF NOT EXISTS dblink");
    database.Execute("CREATE TABLE filtered.audit (id integer)");

    const std::pair<std::string, std::string> refused[] = {
        // A function that opens its own connection, outside the map's read-only transaction.
        {"fid < 3 AND dblink_exec('" + server + "', 'insert into filtered.audit values (1)') IS NOT NULL",
         "may not call the function dblink_exec"},
        {"dblink_exec('" + server + "', 'copy (select 1) to program ''id > " + program_output + "''') IS NOT NULL",
         "may not call the function dblink_exec"},
        // A file of the server, read into the error message.
        {"CAST(pg_read_file('/etc/hostname') AS int) > 0", "may not call the function pg_read_file"},
        // An escape string that a character scan reads as closed: what follows would no
        // longer be inside the statement's parentheses.
        {"fid::text = E'\\'' ) OR ( fid < $x$50$x$::int --'", "the definition query"},
        {"fid IN (SELECT fid FROM filtered.parcels)", "may not hold a SubLink"},
        {"fid = 1) UNION (SELECT 1", "the definition query"},
        {"fid OPERATOR(public.=) 1", "may not use the operator public.="},
        {"zone::regclass IS NOT NULL", "may not cast to the type regclass"},
        {"zone COLLATE evil.\"C\" < 'b'", "may not use the collation evil.C"},
        {"zone = ANY (ARRAY(SELECT zone FROM filtered.parcels))", "may not hold a SubLink"},
        {"pg_sleep(1) IS NOT NULL", "may not call the function pg_sleep"},
        // A function called as if it were a column: t.f is f(t) where t has no column f.
        {"t.row_to_json IS NOT NULL", "names t.row_to_json, which is not a column of the table"},
        {"t.boom > 0", "names t.boom, which is not a column"},
        // A function of the allow-list, in a schema other than its own.
        {"public.lower(zone) = 'a'", "may not call the function public.lower"},
        {"evil.st_area(geom) > 0", "may not call the function evil.st_area"},
        // Too deep or too long for the parser and the planner: refused before either runs.
        {"fid" + Repeated(" + 1", 5000) + " > 0", "nests more than"},
        {"fid" + Repeated(" || 'a'", 3500) + " <> ''", "nests more than"},
        {"false" + Repeated(" OR fid BETWEEN 1 AND 2", 40000), "is longer than"},
    };
    for (const auto& [query, why] : refused) {
        const auto failure = LoadFailure(source, "filtered.parcels", InJson(query));
        EXPECT_NE(failure.find(why), std::string::npos) << query.substr(0, 100) << "\n" << failure.substr(0, 2000);
    }
    EXPECT_EQ(database.Execute("SELECT count(*) FROM filtered.audit"), "0");
    EXPECT_FALSE(std::filesystem::exists(program_output));

    // What a filter needs is there: Layer #1 shown through it selects what the server
    // selects with the same filter.
    const std::string filter =
        "lower(zone) = 'a' AND fid BETWEEN 1 AND 20 AND ST_Area(geom) > 0.5 AND fid::int8 NOT IN (3, 5) "
        "AND coalesce(zone, '') LIKE 'a%' AND CASE WHEN fid > 10 THEN true ELSE fid % 4 = 1 END";
    EXPECT_EQ(LoadFailure(source, "filtered.parcels", filter), "");
    // A value the server could not convert is not quoted back to the user.
    const auto converted = LoadFailure(source, "filtered.parcels", "CAST(zone AS int) > 0");
    EXPECT_NE(converted.find("a value is not valid input for the type it is read as (SQLSTATE 22P02)"),
              std::string::npos)
        << converted;
    EXPECT_EQ(converted.find("\"a\""), std::string::npos) << converted;
    EXPECT_EQ(converted.find("\"b\""), std::string::npos) << converted;
    for (const char* plain : {"zone LIKE 'a!%' ESCAPE '!' OR zone SIMILAR TO '(a|b)'", "zone = ANY (ARRAY['a', 'c'])",
                              "fid <> ALL (ARRAY[1, 2])", "zone COLLATE \"C\" < 'b'", "zone COLLATE pg_catalog.\"C\" < 'b'"}) {
        EXPECT_EQ(LoadFailure(source, "filtered.parcels", InJson(plain)), "") << plain;
    }
    HostedMap hosted({database.Layer("parcels", "all"), database.Layer("parcels", "shown", filter)});
    hosted.Open();
    hosted.Select("all", "INTERSECT", "shown");
    EXPECT_TRUE(hosted.messages.texts.empty());
    const auto expected = database.Execute(
        "SELECT count(*) FROM filtered.parcels p WHERE EXISTS (SELECT 1 FROM filtered.parcels WHERE " + filter +
        " AND ST_Intersects(geom, p.geom))");
    EXPECT_EQ(hosted.Count(), expected);
    EXPECT_NE(expected, "0");
    EXPECT_NE(expected, "30");

    // A role whose search_path puts another schema first: its lower() would run, and commit
    // through dblink, were the filter's functions looked up there.
    database.Execute("DROP SCHEMA IF EXISTS evil CASCADE");
    database.Execute("CREATE SCHEMA evil");
    database.Execute("CREATE FUNCTION evil.lower(text) RETURNS text LANGUAGE sql AS $$ SELECT public.dblink_exec('" +
                     server + "', 'insert into filtered.audit values (2)')::text || 'a' $$");
    database.Execute("DROP ROLE IF EXISTS selvane_evil_path");
    database.Execute("CREATE ROLE selvane_evil_path LOGIN");
    database.Execute("GRANT USAGE ON SCHEMA filtered, evil TO selvane_evil_path");
    database.Execute("GRANT SELECT ON filtered.parcels TO selvane_evil_path");
    database.Execute("ALTER ROLE selvane_evil_path SET search_path = evil, pg_catalog, public");
    const auto as_role = "PG:" + server + " user=selvane_evil_path";
    auto as_role_source = MapSource(as_role);
    HostedMap pinned({database.Layer("parcels", "all"),
                      std::make_shared<gis::PostgisLayer>("parcels", as_role_source.LoadTable("filtered.parcels"),
                                                          "lower(zone) = 'a'")});
    pinned.Open();
    pinned.Select("all", "INTERSECT", "parcels");
    database.Execute("DROP OWNED BY selvane_evil_path");
    database.Execute("DROP ROLE selvane_evil_path");
    database.Execute("DROP SCHEMA evil CASCADE");
    EXPECT_TRUE(pinned.messages.texts.empty());
    EXPECT_EQ(pinned.Count(), "30");  // the odd parcels of zone a, and their neighbours
    EXPECT_EQ(database.Execute("SELECT count(*) FROM filtered.audit"), "0");
}

// Selects parcels that INTERSECT wells, running `kill` (a statement that ends the map's
// connections) once the run is half done: the run ends through the standard report,
// which says the connection was terminated.
// A source whose sessions stop a statement after 300 ms, as the user's environment may say.
gis::PostgisSource ImpatientSource(const std::string& source) {
    ::setenv("PGOPTIONS", "-c statement_timeout=300", 1);
    auto impatient = MapSource(source);
    ::unsetenv("PGOPTIONS");
    return impatient;
}

// A run of `wells` wells, in the order of the parcels they lie in, against the parcels,
// whose every connection the server ends halfway through. The run ends through the
// standard report, the partial selection counted, and the data whole. The features it
// selected.
std::size_t RunKilledHalfway(const std::string& schema, int wells) {
    TestDatabase database(schema);
    database.WriteTable(Parcels());
    database.Execute("CREATE TABLE " + schema + ".wells AS SELECT g AS fid, ST_MakePoint(g * 30.0 / " +
                     std::to_string(wells + 1) + ", 0.5)::geometry(Point, 0) AS geom FROM generate_series(1, " +
                     std::to_string(wells) + ") g");
    database.Execute("ALTER TABLE " + schema + ".wells ADD PRIMARY KEY (fid)");
    // The map's own connections, by their name on the server: other suites use it too.
    const std::string name = "selvane_" + schema;
    auto source = MapSource(database.Source() + " application_name=" + name);
    auto target = std::make_shared<gis::PostgisLayer>("parcels", source.LoadTable(schema + ".parcels"));
    HostedMap hosted({target, std::make_shared<gis::PostgisLayer>("wells", source.LoadTable(schema + ".wells"))});
    hosted.Open();
    bool killed = false;
    auto progress = hosted.host->Application()->Bar()->Progress();
    progress->SetDisplay([&](const gis::ProgressState& state) {
        if (!killed && state.position > state.max_range / 2) {
            killed = true;
            database.Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" + name +
                             "'");
        }
    });
    hosted.Select("parcels", "INTERSECT", "wells");
    EXPECT_TRUE(killed);
    hosted.messages.ExpectOneWith({"btnNext_Click", "terminat"});
    EXPECT_EQ(hosted.Count(), std::to_string(target->SelectedCount()));
    EXPECT_EQ(database.Execute("SELECT count(*) FROM " + schema + ".parcels"), "30");
    return target->SelectedCount();
}

TEST(PostgisFailures, AConnectionKilledMidRunEndsThroughTheReportWithThePartialSelectionCounted) {
    // The searches in the server, one statement each: the kill finds one at work. More
    // wells than one batch of the scan.
    const ScopedTableCopyRule server(gis::TableCopyRule::kNever);
    const auto selected = RunKilledHalfway("killed", 25000);
    EXPECT_GT(selected, 0u);
    EXPECT_LT(selected, 30u);
}

TEST(PostgisFailures, AGeometryColumnChangedSinceTheMapOpenedIsReportedAtTheNextRun) {
    TestDatabase database("changed");
    database.Execute("CREATE TABLE changed.cells AS SELECT g AS fid, ST_MakeEnvelope(500000 + g * 10, 6000000, 500010 + "
                     "g * 10, 6000010, 32633)::geometry(Polygon, 32633) AS geom FROM generate_series(1, 30) g");
    database.Execute("ALTER TABLE changed.cells ADD PRIMARY KEY (fid)");
    auto cells = database.Layer("cells");
    HostedMap hosted({cells, database.Layer("cells", "same")});
    hosted.Open();
    hosted.Select("cells", "INTERSECT", "same");
    EXPECT_EQ(hosted.Count(), "30");
    ASSERT_TRUE(hosted.messages.texts.empty());

    database.Execute("ALTER TABLE changed.cells ALTER COLUMN geom TYPE geometry(Polygon, 4326) USING "
                     "ST_Transform(geom, 4326)");
    hosted.Select("cells", "INTERSECT", "same");
    hosted.messages.ExpectOneWith(
        {"is now geometry(Polygon,4326) (it was geometry(Polygon,32633) when the map was opened)"});
    try {
        cells->ReadShapes({geos::geom::Envelope(0, 1e7, 0, 1e7)}, [](const gis::ShapeInView&) {});
        ADD_FAILURE() << "a changed table was drawn";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("open the map again"), std::string::npos) << error.what();
    }
}

// 20,000 query squares, each around 5 of 250,000 points: two batches of the scan, each
// answered ahead on the main connection and a helper, with more rows than the sockets
// hold, so that the server is still sending when a connection ends.
void WriteSquaresAndPoints(TestDatabase& database) {
    const auto& schema = database.Schema();
    database.Execute("CREATE TABLE " + schema + ".points AS SELECT g AS fid, ST_MakePoint(g / 10.0, 0)::geometry(Point, 0) "
                     "AS geom FROM generate_series(1, 250000) g");
    database.Execute("CREATE TABLE " + schema + ".squares AS SELECT g AS fid, ST_MakeEnvelope(g - 0.25, -0.25, g + "
                     "0.25, 0.25)::geometry(Polygon, 0) AS geom FROM generate_series(1, 20000) g");
    for (const char* table : {"points", "squares"}) {
        database.Execute("ALTER TABLE " + schema + "." + table + " ADD PRIMARY KEY (fid)");
        database.Execute("CREATE INDEX ON " + schema + "." + table + " USING gist (geom)");
        database.Execute("ANALYZE " + schema + "." + table);
    }
}

TEST(PostgisFailures, ALostHelperConnectionLeavesTheSearchesToTheMainConnectionInTheSameSnapshot) {
    // The searches in the server, where a helper connection answers half of each batch.
    const ScopedTableCopyRule server(gis::TableCopyRule::kNever);
    // The helper ends while both halves of the first batch are read, once the main
    // connection's half has ended, and while the second batch is read.
    for (const double moment : {0.05, 0.35, 0.6}) {
        SCOPED_TRACE(moment);
        TestDatabase database("helper_" + std::to_string(static_cast<int>(moment * 100)));
        WriteSquaresAndPoints(database);
        const auto& schema = database.Schema();
        // The map's own connections, by their name on the server: other suites use it too,
        // and listing a database's layers reads this schema's tables.
        const std::string name = "selvane_" + schema;
        auto source = MapSource(database.Source() + " application_name=" + name);
        auto points = std::make_shared<gis::PostgisLayer>("points", source.LoadTable(schema + ".points"));
        HostedMap hosted({points, std::make_shared<gis::PostgisLayer>("squares", source.LoadTable(schema + ".squares"))});
        hosted.Open();
        std::string killed;
        bool inserted = false;
        auto progress = hosted.host->Application()->Bar()->Progress();
        progress->SetDisplay([&](const gis::ProgressState& state) {
            if (!inserted && state.position > state.max_range / 50) {
                // Rows written once the run has begun are not the run's to see.
                inserted = true;
                database.Execute("INSERT INTO " + schema + ".points SELECT g + 1000000, ST_MakePoint(g, 0.1) FROM "
                                 "generate_series(1, 20000, 7) g");
            }
            if (killed.empty() && state.position > state.max_range * moment) {
                // The helper: the newer of the map's two connections.
                killed = database.Execute(
                    "SELECT pg_terminate_backend(pid) FROM (SELECT pid FROM pg_stat_activity WHERE application_name = '" +
                    name + "' ORDER BY backend_start DESC LIMIT 1) newest");
            }
        });
        hosted.Select("points", "INTERSECT", "squares");

        EXPECT_EQ(killed, "t");
        EXPECT_TRUE(hosted.messages.texts.empty()) << hosted.messages.texts.front();
        EXPECT_EQ(hosted.Count(), "100000");
        EXPECT_EQ(points->SelectedCount(), 100000u);

        // The helper gone, the next run's copy of the table (large enough for two halves)
        // is made by the main connection alone, and selects what the server does.
        const auto copied = TablesCopied();
        const auto copied_in_halves = TablesCopiedInHalves();
        {
            const ScopedTableCopyRule memory(gis::TableCopyRule::kAlways);
            hosted.Select("points", "INTERSECT", "squares");
        }
        const auto copy_count = hosted.Count();
        hosted.Select("points", "INTERSECT", "squares");
        EXPECT_TRUE(hosted.messages.texts.empty()) << hosted.messages.texts.front();
        EXPECT_EQ(TablesCopied() - copied, 1u);
        EXPECT_EQ(TablesCopiedInHalves() - copied_in_halves, 0u);
        // The points written during the first run, one in each of 2,858 squares.
        EXPECT_EQ(copy_count, "102858");
        EXPECT_EQ(hosted.Count(), "102858");
    }
}

// A run that ends early leaves no statement of its own working in the server, and the
// next run on the same map starts afresh. 14,000 query squares (two batches of the scan,
// each answered ahead in two halves) over 60,000 small cells, ten a unit along x. Squares
// 1-5000 and 10001-12000 are small (one about each whole x); the rest, the helpers'
// halves, are 6 units wide, so that a helper's statement works a while. The run ends on
// a bow tie among the cells: found by the first search, by a search of the main
// connection's half while the helper works, inside the helper's half, and in the second
// batch's helper half.
TEST(PostgisFailures, ARunEndedEarlyStopsItsStatementsAndTheNextRunStartsAfresh) {
    // The searches in the server, whose statements the end of the run stops.
    const ScopedTableCopyRule server(gis::TableCopyRule::kNever);
    TestDatabase database("ended");
    database.Execute("CREATE TABLE ended.cells AS SELECT g AS fid, ST_MakeEnvelope(g / 10.0 - 0.02, -0.02, g / 10.0 + "
                     "0.02, 0.02)::geometry(Polygon, 0) AS geom FROM generate_series(1, 60000) g");
    database.Execute("CREATE TABLE ended.squares AS SELECT g AS fid, CASE WHEN g <= 5000 THEN ST_MakeEnvelope(g - 0.25, "
                     "-0.25, g + 0.25, 0.25) WHEN g <= 10000 THEN ST_MakeEnvelope(g - 5003, -1, g - 4997, 1) WHEN g "
                     "<= 12000 THEN ST_MakeEnvelope(g - 10000.25, -0.25, g - 9999.75, 0.25) ELSE ST_MakeEnvelope(5000 "
                     "+ (g - 12000) / 2.0 - 3, -1, 5000 + (g - 12000) / 2.0 + 3, 1) END::geometry(Polygon, 0) AS geom "
                     "FROM generate_series(1, 14000) g");
    for (const std::string table : {"cells", "squares"}) {
        database.Execute("ALTER TABLE ended." + table + " ADD PRIMARY KEY (fid)");
        database.Execute("CREATE INDEX ON ended." + table + " USING gist (geom)");
        database.Execute("ANALYZE ended." + table);
    }
    const auto expected = database.Execute("SELECT count(*) FROM ended.cells c WHERE EXISTS (SELECT 1 FROM "
                                           "ended.squares s WHERE ST_Intersects(s.geom, c.geom))");
    // The map's connections by a name of their own, apart from other tests'.
    auto source = MapSource(database.Source() + " application_name=selvane_ended_run");
    const auto working = [&] {
        database.Execute("SELECT pg_stat_clear_snapshot()");
        return database.Execute("SELECT count(*) FROM pg_stat_activity WHERE application_name = "
                                "'selvane_ended_run' AND state <> 'idle'");
    };
    // What the server says it stopped: its log (cluster.sh's, beside the data folder), read
    // by the server itself; a statement at work when asked to stop logs its cancellation.
    const auto stopped = [&] {
        return std::stoi(database.Execute(
            "SELECT count(*) FROM regexp_matches(pg_read_file(current_setting('data_directory') || "
            "'/../server.log'), 'canceling statement due to user request\n[^\n]*STATEMENT: [^\n]*ended', 'g')"));
    };
    auto cells = std::make_shared<gis::PostgisLayer>("cells", source.LoadTable("ended.cells"), "");
    HostedMap hosted({cells, std::make_shared<gis::PostgisLayer>("squares", source.LoadTable("ended.squares"), "")});
    hosted.Open();
    // The cell that becomes a bow tie: under square 1 (the first search), under square 500
    // (the main connection's half), at 200.5 under squares 5198-5203 only, at 5800.5 under
    // squares 13595-13607 only.
    for (const int cell : {10, 5000, 2005, 58005}) {
        SCOPED_TRACE(cell);
        const auto fid = std::to_string(cell);
        database.Execute("UPDATE ended.cells SET geom = ST_Translate('POLYGON((0 0,0.01 0.01,0.01 0,0 0.01,0 0))', fid "
                         "/ 10.0, 0) WHERE fid = " + fid);
        const int stopped_before = stopped();
        hosted.Select("cells", "INTERSECT", "squares");
        ASSERT_EQ(hosted.messages.texts.size(), 1u);
        EXPECT_NE(hosted.messages.texts[0].find("FID " + fid + ": Self-intersection"), std::string::npos)
            << hosted.messages.texts[0];
        hosted.messages.texts.clear();
        EXPECT_EQ(working(), "0") << "statements of the ended run still work in the server";
        EXPECT_GT(stopped(), stopped_before) << "the run's statements were read out, not stopped";

        database.Execute("UPDATE ended.cells SET geom = ST_MakeEnvelope(fid / 10.0 - 0.02, -0.02, fid / 10.0 + 0.02, "
                         "0.02) WHERE fid = " + fid);
        hosted.map->ClearSelection();
        hosted.Select("cells", "INTERSECT", "squares");
        EXPECT_TRUE(hosted.messages.texts.empty()) << hosted.messages.texts.front();
        hosted.messages.texts.clear();
        EXPECT_EQ(std::to_string(cells->SelectedCount()), expected);
    }

    // A batch too small to be split (40 squares, no helper) ends early and starts afresh alike.
    auto few_squares = source.LoadTable("ended.squares");
    few_squares->RequireDefinitionQuery("fid <= 40");
    HostedMap few({cells, std::make_shared<gis::PostgisLayer>("few squares", few_squares, "fid <= 40")});
    few.Open();
    database.Execute("UPDATE ended.cells SET geom = ST_Translate('POLYGON((0 0,0.01 0.01,0.01 0,0 0.01,0 0))', 1, 0) "
                     "WHERE fid = 10");
    few.Select("cells", "INTERSECT", "few squares");
    ASSERT_EQ(few.messages.texts.size(), 1u);
    EXPECT_NE(few.messages.texts[0].find("FID 10: Self-intersection"), std::string::npos) << few.messages.texts[0];
    few.messages.texts.clear();
    EXPECT_EQ(working(), "0") << "statements of the ended run still work in the server";
    database.Execute("UPDATE ended.cells SET geom = ST_MakeEnvelope(0.98, -0.02, 1.02, 0.02) WHERE fid = 10");
    few.map->ClearSelection();
    few.Select("cells", "INTERSECT", "few squares");
    EXPECT_TRUE(few.messages.texts.empty()) << few.messages.texts.front();
    EXPECT_EQ(std::to_string(cells->SelectedCount()),
              database.Execute("SELECT count(*) FROM ended.cells c WHERE EXISTS (SELECT 1 FROM ended.squares s WHERE "
                               "s.fid <= 40 AND ST_Intersects(s.geom, c.geom))"));
}

// A link to the test server's port on the loopback address that forwards both ways until it
// is silenced: then it reads nothing and sends nothing, as a network gone dead does.
class SilenceableLink {
public:
    explicit SilenceableLink(int server_port) : m_server_port(server_port) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no port for the link";
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Forward(); });
    }
    ~SilenceableLink() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    int Port() const { return m_port; }
    void Silence() { m_silent = true; }

private:
    void Forward() {
        std::vector<int> ends;  // pairs: a client's socket, then the server's
        while (!m_stop) {
            std::vector<pollfd> polled{{m_listener, POLLIN, 0}};
            if (!m_silent) {
                for (const int end : ends) polled.push_back({end, POLLIN, 0});
            }
            if (::poll(polled.data(), polled.size(), 20) <= 0 || m_silent) continue;
            if (polled[0].revents & POLLIN) {
                const int client = ::accept(m_listener, nullptr, nullptr);
                const int server = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                address.sin_port = htons(static_cast<std::uint16_t>(m_server_port));
                if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::close(server);
                ends.insert(ends.end(), {client, server});
            }
            for (std::size_t index = 1; index < polled.size(); ++index) {
                if (!(polled[index].revents & (POLLIN | POLLHUP))) continue;
                char bytes[65536];
                const auto read = ::read(polled[index].fd, bytes, sizeof bytes);
                const int peer = ends[(index - 1) ^ 1];
                if (read <= 0) {
                    ::shutdown(peer, SHUT_WR);
                } else if (::send(peer, bytes, static_cast<std::size_t>(read), MSG_NOSIGNAL) != read) {
                    ::shutdown(peer, SHUT_RDWR);
                }
            }
        }
        for (const int end : ends) ::close(end);
    }

    int m_server_port;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_silent{false};
    std::thread m_thread;
};

TEST(PostgisFailures, SlowFiltersLockedTablesAndInterruptedProgramsDoNotKeepTheServerWorking) {
    TestDatabase database("limits");
    database.WriteTable(Parcels());
    database.Execute("CREATE TABLE limits.points AS SELECT g AS fid, ST_MakePoint(g, 0)::geometry(Point, 0) AS geom "
                     "FROM generate_series(1, 20000) g");
    database.Execute("ALTER TABLE limits.points ADD PRIMARY KEY (fid)");

    // A definition query runs over the whole table under a clock when the layer loads, as
    // a file's does: one too slow for its table is stopped and named.
    auto points = std::dynamic_pointer_cast<gis::PostgisFeatureClass>(database.Layer("points")->FeatureClass());
    ASSERT_TRUE(points);
    EXPECT_NO_THROW(points->RequireDefinitionQuery("fid < 10", std::chrono::milliseconds(5000)));
    try {
        points->RequireDefinitionQuery("ST_Area(ST_Buffer(geom, 1, 5000)) > 0", std::chrono::milliseconds(50));
        FAIL() << "the slow query was let through";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("table limits.points: the definition query 'ST_Area(ST_Buffer(geom, 1, "
                                                 "5000)) > 0' ran longer than 0.1 s and was stopped"),
                  std::string::npos)
            << error.what();
    }
    // The connection goes on, the limit gone with the statement: back to a run's own.
    EXPECT_EQ(points->FeatureCount(nullptr), 20000);
    EXPECT_EQ(PQgetvalue(points->Connection()->Execute("SELECT current_setting('statement_timeout')").get(), 0, 0),
              std::string("1min"));
    // A run's statement that outlives its limit (here the user's, shorter than a run's own)
    // is stopped by the server, and the run says which layer it read.
    auto impatient_source = ImpatientSource(database.Source());
    HostedMap slow_run({database.Layer("parcels"),
                        std::make_shared<gis::PostgisLayer>("slow", impatient_source.LoadTable("limits.points"),
                                                            "ST_Area(ST_Buffer(geom, 1, 5000)) > 0")});
    slow_run.Open();
    slow_run.Select("parcels", "INTERSECT", "slow");
    slow_run.messages.ExpectOneWith({"layer slow", "canceling statement"});

    // A server that keeps silent past its own limit (here its link goes dead once the map is
    // open) is not waited for: the client's clock closes the connection, naming the layer.
    const auto ssl = TestServerFile("conninfo_ssl");
    SilenceableLink link(std::atoi(ssl.substr(ssl.find("port=") + 5).c_str()));
    auto far_source = ImpatientSource("PG:host=127.0.0.1 port=" + std::to_string(link.Port()) +
                                      " user=selvane dbname=selvane_test sslmode=require connect_timeout=2");
    HostedMap dead_run(
        {database.Layer("parcels"), std::make_shared<gis::PostgisLayer>("far", far_source.LoadTable("limits.points"))});
    dead_run.Open();
    link.Silence();
    dead_run.Select("parcels", "INTERSECT", "far");
    dead_run.messages.ExpectOneWith({"layer far", "the server sent nothing for 5.3 s"});

    // A table locked by another session is reported after a while, not waited for: 10 s
    // unless the user's environment, role or database say otherwise.
    const auto setting = [](gis::PgConnection& connection, const std::string& name) {
        return std::string(PQgetvalue(connection.Execute("SELECT current_setting('" + name + "')").get(), 0, 0));
    };
    EXPECT_EQ(setting(*points->Connection(), "lock_timeout"), "10s");
    EXPECT_EQ(setting(*points->Connection(), "client_connection_check_interval"), "1s");
    ::setenv("PGOPTIONS", "-c lock_timeout=200", 1);
    gis::PgConnection short_wait(database.Source());
    ::unsetenv("PGOPTIONS");
    EXPECT_EQ(setting(short_wait, "lock_timeout"), "200ms");
    database.Execute("BEGIN");
    database.Execute("LOCK TABLE limits.parcels IN ACCESS EXCLUSIVE MODE");
    try {
        short_wait.Execute("SELECT count(*) FROM limits.parcels");
        ADD_FAILURE() << "the locked table was read";
    } catch (const platform::Error& error) {
        EXPECT_NE(std::string(error.what()).find("lock timeout"), std::string::npos) << error.what();
    }

    // An interrupted program leaves no statement behind: here one waiting for the lock.
    TempFolder folder;
    const auto document = folder.File("map.json");
    // Named on the server as its own: other suites' programs may wait on the lock too.
    const auto patient = database.Source() + " application_name=selvane_limits";
    ::setenv("PGOPTIONS", "-c lock_timeout=600000", 1);
    std::ofstream(document) << R"({"layers": [{"type": "feature", "name": "Parcels", "source": ")" + patient +
                                   R"(", "table": "limits.parcels"}]})";
    const auto started = RunSelvane("select --map " + ShellQuoted(document) +
                                    " --layer2 Parcels --relation INTERSECT --layer1 Parcels >/dev/null 2>&1 & echo $!");
    ::unsetenv("PGOPTIONS");
    const int pid = std::atoi(started.out.c_str());
    ASSERT_GT(pid, 0) << started.out;
    const std::string waiting = "SELECT EXISTS (SELECT 1 FROM pg_stat_activity WHERE application_name = 'selvane_limits' "
                                "AND state = 'active' AND query LIKE '%\"limits\".\"parcels\"%')";
    ASSERT_TRUE(BecomesTrue(database, waiting));
    ::kill(pid, SIGTERM);
    EXPECT_TRUE(BecomesTrue(database, "SELECT NOT (" + waiting.substr(7) + ")"));
    database.Execute("ROLLBACK");
}

TEST(PostgisFailures, TablesWithoutADeclaredSystemWithChildrenOrWithNonFiniteShapesGiveWhatTheirRowsSay) {
    TestDatabase database("rows");
    database.Execute("CREATE TABLE rows.declared AS SELECT g AS fid, ST_MakeEnvelope(500000 + g * 10, 6000000, 500000 + "
                     "g * 10 + 10, 6000010, 32633)::geometry(Polygon, 32633) AS geom FROM generate_series(1, 30) g");
    // CREATE TABLE ... AS a query declares no SRID; its rows carry one.
    database.Execute("CREATE TABLE rows.undeclared AS SELECT fid, ST_Transform(geom, 4326) AS geom FROM rows.declared");
    database.Execute("CREATE TABLE rows.mixed AS SELECT fid, CASE WHEN fid > 20 THEN ST_Transform(geom, 4326) ELSE geom "
                     "END AS geom FROM rows.declared");
    database.Execute("CREATE TABLE rows.road (fid integer PRIMARY KEY, geom geometry(LineString, 32633))");
    database.Execute("INSERT INTO rows.road VALUES (1, ST_GeomFromText('LINESTRING(500045 6000005,500125 6000005)', 32633))");
    for (const char* table : {"declared", "undeclared", "mixed"}) {
        database.Execute(std::string("ALTER TABLE rows.") + table + " ADD PRIMARY KEY (fid)");
    }
    const auto selected = [&](const std::string& table) {
        auto layer = database.Layer(table);
        HostedMap hosted({layer, database.Layer("road")});
        hosted.Open();
        hosted.Select(table, "INTERSECT", "road");
        EXPECT_TRUE(hosted.messages.texts.empty()) << hosted.messages.texts.front();
        return hosted.Count();
    };
    const auto expected = selected("declared");
    EXPECT_EQ(expected, "9");
    EXPECT_EQ(selected("undeclared"), expected);
    const auto mixed = LoadFailure(database.Source(), "rows.mixed");
    EXPECT_NE(mixed.find("table rows.mixed: the shapes of geom are in more than one coordinate system (SRID 32633 and "
                         "4326)"),
              std::string::npos)
        << mixed;

    // A child table's rows are the child's: the parent is read alone, under its own key.
    database.Execute("CREATE TABLE rows.child () INHERITS (rows.declared)");
    database.Execute("INSERT INTO rows.child SELECT fid, geom FROM rows.declared WHERE fid <= 5");
    EXPECT_EQ(database.Layer("declared")->FeatureClass()->FeatureCount(nullptr), 30);
    EXPECT_EQ(selected("declared"), expected);
    // A partitioned table is read whole: its partitions hold its rows, under one key.
    database.Execute("CREATE TABLE rows.parted (fid integer PRIMARY KEY, geom geometry(Polygon, 32633)) PARTITION BY "
                     "RANGE (fid)");
    database.Execute("CREATE TABLE rows.parted_low PARTITION OF rows.parted FOR VALUES FROM (1) TO (16)");
    database.Execute("CREATE TABLE rows.parted_high PARTITION OF rows.parted FOR VALUES FROM (16) TO (100)");
    database.Execute("INSERT INTO rows.parted SELECT fid, geom FROM ONLY rows.declared");
    EXPECT_EQ(selected("parted"), expected);

    // A coordinate that is not a finite number is named with its FID, among the shapes
    // searched and among the query shapes, as in a file; whether the table searched is
    // read into memory or searched in the server.
    database.Execute("CREATE TABLE rows.wells (fid integer PRIMARY KEY, geom geometry(Point, 32633))");
    database.Execute("INSERT INTO rows.wells SELECT g, ST_SetSRID(ST_MakePoint(500005 + g * 10, 6000005), 32633) FROM "
                     "generate_series(1, 10) g");
    database.Execute("INSERT INTO rows.wells VALUES (11, ST_SetSRID(ST_MakePoint('NaN', 6000005), 32633))");
    database.Execute("CREATE TABLE rows.blocks (fid integer PRIMARY KEY, geom geometry(Polygon, 32633))");
    database.Execute("INSERT INTO rows.blocks SELECT fid, geom FROM ONLY rows.declared WHERE fid < 4");
    database.Execute("INSERT INTO rows.blocks VALUES (4, ST_SetSRID(ST_MakePolygon(ST_MakeLine(ARRAY[ST_MakePoint(500000, "
                     "6000000), ST_MakePoint(500010, 6000000), ST_MakePoint(500010, 'Infinity'), ST_MakePoint(500000, "
                     "6000000)])), 32633))");
    std::map<std::string, std::vector<std::string>> counts;
    for (const auto rule : {gis::TableCopyRule::kNever, gis::TableCopyRule::kAlways}) {
        const ScopedTableCopyRule answered(rule);
        for (const auto& [layer2, layer1, culprit] :
             {std::tuple{"wells", "declared", "layer wells (table rows.wells"},
              std::tuple{"declared", "blocks", "layer blocks (table rows.blocks"}}) {
            HostedMap hosted({database.Layer(layer2), database.Layer(layer1)});
            hosted.Open();
            hosted.Select(layer2, "INTERSECT", layer1);
            ASSERT_EQ(hosted.messages.texts.size(), 1u) << layer2;
            const auto& text = hosted.messages.texts.front();
            EXPECT_NE(text.find("Invalid shape in " + std::string(culprit)), std::string::npos) << text;
            EXPECT_NE(text.find(std::string("FID ") + (layer2 == std::string("wells") ? "11" : "4") +
                                ": a coordinate is not a finite number"),
                      std::string::npos)
                << text;
            counts[layer2].push_back(hosted.Count());
        }
    }
    // The wells fail the first search; the blocks, once three were searched.
    EXPECT_EQ(counts["wells"], (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(counts["declared"], (std::vector<std::string>{"4", "4"}));

    // Points are first looked for outside a box of float range: a finite coordinate beyond
    // it and an empty point are not faults, an infinite one is.
    database.Execute("CREATE TABLE rows.far (fid integer PRIMARY KEY, geom geometry(Point, 32633))");
    database.Execute("INSERT INTO rows.far VALUES (1, ST_SetSRID(ST_MakePoint(500015, 6000005), 32633)), (2, "
                     "ST_SetSRID(ST_MakePoint(1e39, 6000005), 32633)), (3, 'SRID=32633;POINT EMPTY')");
    const ScopedTableCopyRule in_server(gis::TableCopyRule::kNever);
    const auto far_selected = [&database] {
        HostedMap hosted({database.Layer("far"), database.Layer("declared")});
        hosted.Open();
        hosted.Select("far", "INTERSECT", "declared");
        return std::pair{hosted.messages.texts, hosted.Count()};
    };
    EXPECT_EQ(far_selected(), (std::pair{std::vector<std::string>{}, std::string("1")}));
    database.Execute("INSERT INTO rows.far VALUES (4, ST_SetSRID(ST_MakePoint(500005, '-Infinity'), 32633))");
    const auto [texts, count] = far_selected();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts.front().find("FID 4: a coordinate is not a finite number"), std::string::npos) << texts.front();
}

TEST(PostgisFailures, AnInvalidShapeFoundBySearchIsNamedWithItsFid) {
    TestDatabase database("invalid");
    auto parcels = Parcels();
    parcels.shapes[4] = "POLYGON((4 0,5 1,5 0,4 1,4 0))";  // a bow tie
    database.WriteTable(parcels);
    TableSpec roads{"roads", wkbLineString, 0, {"LINESTRING(0 0.5,30 0.5)"}, {}};
    database.WriteTable(roads);

    HostedMap hosted({database.Layer("parcels"), database.Layer("roads")});
    hosted.Open();
    hosted.Select("parcels", "INTERSECT", "roads");
    hosted.messages.ExpectOneWith({"Invalid shape in layer parcels (table invalid.parcels", "FID 5: Self-intersection"});

    // A bow tie among the query shapes of a layer in memory is a fault of that layer's
    // data, named as such, not a relate error.
    TempFolder folder;
    const auto path = folder.File("zones.gpkg");
    WriteGeoPackage(path, {{"zones", wkbPolygon, 0,
                            {"POLYGON((10 0,11 0,11 1,10 1,10 0))", "POLYGON((20 0,21 1,21 0,20 1,20 0))"}, {}}});
    HostedMap mixed({database.Layer("roads"), LoadLayer(path, "zones", "Zones")});
    mixed.Open();
    mixed.Select("roads", "INTERSECT", "Zones");
    mixed.messages.ExpectOneWith({"Invalid shape in layer Zones (table zones, file " + path + "), FID 2", "btnNext_Click"});
}

TEST(PostgisFailures, AServerErrorSurfacesAtTheSearchItBelongsToEvenWhenSearchesAreAnsweredAhead) {
    // The definition query fails the table's copy too: the searches are then the server's.
    std::map<std::string, std::vector<std::string>> counts;
    for (const auto rule : {gis::TableCopyRule::kNever, gis::TableCopyRule::kAlways}) {
        const ScopedTableCopyRule answered(rule);
        const auto copied = TablesCopied();
        TestDatabase database("ahead");
        database.WriteTable(Parcels());
        TableSpec wells{"wells", wkbPoint, 0, {}, {}};
        for (int i = 0; i < 30; ++i) wells.shapes.push_back("POINT(" + std::to_string(i) + ".5 0.5)");
        database.WriteTable(wells);
        // The query fails on parcel 5 only, which the fifth well lies in, once the layer has
        // loaded (where the query runs over the whole table).
        auto parcels = database.Layer("parcels", "parcels", "1 / (length(zone) - 5) > -100");
        database.Execute("UPDATE ahead.parcels SET zone = 'fifth' WHERE fid = 5");
        auto scan = database.Layer("wells")->Search(nullptr, true);

        std::vector<int> found;
        std::string failure;
        while (auto well = scan->NextFeature()) {
            auto filter = std::make_shared<gis::SpatialFilter>();
            filter->SetGeometry(well->Shape());
            filter->SetGeometryField("geom");
            try {
                auto cursor = parcels->Search(filter, false);
                int count = 0;
                while (cursor->NextFeature()) ++count;
                found.push_back(count);
            } catch (const platform::Error& error) {
                failure = error.what();
                break;
            }
        }
        EXPECT_EQ(found, (std::vector<int>{1, 1, 1, 1}));
        EXPECT_NE(failure.find("Cannot evaluate esriSpatialRelIntersects on layer parcels"), std::string::npos) << failure;
        EXPECT_NE(failure.find("division by zero"), std::string::npos) << failure;
        EXPECT_EQ(TablesCopied(), copied);
    }
}

// A table read into memory for a scan fails as the server's searches would, and what the
// copy cannot read is left to the server.
TEST(PostgisFailures, ATableReadIntoMemoryFailsAsTheServersSearchesWould) {
    TestDatabase database("copy_faults");
    auto parcels = Parcels();
    parcels.shapes[4] = "POLYGON((4 0,5 1,5 0,4 1,4 0))";  // a bow tie
    database.WriteTable(parcels);
    TableSpec wells{"wells", wkbPoint, 0, {}, {}};
    for (int i = 0; i < 30; ++i) wells.shapes.push_back("POINT(" + std::to_string(i) + ".5 0.25)");
    database.WriteTable(wells);
    // Parcels of any type, one of them curved: the server reads it, the copy does not.
    database.Execute("CREATE TABLE copy_faults.curved AS SELECT fid, CASE WHEN fid = 3 THEN "
                     "'CURVEPOLYGON(CIRCULARSTRING(2 0.5, 2.5 1, 3 0.5, 2.5 0, 2 0.5))'::geometry ELSE "
                     "geom::geometry END AS geom FROM copy_faults.parcels WHERE fid <> 5");
    database.Execute("ALTER TABLE copy_faults.curved ADD PRIMARY KEY (fid)");

    struct Outcome {
        std::vector<std::int64_t> ids;
        std::vector<std::string> messages;
        std::string count;
        std::size_t copies = 0;
    };
    const auto run = [&](gis::TableCopyRule rule, const std::string& table) {
        const ScopedTableCopyRule answered(rule);
        const auto copied = TablesCopied();
        auto target = database.Layer(table);
        HostedMap hosted({target, database.Layer("wells")});
        hosted.Open();
        hosted.Select(table, "INTERSECT", "wells");
        return Outcome{target->SelectedFids(), hosted.messages.texts, hosted.Count(), TablesCopied() - copied};
    };
    // The bow tie is found by the fifth well's search, and named with the table's layer.
    const auto memory = run(gis::TableCopyRule::kAlways, "parcels");
    EXPECT_EQ(memory.copies, 1u);
    ASSERT_EQ(memory.messages.size(), 1u);
    EXPECT_NE(memory.messages[0].find("Invalid shape in layer parcels (table copy_faults.parcels, database PG:"),
              std::string::npos)
        << memory.messages[0];
    EXPECT_NE(memory.messages[0].find("FID 5: Self-intersection"), std::string::npos) << memory.messages[0];
    EXPECT_EQ(memory.count, "4");

    // The curved parcel fails the copy; the server answers every search.
    const auto server = run(gis::TableCopyRule::kNever, "curved");
    const auto left_to_server = run(gis::TableCopyRule::kAlways, "curved");
    EXPECT_EQ(left_to_server.copies, 0u);
    EXPECT_TRUE(left_to_server.messages.empty()) << left_to_server.messages.front();
    EXPECT_EQ(left_to_server.ids, server.ids);
    EXPECT_EQ(server.ids.size(), 29u);
}

TEST(PostgisFailures, AStatementSentAheadKeepsItsRowsThroughOtherStatementsAndFailsWhenTaken) {
    TestDatabase database("sent_ahead");
    auto connection = std::make_shared<gis::PgConnection>(database.Source());
    const auto value = [&](const std::string& sql) {
        const auto result = connection->Execute(sql);
        return std::string(PQgetvalue(result.get(), 0, 0));
    };
    // More rows than a socket holds: the server waits for the client to read them.
    const std::string rows = "SELECT g, repeat('x', 100) FROM generate_series(1, 20000) g";
    const auto failure_of = [](gis::PgSentStatement& sent) {
        try {
            sent.Take();
        } catch (const platform::Error& error) {
            return std::string(error.what());
        }
        return std::string("no failure");
    };
    {
        gis::PgSentStatement sent(connection, rows, false);
        sent.Receive();
        // Another statement first takes the sent one's result, which stays for it.
        EXPECT_EQ(value("SELECT 42"), "42");
        const auto taken = sent.Take();
        ASSERT_EQ(PQntuples(taken.get()), 20000);
        EXPECT_EQ(std::string(PQgetvalue(taken.get(), 19999, 0)), "20000");
    }
    {
        // A failure comes when the result is taken, in the server's words; the connection
        // goes on in a new transaction.
        gis::PgSentStatement sent(connection, "SELECT 1 / (g - 3) FROM generate_series(1, 5) g", false);
        const auto failure = failure_of(sent);
        EXPECT_NE(failure.find("division by zero"), std::string::npos) << failure;
        EXPECT_EQ(value("SELECT 7"), "7");
    }
    {
        // One dropped untaken is read out; one given up is stopped, and says so when taken.
        { gis::PgSentStatement dropped(connection, rows, false); }
        EXPECT_EQ(value("SELECT 8"), "8");
        gis::PgSentStatement given_up(connection, "SELECT pg_sleep(30)", false);
        given_up.Abandon();
        const auto failure = failure_of(given_up);
        EXPECT_NE(failure.find("given up"), std::string::npos) << failure;
        EXPECT_EQ(value("SELECT 9"), "9");
    }
}

TEST(PostgisFailures, AConnectionKilledAfterATableWasReadIntoMemoryEndsTheRunAtTheScansNextBatch) {
    // Four batches of the scan. The kill comes in the second batch, while the server sends
    // the third, which the searches in memory leave the connection free for. The run ends
    // at the first batch that had not all come: the third (the wells of the first two lie
    // in parcels 1 to 18), or, had the third come whole before the kill, the fourth
    // (parcels 1 to 26).
    const ScopedTableCopyRule memory(gis::TableCopyRule::kAlways);
    const auto selected = RunKilledHalfway("killed_copy", 35000);
    EXPECT_TRUE(selected == 18u || selected == 26u) << selected;
}

}  // namespace
}  // namespace selvane::testing
