// Reading a GeoPackage straight into GEOS gives the rows that GDAL gives, and steps aside
// for what it does not read.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>

#include <limits>
#include <stdexcept>

#include "gis/files/file_source.h"
#include "gis/files/geopackage_reader.h"
#include "gis/files/rowid_slices.h"
#include "gis/files/sqlite_database.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

// The rows as GDAL reads them, each shape as WKT.
std::vector<std::pair<std::int64_t, std::string>> GdalRows(const std::string& path, const std::string& table) {
    GDALDatasetUniquePtr dataset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR));
    std::vector<std::pair<std::int64_t, std::string>> rows;
    for (auto& feature : *dataset->GetLayerByName(table.c_str())) {
        std::string wkt = "null";
        if (auto* geometry = feature->GetGeometryRef()) wkt = geometry->exportToWkt();
        rows.emplace_back(feature->GetFID(), wkt);
    }
    return rows;
}

gis::RowStore StoreOf(gis::FeatureRows rows) {
    return gis::RowStore::Of(std::move(rows), [] { return std::string("the table read"); });
}

std::vector<std::pair<std::int64_t, std::string>> TextOf(const gis::RowStore& store) {
    std::vector<std::pair<std::int64_t, std::string>> text;
    for (std::size_t row = 0; row < store.Count(); ++row) {
        std::string wkt = "null";
        if (const auto shape = store.ShapeAt(row)) {
            OGRGeometry* parsed = nullptr;
            const auto geos_wkt = shape->toString();
            OGRGeometryFactory::createFromWkt(geos_wkt.c_str(), nullptr, &parsed);
            const std::unique_ptr<OGRGeometry> geometry(parsed);
            wkt = geometry ? geometry->exportToWkt() : geos_wkt;
        }
        text.emplace_back(store.Fid(row), wkt);
    }
    return text;
}

std::vector<std::pair<std::int64_t, std::string>> DirectRows(gis::FeatureRows rows) {
    return TextOf(StoreOf(std::move(rows)));
}

// The rows the direct reader gives a table it reads, kept as the memory engine keeps them.
gis::RowStore DirectStore(const std::string& path, const std::string& table) {
    auto rows = gis::ReadGeoPackageRows(path, table, "fid", "geom");
    if (!rows) throw std::runtime_error(table + " was left to GDAL");
    return StoreOf(std::move(*rows));
}

TEST(GeoPackageReader, GivesTheRowsGdalGivesAndStepsAsideForCurves) {
    TempFolder folder;
    const auto path = folder.File("read.gpkg");
    WriteGeoPackage(path, {
        {"areas", 6, 0,  // multipolygons: holes, several parts, an empty one, a null one
         {"MULTIPOLYGON(((0 0,10 0,10 10,0 10,0 0),(2 2,4 2,4 4,2 4,2 2)),((20 20,21 20,21 21,20 20)))",
          "MULTIPOLYGON EMPTY", "", "MULTIPOLYGON(((1.5 -2.25,3 0,1 1,1.5 -2.25)))"},
         {}},
        {"points", 1, 4326, {"POINT(15.5 49.25)", "POINT EMPTY", "POINT(-180 90)"}, {}},
        {"curves", 9, 0, {"COMPOUNDCURVE(CIRCULARSTRING(0 0,1 1,2 0),(2 0,3 0))"}, {}},
    });
    for (const char* table : {"areas", "points"}) {
        SCOPED_TRACE(table);
        auto rows = gis::ReadGeoPackageRows(path, table, "fid", "geom");
        ASSERT_TRUE(rows.has_value());
        EXPECT_EQ(DirectRows(std::move(*rows)), GdalRows(path, table));
    }
    EXPECT_FALSE(gis::ReadGeoPackageRows(path, "curves", "fid", "geom").has_value());
    // Through the source, the curve table is read by GDAL all the same (and linearised).
    auto curves = gis::FileSource(path).LoadTable("curves");
    ASSERT_EQ(curves->RowCount(), 1u);
    EXPECT_GT(curves->Rows().ShapeAt(0)->getNumPoints(), 4u);
}

TEST(GeoPackageReader, ShapesAreKeptAsTheirWkbAcrossBlocksOfBlobs) {
    // Squares with an envelope in each blob's header, over more than one block of blobs as
    // read (4 MiB); a row without a shape, an empty one and a broken-up multipolygon among them.
    constexpr int kRows = 50000;
    TableSpec squares{"squares", 6, 0, {}, {}};
    for (int i = 0; i < kRows; ++i) {
        const int x = i % 250, y = i / 250;
        squares.shapes.push_back("MULTIPOLYGON(((" + std::to_string(x) + " " + std::to_string(y) + "," +
                                 std::to_string(x + 1) + " " + std::to_string(y) + "," + std::to_string(x + 1) + " " +
                                 std::to_string(y + 1) + "," + std::to_string(x) + " " + std::to_string(y) + ")))");
    }
    squares.shapes[31000] = "";
    squares.shapes[31001] = "MULTIPOLYGON EMPTY";
    squares.shapes[31002] = "MULTIPOLYGON(((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5)))";
    TempFolder folder;
    const auto path = folder.File("blocks.gpkg");
    WriteGeoPackage(path, {squares});
    const auto store = DirectStore(path, "squares");
    ASSERT_EQ(store.Count(), static_cast<std::size_t>(kRows));
    EXPECT_EQ(TextOf(store), GdalRows(path, "squares"));
    EXPECT_TRUE(store.StoredBytesAt(31000).empty());
    // Each row's WKB alone, without the blob's header.
    EXPECT_EQ(store.StoredBytesAt(0).size(), 1u + 4 + 4 + 1 + 4 + 4 + 4 + 4 * 16);

    // The class walks the rows' bytes on every core, a slice each: a coordinate that is not
    // a finite number is named by the first row that has one, in whichever slice it is.
    const auto first_not_finite = [&] {
        try {
            LoadLayer(path, "squares")->Class()->RequireAllFinite();
        } catch (const platform::Error& error) {
            return std::string(error.what());
        }
        return std::string("all finite");
    };
    EXPECT_EQ(first_not_finite(), "all finite");
    const auto spoil = [&](int fid) {
        // A square with a NaN x among its corners.
        const auto sql = "UPDATE squares SET geom = X'4750000100000000010300000001000000040000000000000000000000000000"
                         "0000000000000000000000F87F0000000000000000000000000000F03F000000000000F03F000000000000000000"
                         "00000000000000' WHERE fid = " + std::to_string(fid);
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(database);
    };
    spoil(kRows - 5);
    EXPECT_NE(first_not_finite().find("FID " + std::to_string(kRows - 5) + ": a coordinate is not a finite number"),
              std::string::npos)
        << first_not_finite();
    spoil(kRows / 2 + 1);
    spoil(7);
    EXPECT_NE(first_not_finite().find("FID 7: a coordinate is not a finite number"), std::string::npos)
        << first_not_finite();
}

TEST(GeoPackageReader, PointBlobsInEitherByteOrderAndWithAnEnvelopeGiveTheirCoordinates) {
    TempFolder folder;
    const auto path = folder.File("points.gpkg");
    WriteGeoPackage(path, {{"wells", 1, 0, {"POINT(0 0)", "POINT(0 0)", "POINT(0 0)"}, {}}});
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    // (1.5 -2) as a big-endian header and point; then with an xy envelope in a
    // little-endian header; then little-endian without one, as GDAL writes it.
    for (const char* sql : {"UPDATE wells SET geom = X'475000000000000000000000013FF8000000000000C000000000000000' WHERE fid = 1",
                            "UPDATE wells SET geom = X'4750000300000000000000000000F83F000000000000F83F00000000000000C0"
                            "00000000000000C00101000000000000000000F83F00000000000000C0' WHERE fid = 2",
                            "UPDATE wells SET geom = X'47500001000000000101000000000000000000F83F00000000000000C0' "
                            "WHERE fid = 3"}) {
        EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    }
    sqlite3_close(database);
    // The blobs without an envelope are read as coordinates, the other through GEOS: all
    // are kept alike.
    const auto wells = LoadLayer(path, "wells")->Class();
    ASSERT_EQ(wells->RowCount(), 3u);
    for (std::size_t row = 0; row < 3; ++row) {
        const auto* point = wells->Rows().PlainPointAt(row);
        ASSERT_NE(point, nullptr) << row;
        EXPECT_EQ(point->x, 1.5) << row;
        EXPECT_EQ(point->y, -2) << row;
    }
}

TEST(GeoPackageReader, RowsParsedOnEveryCoreNameTheFirstBrokenRowOfTheTable) {
    // Enough rows for a slice a core; broken blobs on both sides of the slices' border and
    // far into the last slice, so that a later slice meets its fault first.
    constexpr int kRows = 40001;
    TableSpec wells{"wells", 1, 0, {}, {}};
    for (int i = 0; i < kRows; ++i) wells.shapes.push_back("POINT(" + std::to_string(i) + " 1)");
    TempFolder folder;
    const auto path = folder.File("many.gpkg");
    WriteGeoPackage(path, {wells});
    const auto store = DirectStore(path, "wells");
    ASSERT_EQ(store.Count(), static_cast<std::size_t>(kRows));
    for (const int row : {0, kRows / 2 - 1, kRows / 2, kRows - 1}) {
        EXPECT_EQ(store.Fid(row), row + 1);
        const auto* point = store.PlainPointAt(row);  // a single point, kept as its coordinates
        ASSERT_NE(point, nullptr);
        EXPECT_EQ(point->x, row);
    }
    const auto first_fault = [&] {
        try {
            gis::ReadGeoPackageRows(path, "wells", "fid", "geom");
        } catch (const platform::Error& error) {
            return std::string(error.what());
        }
        return std::string("no fault");
    };
    const auto spoil = [&](int fid) {
        sqlite3* database = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
        const auto sql = "UPDATE wells SET geom = X'47500001' WHERE fid = " + std::to_string(fid);
        EXPECT_EQ(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(database);
    };
    spoil(kRows - 1);
    EXPECT_NE(first_fault().find("table wells, FID 40000: the shape cannot be read: a blob of 4 bytes"),
              std::string::npos) << first_fault();
    spoil(kRows / 2 + 1);
    spoil(kRows / 2);
    EXPECT_NE(first_fault().find("FID 20000:"), std::string::npos) << first_fault();
    spoil(7);
    EXPECT_NE(first_fault().find("FID 7:"), std::string::npos) << first_fault();
}

// A connection of the test's own to a GeoPackage, for what GDAL does not write.
class Writer {
public:
    explicit Writer(const std::string& path) { sqlite3_open(path.c_str(), &m_database); }
    ~Writer() { sqlite3_close(m_database); }
    int Execute(const std::string& sql) { return sqlite3_exec(m_database, sql.c_str(), nullptr, nullptr, nullptr); }

private:
    sqlite3* m_database = nullptr;
};

// A table's reading in `slices` slices (0: one a core), and the tables it read in slices.
struct Sliced : gis::EngineTuning {
    explicit Sliced(std::size_t slices) { rowid_slices = slices; }
};

TEST(GeoPackageReader, RowidRangesCutTheSpanWithoutGapOrOverlapAndOnlyWhereATableHasRowids) {
    TempFolder folder;
    const auto path = folder.File("ranges.gpkg");
    WriteGeoPackage(path, {{"wells", 1, 0, {"POINT(1 1)", "POINT(2 2)", "POINT(3 3)", "POINT(4 4)", "POINT(5 5)"}, {}},
                           {"ends", 1, 0, {"POINT(0 0)"}, {}}});
    {
        Writer writer(path);
        for (const char* sql : {"CREATE VIEW wells_view AS SELECT * FROM wells",
                                "CREATE TABLE no_rowid (id INTEGER PRIMARY KEY, g BLOB) WITHOUT ROWID",
                                "INSERT INTO no_rowid VALUES (1, NULL), (2, NULL)",
                                "CREATE TABLE hidden (_rowid_ INTEGER, g BLOB)",
                                "INSERT INTO hidden VALUES (7, NULL), (8, NULL)",
                                "CREATE TABLE no_rows (id INTEGER PRIMARY KEY)",
                                "INSERT INTO ends (fid, geom) SELECT -9223372036854775807 - 1, geom FROM ends",
                                "INSERT INTO ends (fid, geom) SELECT 9223372036854775807, geom FROM ends WHERE fid = 1"}) {
            ASSERT_EQ(writer.Execute(sql), SQLITE_OK) << sql;
        }
    }
    gis::ReadOnlyDatabase opened(path);
    sqlite3* database = opened.Handle();
    const auto cut = [&](const std::string& table, std::size_t count) {
        std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
        for (const auto& range : gis::RowidRanges(database, table, count)) ranges.emplace_back(range.first, range.last);
        return ranges;
    };
    using Ranges = std::vector<std::pair<std::int64_t, std::int64_t>>;
    EXPECT_EQ(cut("wells", 1), (Ranges{{1, 5}}));
    EXPECT_EQ(cut("wells", 2), (Ranges{{1, 2}, {3, 5}}));
    EXPECT_EQ(cut("wells", 4), (Ranges{{1, 1}, {2, 2}, {3, 3}, {4, 5}}));
    // Fewer rowids in the span than ranges asked for: the table whole.
    EXPECT_EQ(cut("wells", 5), (Ranges{{1, 5}}));
    for (const char* table : {"wells_view", "no_rowid", "hidden", "no_rows", "no_such_table"}) {
        EXPECT_EQ(cut(table, 2), Ranges{}) << table;
    }
    // Rowids from -2^63 to 2^63 - 1: every range follows the one before, the last ends at
    // the greatest.
    for (const std::size_t count : {2u, 3u, 7u}) {
        const auto ranges = cut("ends", count);
        ASSERT_EQ(ranges.size(), count);
        EXPECT_EQ(ranges.front().first, std::numeric_limits<std::int64_t>::min());
        EXPECT_EQ(ranges.back().second, std::numeric_limits<std::int64_t>::max());
        for (std::size_t index = 0; index < count; ++index) {
            EXPECT_LE(ranges[index].first, ranges[index].second);
            if (index > 0) {
                EXPECT_EQ(ranges[index - 1].second + 1, ranges[index].first);
            }
        }
    }
    // One core's worth of rowids is read whole.
    EXPECT_EQ(gis::SlicesOf(database, "wells").size(), 1u);
}

TEST(GeoPackageReader, ATableReadInSlicesGivesTheRowsOfOneStatement) {
    // 1,000 points with rows missing at what would be the borders of slices, rows without
    // a shape, and ids at both ends of their range in a table of their own.
    TableSpec wells{"wells", 1, 0, {}, {}};
    for (int i = 0; i < 1000; ++i) {
        wells.shapes.push_back(i % 97 == 5 ? "" : "POINT(" + std::to_string(i) + " " + std::to_string(i % 13) + ")");
    }
    TempFolder folder;
    const auto path = folder.File("slices.gpkg");
    WriteGeoPackage(path, {wells, {"ends", 1, 0, {"POINT(0 0)", "POINT(1 1)"}, {}}});
    {
        Writer writer(path);
        for (const char* sql : {"DELETE FROM wells WHERE fid IN (1, 500, 501, 334, 667, 999)",
                                "UPDATE ends SET fid = 9223372036854775807 WHERE fid = 2",
                                "INSERT INTO ends (fid, geom) SELECT -9223372036854775807 - 1, geom FROM ends WHERE fid = 1"}) {
            ASSERT_EQ(writer.Execute(sql), SQLITE_OK) << sql;
        }
    }
    const auto read = [&](const char* table, std::size_t slices) {
        Sliced sliced(slices);
        auto rows = gis::ReadGeoPackageRows(path, table, "fid", "geom", &sliced);
        if (!rows) {
            ADD_FAILURE() << table << " was left to GDAL";
            return std::size_t{0};
        }
        EXPECT_EQ(DirectRows(std::move(*rows)), GdalRows(path, table));
        return sliced.tables_read_in_slices.load();
    };
    for (const std::size_t slices : {1u, 2u, 3u, 7u}) {
        SCOPED_TRACE(slices);
        EXPECT_EQ(read("wells", slices), slices > 1 ? 1u : 0u);
        EXPECT_EQ(read("ends", slices), slices > 1 ? 1u : 0u);
    }
    // Rowids 2 to 1,000 span 998: in 999 slices the table is read whole.
    EXPECT_EQ(read("wells", 999), 0u);

    // A point among polygons is read by every slice as the table's type says, as one
    // statement reads it: not taken for a row of plain points.
    TableSpec parcels{"parcels", 3, 0, {}, {}};
    for (int i = 0; i < 300; ++i) {
        const auto x = std::to_string(i);
        parcels.shapes.push_back(i == 250 ? "POINT(3 3)"
                                          : "POLYGON((" + x + " 0," + x + " 1," + std::to_string(i + 1) + " 1," + x + " 0))");
    }
    const auto mixed = folder.File("point-among-polygons.gpkg");
    WriteGeoPackage(mixed, {parcels});
    const auto outcome = [&](std::size_t slices) {
        Sliced sliced(slices);
        try {
            auto rows = gis::ReadGeoPackageRows(mixed, "parcels", "fid", "geom", &sliced);
            if (!rows) return std::string("left to GDAL");
            const auto store = StoreOf(std::move(*rows));
            for (std::size_t row = 0; row < store.Count(); ++row) {
                EXPECT_EQ(store.PlainPointAt(row), nullptr) << "a table of polygons keeps no plain points";
            }
            return std::to_string(store.Count()) + " rows";
        } catch (const std::exception& error) {
            return std::string(error.what());
        }
    };
    const auto whole = outcome(1);
    for (const std::size_t slices : {2u, 3u}) EXPECT_EQ(outcome(slices), whole) << slices << " slices";
}

Writer* g_gap_writer = nullptr;
int g_gap_commit = SQLITE_OK;

void CommitInTheGap() {
    // A point moved in the first slice and another in the last, in one transaction.
    g_gap_writer->Execute("BEGIN IMMEDIATE");
    g_gap_writer->Execute("UPDATE wells SET geom = (SELECT geom FROM wells WHERE fid = 30) WHERE fid IN (1, 60)");
    g_gap_commit = g_gap_writer->Execute("COMMIT");
    if (g_gap_commit != SQLITE_OK) g_gap_writer->Execute("ROLLBACK");
}

TEST(GeoPackageReader, SlicesAreReadInOneSnapshotWhenAWriterCommitsAsTheyStart) {
    TableSpec wells{"wells", 1, 0, {}, {}};
    for (int i = 0; i < 60; ++i) wells.shapes.push_back("POINT(" + std::to_string(i) + " 0)");
    for (const bool wal : {true, false}) {
        SCOPED_TRACE(wal ? "write-ahead log" : "rollback journal");
        TempFolder folder;
        const auto path = folder.File("snapshot.gpkg");
        WriteGeoPackage(path, {wells});
        Writer writer(path);
        ASSERT_EQ(writer.Execute(wal ? "PRAGMA journal_mode = WAL" : "PRAGMA journal_mode = DELETE"), SQLITE_OK);
        const auto old_rows = GdalRows(path, "wells");
        g_gap_writer = &writer;
        Sliced sliced(2);
        sliced.snapshot_gap = CommitInTheGap;
        auto rows = gis::ReadGeoPackageRows(path, "wells", "fid", "geom", &sliced);
        sliced.snapshot_gap = nullptr;
        ASSERT_TRUE(rows.has_value());
        const auto new_rows = GdalRows(path, "wells");
        if (wal) {
            // The commit came between the first connection's snapshot and the second's:
            // the second sees it and is left out, and one statement reads the table as it
            // now is.
            EXPECT_EQ(g_gap_commit, SQLITE_OK);
            EXPECT_NE(new_rows, old_rows);
            EXPECT_EQ(DirectRows(std::move(*rows)), new_rows);
            EXPECT_EQ(sliced.tables_read_in_slices, 0u);
        } else {
            // The first connection's read lock keeps the commit out until both slices are read.
            EXPECT_EQ(g_gap_commit, SQLITE_BUSY);
            EXPECT_EQ(new_rows, old_rows);
            EXPECT_EQ(DirectRows(std::move(*rows)), old_rows);
            EXPECT_EQ(sliced.tables_read_in_slices, 1u);
        }
        // With no writer in the gap, the slices are read together.
        auto again = gis::ReadGeoPackageRows(path, "wells", "fid", "geom", &sliced);
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(DirectRows(std::move(*again)), new_rows);
        EXPECT_EQ(sliced.tables_read_in_slices, wal ? 1u : 2u);
    }
}

}  // namespace
}  // namespace selvane::testing
