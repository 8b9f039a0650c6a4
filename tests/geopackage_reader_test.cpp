// Reading a GeoPackage straight into GEOS gives the rows that GDAL gives, and steps aside
// for what it does not read.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>

#include "gis/files/file_source.h"
#include "gis/files/geopackage_reader.h"
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

std::vector<std::pair<std::int64_t, std::string>> DirectRows(const gis::FeatureRows& rows) {
    std::vector<std::pair<std::int64_t, std::string>> text;
    for (std::size_t row = 0; row < rows.fids.size(); ++row) {
        std::string wkt = "null";
        const bool stored = rows.stored.Rows() && rows.stored.Has(row);
        if (!rows.plain.empty() && rows.plain[row]) {
            wkt = OGRPoint(rows.points[row].x, rows.points[row].y).exportToWkt();
        } else if (const auto shape = stored ? rows.stored.Make(row)
                                             : (rows.shapes[row] ? rows.shapes[row]->clone() : nullptr)) {
            auto geometry = std::unique_ptr<OGRGeometry>();
            OGRGeometry* parsed = nullptr;
            const auto geos_wkt = shape->toString();
            OGRGeometryFactory::createFromWkt(geos_wkt.c_str(), nullptr, &parsed);
            geometry.reset(parsed);
            wkt = geometry ? geometry->exportToWkt() : geos_wkt;
        }
        text.emplace_back(rows.fids[row], wkt);
    }
    return text;
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
        const auto rows = gis::ReadGeoPackageRows(path, table, "fid", "geom");
        ASSERT_TRUE(rows.has_value());
        EXPECT_EQ(DirectRows(*rows), GdalRows(path, table));
    }
    EXPECT_FALSE(gis::ReadGeoPackageRows(path, "curves", "fid", "geom").has_value());
    // Through the source, the curve table is read by GDAL all the same (and linearised).
    auto curves = gis::FileSource(path).LoadTable("curves");
    ASSERT_EQ(curves->RowCount(), 1u);
    EXPECT_GT(curves->ShapeAt(0)->getNumPoints(), 4u);
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
    const auto rows = gis::ReadGeoPackageRows(path, "squares", "fid", "geom");
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->stored.Rows(), static_cast<std::size_t>(kRows));
    EXPECT_EQ(DirectRows(*rows), GdalRows(path, "squares"));
    EXPECT_FALSE(rows->stored.Has(31000));
    // Each row's WKB alone, without the blob's header.
    EXPECT_EQ(rows->stored.Bytes(0).size(), 1u + 4 + 4 + 1 + 4 + 4 + 4 + 4 * 16);

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
    const auto rows = gis::ReadGeoPackageRows(path, "wells", "fid", "geom");
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->fids.size(), 3u);
    // The blobs without an envelope are read as coordinates; the other through GEOS.
    EXPECT_TRUE(rows->plain[0] && rows->plain[2]);
    EXPECT_FALSE(rows->plain[1]);
    const auto wells = LoadLayer(path, "wells")->Class();
    ASSERT_EQ(wells->RowCount(), 3u);
    for (std::size_t row = 0; row < 3; ++row) {
        const auto* point = wells->PlainPointAt(row);
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
    const auto rows = gis::ReadGeoPackageRows(path, "wells", "fid", "geom");
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->shapes.size(), static_cast<std::size_t>(kRows));
    for (const int row : {0, kRows / 2 - 1, kRows / 2, kRows - 1}) {
        EXPECT_EQ(rows->fids[row], row + 1);
        ASSERT_TRUE(rows->plain[row]);  // a single point, kept as its coordinates
        EXPECT_EQ(rows->points[row].x, row);
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

}  // namespace
}  // namespace selvane::testing
