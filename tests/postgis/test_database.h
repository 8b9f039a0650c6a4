#pragma once

// The database tests' server: the private cluster that tests/postgis/cluster.sh started
// (its connection string in the file SELVANE_TEST_PG_FILE names), tables written into it
// by the test, and layers on them.

#include <libpq-fe.h>

#include <memory>
#include <string>

#include "gis/postgis/layer.h"
#include "gis/postgis/source.h"
#include "gis/common/engine_tuning.h"
#include "gis/copy/copied_rows.h"
#include "gis/copy/table_copies.h"
#include "gis/wkb/ewkb.h"
#include "test_support.h"

namespace selvane::testing {

class TestDatabase {
public:
    /// Connects with write rights, as the loader of test data (the map's own connections
    /// are read-only). Tables go into a schema of the test's own, emptied first.
    explicit TestDatabase(const std::string& schema);
    /// The same on the server of `conninfo`.
    TestDatabase(const std::string& schema, const std::string& conninfo);
    ~TestDatabase();

    /// The libpq connection string and the map's source for it.
    const std::string& Conninfo() const { return m_conninfo; }
    std::string Source() const { return "PG:" + m_conninfo; }
    const std::string& Schema() const { return m_schema; }

    /// Runs SQL; fails the test with the server's message when it fails. Returns the first
    /// column of the first row, if any.
    std::string Execute(const std::string& sql);
    /// Writes `table` into the schema as WriteGeoPackage writes it into a file: object ids
    /// from 1 in the primary key "fid", shapes in "geom" (null for ""), "zone", and a GiST index.
    void WriteTable(const TableSpec& table);

    /// A layer on one of the schema's tables, named after it unless `name` is given.
    std::shared_ptr<gis::PostgisLayer> Layer(const std::string& table, const std::string& name = {},
                                             const std::string& definition_query = {});

private:
    std::string m_conninfo;
    std::string m_schema;
    PGconn* m_connection = nullptr;
    std::unique_ptr<gis::PostgisSource> m_source;
};

/// A square polygon's WKT, from (x, y) with sides of `size`.
std::string Square(double x, double y, double size);
/// Tables "cells", "lines", "points" and "districts" with the cases where exact answers
/// differ most: cells that share edges, lines along those edges and through corners,
/// holes, multi-part shapes, points on vertices, on edges and inside, large areas.
std::vector<TableSpec> EdgeCaseTables(int epsg);

/// The connection string of shard server `shard` (1 to 3) of the tests of tables spread
/// over servers (tests/postgis/shards.sh, in the folder the build names SELVANE_TEST_PG_SHARDS).
std::string ShardConninfo(int shard);

/// A source as a map opens one ("PG:..."), following TestTuning.
gis::PostgisSource MapSource(const std::string& source);
/// Tables read into memory for a scan's searches so far, and of those, tables copied in
/// two halves at once.
inline std::size_t TablesCopied() { return TestTuning()->tables_copied; }
inline std::size_t TablesCopiedInHalves() { return TestTuning()->tables_copied_in_halves; }

/// Sets how a run's searches of a database table are answered, for one test's scope: by
/// the table copied into memory or by the server, whichever would cost less, or always one
/// way.
class ScopedTableCopyRule {
public:
    explicit ScopedTableCopyRule(gis::TableCopyRule rule) : m_before(TestTuning()->copy_rule.exchange(rule)) {}
    ~ScopedTableCopyRule() { TestTuning()->copy_rule = m_before; }
    ScopedTableCopyRule(const ScopedTableCopyRule&) = delete;
    ScopedTableCopyRule& operator=(const ScopedTableCopyRule&) = delete;

private:
    gis::TableCopyRule m_before;
};

/// Polls `sql` on the test connection until it returns "t", for at most 30 s.
bool BecomesTrue(TestDatabase& database, const std::string& sql);

}  // namespace selvane::testing
