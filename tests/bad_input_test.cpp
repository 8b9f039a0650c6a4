// Bad input, a row a kind: what the selvane program says and the status it ends with.
// Every row also checks that GDAL's own "ERROR n:" lines never reach the user.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "test_support.h"

namespace selvane::testing {
namespace {


void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

void Sql(const std::string& path, const std::string& sql) {
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(database);
}

// A small town: parcels, wells (one on a parcel edge), a road.
std::string Town(const TempFolder& folder, const std::string& name = "town.gpkg") {
    const auto path = folder.File(name);
    WriteGeoPackage(path, {{"parcels", kPolygon, 32633,
                            {"POLYGON((500000 5000000,500100 5000000,500100 5000100,500000 5000100,500000 5000000))",
                             "POLYGON((500100 5000000,500200 5000000,500200 5000100,500100 5000100,500100 5000000))"},
                            {"old", "new"}},
                           {"wells", kPoint, 32633, {"POINT(500050 5000050)", "POINT(500100 5000050)"}, {}},
                           {"roads", kLine, 32633, {"LINESTRING(499990 5000050,500300 5000050)"}, {}}});
    return path;
}

// Adds a table "pipes" of lines whose second ends at NaN (written through OGR: WKT has no
// way to say NaN, and GeoPackage keeps a NaN point only as an empty one).
void WriteLinesWithNaN(const std::string& path) {
    GDALDatasetUniquePtr dataset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
    ASSERT_NE(dataset, nullptr);
    OGRLayer* layer = dataset->CreateLayer("pipes", nullptr, wkbLineString, nullptr);
    ASSERT_NE(layer, nullptr);
    for (const double x : {5.0, std::nan(""), 7.0}) {
        OGRFeature feature(layer->GetLayerDefn());
        OGRLineString line;
        line.addPoint(1, 1);
        line.addPoint(x, 5.0);
        feature.SetGeometry(&line);
        ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
    }
}

// A folder of two shapefiles, "good" and "bad", of one point each.
void WriteShapefiles(const std::string& folder) {
    auto* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    ASSERT_NE(driver, nullptr);
    GDALDatasetUniquePtr dataset(driver->Create(folder.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_NE(dataset, nullptr);
    for (const char* name : {"good", "bad"}) {
        OGRLayer* layer = dataset->CreateLayer(name, nullptr, wkbPoint, nullptr);
        ASSERT_NE(layer, nullptr);
        OGRFeature feature(layer->GetLayerDefn());
        OGRPoint point(1, 2);
        feature.SetGeometry(&point);
        ASSERT_EQ(layer->CreateFeature(&feature), OGRERR_NONE);
    }
}

std::string Map(const std::string& path) { return "--map " + ShellQuoted(path); }

std::string Select(const std::string& map, const std::string& layer2, const std::string& relation,
                   const std::string& layer1) {
    return "select " + map + " --layer2 " + ShellQuoted(layer2) + " --relation " + ShellQuoted(relation) +
           " --layer1 " + ShellQuoted(layer1) + " --ids";
}

std::string Document(const TempFolder& folder, const std::string& layers, const std::string& name = "map.json") {
    const auto path = folder.File(name);
    WriteText(path, "{\"layers\": [" + layers + "]}");
    return path;
}

std::string FeatureEntry(const std::string& name, const std::string& source, const std::string& table,
                         const std::string& query = {}) {
    std::string entry = "{\"type\": \"feature\", \"name\": \"" + name + "\", \"source\": \"" + source +
                        "\", \"table\": \"" + table + "\"";
    if (!query.empty()) entry += ", \"definition_query\": \"" + query + "\"";
    return entry + "}";
}

// The run of parcels INTERSECT wells over the town's GeoPackage once `sql` has changed it.
std::function<std::string(const TempFolder&)> SelectInTownAfter(std::string sql) {
    return [sql](const TempFolder& f) {
        const auto path = Town(f);
        Sql(path, sql);
        return Select(Map(path), "parcels", "INTERSECT", "wells");
    };
}

// GDAL prints "ERROR 1: ..." and "Warning 1: ..." by itself unless told not to.
bool HasGdalLine(const std::string& text) {
    for (const char* prefix : {"ERROR ", "Warning "}) {
        for (auto at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
            const auto digit = at + std::string(prefix).size();
            if (digit < text.size() && std::isdigit(static_cast<unsigned char>(text[digit]))) return true;
        }
    }
    return false;
}

struct BadInput {
    const char* kind;
    std::function<std::string(const TempFolder&)> arguments;  ///< the command line after "selvane"
    int status;
    std::vector<std::string> words;  ///< what the message must say (stderr, or stdout for a 0)
};

const std::vector<BadInput>& Rows() {
    static const std::vector<BadInput> rows{
        {"a missing file", [](const TempFolder& f) { return "layers " + Map(f.File("absent.gpkg")); }, 1,
         {"absent.gpkg: no such file"}},
        {"a loop of symbolic links",
         [](const TempFolder& f) {
             std::filesystem::create_symlink(f.File("b.gpkg"), f.File("a.gpkg"));
             std::filesystem::create_symlink(f.File("a.gpkg"), f.File("b.gpkg"));
             return "layers " + Map(f.File("a.gpkg"));
         },
         1, {"a.gpkg: Too many levels of symbolic links"}},
        {"a NUL inside a source, which would cut the path short",
         [](const TempFolder& f) {
             Town(f);
             const auto town = f.File("town.gpkg");
             return "layers " + Map(Document(f, R"({"type": "feature", "name": "Cut", "source": ")" + town +
                                                    R"(\u0000.hidden", "table": "parcels"})"));
         },
         1, {"map layer 1 (Cut): ", "a path cannot hold a NUL character"}},
        {"an empty file",
         [](const TempFolder& f) {
             WriteText(f.File("empty.gpkg"), "");
             return "layers " + Map(f.File("empty.gpkg"));
         },
         1, {"empty.gpkg: cannot open as vector data"}},
        {"a corrupt GeoPackage",
         [](const TempFolder& f) {
             WriteText(f.File("corrupt.gpkg"), std::string("SQLite format 3") + std::string(3000, '\x7f'));
             return "layers " + Map(f.File("corrupt.gpkg"));
         },
         1, {"corrupt.gpkg"}},
        {"a truncated GeoPackage",
         [](const TempFolder& f) {
             const auto whole = Town(f);
             std::ifstream in(whole, std::ios::binary);
             std::string bytes((std::istreambuf_iterator<char>(in)), {});
             WriteText(f.File("cut.gpkg"), bytes.substr(0, bytes.size() / 3));
             return "layers " + Map(f.File("cut.gpkg"));
         },
         1, {"cut.gpkg"}},
        {"an unknown table",
         [](const TempFolder& f) {
             Town(f);
             return "layers " + Map(Document(f, FeatureEntry("X", "town.gpkg", "nope")));
         },
         1, {"map layer 1 (X)", "no table named nope"}},
        {"a bad definition query",
         [](const TempFolder& f) {
             Town(f);
             return "layers " + Map(Document(f, FeatureEntry("X", "town.gpkg", "wells", "no_field = 1")));
         },
         1, {"map layer 1 (X)", "definition query 'no_field = 1' is not valid", "no_field"}},
        {"a definition query with a second statement",
         [](const TempFolder& f) {
             Town(f);
             return "layers " + Map(Document(f, FeatureEntry("X", "town.gpkg", "parcels", "1=1; DROP TABLE parcels")));
         },
         1, {"map layer 1 (X)", "\";\"", "one expression"}},
        {"malformed JSON",
         [](const TempFolder& f) {
             WriteText(f.File("bad.json"), "{\"layers\": [tru]}");
             return "layers " + Map(f.File("bad.json"));
         },
         1, {"bad.json: malformed JSON at line 1, column 13: invalid literal"}},
        {"a folder named .json",
         [](const TempFolder& f) {
             std::filesystem::create_directories(f.File("maps.json"));
             return "layers " + Map(f.File("maps.json"));
         },
         1, {"maps.json: cannot open as vector data"}},
        {"GeoJSON in a .json file",
         [](const TempFolder& f) {
             WriteText(f.File("points.json"),
                       R"({"type": "FeatureCollection", "features": [{"type": "Feature", "properties": {},
                           "geometry": {"type": "Point", "coordinates": [1, 2]}}]})");
             return "layers " + Map(f.File("points.json"));
         },
         0, {"points\n"}},
        {"groups nested 14000 deep",
         [](const TempFolder& f) {
             std::string layers;
             for (int level = 0; level < 14000; ++level) layers += R"({"type": "group", "name": "G", "layers": [)";
             for (int level = 0; level < 14000; ++level) layers += "]}";
             return "layers " + Map(Document(f, layers));
         },
         1, {"groups are nested more than 100 levels deep", "levels)"}},
        {"a document that names itself as its source",
         [](const TempFolder& f) { return "layers " + Map(Document(f, FeatureEntry("Self", "map.json", "t"))); }, 1,
         {"map.json: map layer 1 (Self): ", "map.json: cannot open as vector data"}},
        {"a source named like the document",
         [](const TempFolder& f) { return "layers " + Map(Document(f, FeatureEntry("Near", "map.json.gpkg", "t"))); },
         1, {"map.json: map layer 1 (Near): ", "map.json.gpkg: no such file"}},
        {"a false row count in the GeoPackage's metadata",
         SelectInTownAfter("UPDATE gpkg_ogr_contents SET feature_count = 1000000000000000"), 0, {"1\n2\nSelection Count: 2\n"}},
        {"a coordinate that is not a number in a CSV",
         [](const TempFolder& f) {
             WriteText(f.File("pts.csv"), "id,WKT\n1,\"POINT (1 2)\"\n2,\"POINT (nan 49.5)\"\n");
             return Select(Map(f.File("pts.csv")), "pts", "INTERSECT", "pts");
         },
         1, {"pts.csv: table pts, FID 2: the shape cannot be read"}},
        {"a coordinate that is not a number in a searched layer",
         [](const TempFolder& f) {
             const auto path = f.File("nan.gpkg");
             WriteGeoPackage(path, {{"zone", kPolygon, 0, {"POLYGON((0 0,10 0,10 10,0 10,0 0))"}, {}}});
             WriteLinesWithNaN(path);
             return Select(Map(path), "pipes", "INTERSECT", "zone");
         },
         1, {"Invalid shape in layer pipes (table pipes, file", "FID 2: a coordinate is not a finite number"}},
        {"an unreadable geometry blob",
         SelectInTownAfter("UPDATE wells SET geom = X'4750000100000000DEADBEEF' WHERE fid = 2"), 1, {"town.gpkg: table wells, FID 2: the shape cannot be read"}},
        {"a number too large for JSON",
         [](const TempFolder& f) {
             WriteText(f.File("big.json"), "{\"layers\": [3E3333]}");
             return "layers " + Map(f.File("big.json"));
         },
         1, {"big.json: malformed JSON at line 1, column 13: number overflow parsing '3E3333'"}},
        {"a query shape that cannot be projected",
         [](const TempFolder& f) {
             Town(f);
             const auto far = f.File("far.gpkg");
             WriteGeoPackage(far, {{"beyond", kPoint, 4326, {"POINT(15 95)"}, {}}});
             return Select(Map(Document(f, FeatureEntry("Parcels", "town.gpkg", "parcels") + "," +
                                               FeatureEntry("Beyond", "far.gpkg", "beyond"))),
                           "Parcels", "INTERSECT", "Beyond");
         },
         1, {"The query shape of layer Beyond (table beyond", "FID 1", "cannot be projected from WGS 84 into WGS 84 / UTM zone 33N",
             "MODULE: btnNext_Click frmIndex Line : 13"}},
        {"a VRT whose source is missing",
         [](const TempFolder& f) {
             WriteText(f.File("m.vrt"), "<OGRVRTDataSource><OGRVRTLayer name=\"v\"><SrcDataSource>missing.gpkg"
                                        "</SrcDataSource><SrcLayer>t</SrcLayer></OGRVRTLayer></OGRVRTDataSource>");
             return "layers " + Map(f.File("m.vrt"));
         },
         1, {"m.vrt: table v cannot be opened", "missing.gpkg"}},
        {"a VRT that reads over the network",
         [](const TempFolder& f) {
             WriteText(f.File("net.vrt"), "<OGRVRTDataSource><OGRVRTLayer name=\"v\"><SrcDataSource>/vsicurl/"
                                          "http://127.0.0.1:9/town.gpkg</SrcDataSource><SrcLayer>roads</SrcLayer>"
                                          "</OGRVRTLayer></OGRVRTDataSource>");
             return "layers " + Map(f.File("net.vrt"));
         },
         1, {"net.vrt", "the network is off", "--allow-network"}},
        {"a network address as the map",
         [](const TempFolder&) { return "layers --map /vsicurl/http://127.0.0.1:9/town.gpkg"; }, 1,
         {"a network address, and the network is off"}},
        {"a GeoPackage whose contents list a damaged table",
         [](const TempFolder& f) {
             const auto path = Town(f);
             Sql(path, "UPDATE gpkg_contents SET data_type = 'featurez' WHERE table_name = 'roads'");
             return "layers " + Map(path);
         },
         1, {"table roads (listed as 'featurez')"}},
        {"duplicate object ids from a VRT",
         [](const TempFolder& f) {
             Town(f);
             WriteText(f.File("dup.vrt"), R"(<OGRVRTDataSource><OGRVRTLayer name="dup"><SrcDataSource relativeToVRT="1">town.gpkg</SrcDataSource>
                 <SrcSQL dialect="sqlite">SELECT 7 AS id, geom FROM wells</SrcSQL><FID>id</FID>
                 <GeometryType>wkbPoint</GeometryType></OGRVRTLayer></OGRVRTDataSource>)");
             return Select(Map(f.File("dup.vrt")), "dup", "INTERSECT", "dup");
         },
         1, {"layer dup (table dup, file ", "dup.vrt) gives the object id 7 to more than one feature"}},
        {"object ids of -1 and 0",
         [](const TempFolder& f) {
             Town(f);
             WriteText(f.File("neg.vrt"), R"(<OGRVRTDataSource><OGRVRTLayer name="neg"><SrcDataSource relativeToVRT="1">town.gpkg</SrcDataSource>
                 <SrcSQL dialect="sqlite">SELECT fid - 2 AS id, geom FROM parcels</SrcSQL><FID>id</FID>
                 <GeometryType>wkbPolygon</GeometryType></OGRVRTLayer></OGRVRTDataSource>)");
             return Select(Map(f.File("neg.vrt")), "neg", "INTERSECT", "neg");
         },
         0, {"-1\n0\nSelection Count: 2\n"}},
        {"a folder with a damaged shapefile",
         [](const TempFolder& f) {
             WriteShapefiles(f.File("shapes"));
             std::filesystem::resize_file(f.File("shapes/bad.shp"), 60);
             return "layers " + Map(f.File("shapes"));
         },
         1, {"shapes: cannot be read in full", "bad.shp"}},
        {"a FIFO as the map",
         [](const TempFolder& f) {
             ::mkfifo(f.File("pipe.gpkg").c_str(), 0600);
             return "layers " + Map(f.File("pipe.gpkg"));
         },
         1, {"pipe.gpkg: not a regular file or folder"}},
        {"an output that cannot be written",
         [](const TempFolder& f) { return Select(Map(Town(f)), "parcels", "INTERSECT", "wells") + " > /dev/full"; }, 1,
         {"cannot write the output"}},
        {"a closed standard output",
         [](const TempFolder& f) { return Select(Map(Town(f)), "parcels", "INTERSECT", "wells") + " >&-"; }, 1,
         {"standard output is closed"}},
    };
    return rows;
}

TEST(BadInput, EachKindGetsAClearMessageAndItsStatus) {
    for (const auto& row : Rows()) {
        SCOPED_TRACE(row.kind);
        TempFolder folder;
        const auto run = RunSelvane(row.arguments(folder));
        EXPECT_EQ(run.status, row.status) << run.err;
        const std::string& said = row.status == 0 ? run.out : run.err;
        for (const auto& words : row.words) EXPECT_NE(said.find(words), std::string::npos) << said;
        if (row.status != 0) {
            EXPECT_FALSE(run.err.empty());
        }
        EXPECT_FALSE(HasGdalLine(run.err)) << run.err;
    }
}

// GeoPackage geometry blobs, byte by byte.
class BlobBytes {
public:
    BlobBytes& Byte(unsigned value) {
        m_bytes.push_back(static_cast<char>(value));
        return *this;
    }
    BlobBytes& Word(std::uint32_t value, bool little = true) {
        for (int index = 0; index < 4; ++index) Byte((value >> (little ? 8 * index : 24 - 8 * index)) & 0xFF);
        return *this;
    }
    BlobBytes& Double(double value, bool little = true) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int index = 0; index < 8; ++index) Byte((bits >> (little ? 8 * index : 56 - 8 * index)) & 0xFF);
        return *this;
    }
    /// "GP", a version, flags and the SRS id.
    BlobBytes& Header(unsigned flags = 0x01, unsigned version = 0) { return Byte('G').Byte('P').Byte(version).Byte(flags).Word(32633); }
    /// A polygon of one ring through `corners` (x, y pairs, closed here).
    BlobBytes& Polygon(std::vector<double> corners, bool little = true, unsigned order = 0xFF) {
        corners.push_back(corners[0]);
        corners.push_back(corners[1]);
        Byte(order == 0xFF ? (little ? 1 : 0) : order).Word(3, little).Word(1, little).Word(static_cast<std::uint32_t>(corners.size() / 2), little);
        for (const double value : corners) Double(value, little);
        return *this;
    }
    std::string Hex() const {
        static const char* digits = "0123456789ABCDEF";
        std::string hex;
        for (const char c : m_bytes) {
            hex += digits[static_cast<unsigned char>(c) >> 4];
            hex += digits[static_cast<unsigned char>(c) & 15];
        }
        return hex;
    }
    std::size_t Size() const { return m_bytes.size(); }
    void Cut(std::size_t size) { m_bytes.resize(size); }

private:
    std::string m_bytes;
};

// Parcel 2 of the town, as a polygon's corners.
const std::vector<double> kParcel2{500100, 5000000, 500200, 5000000, 500200, 5000100, 500100, 5000100};

struct BadBlob {
    const char* kind;
    std::string value;  ///< an SQL value for the geometry column
    std::string fault;  ///< what the message says is wrong; empty: the blob is good
};

std::vector<BadBlob> BadBlobs() {
    const auto blob = [](const BlobBytes& bytes) { return "X'" + bytes.Hex() + "'"; };
    std::vector<BadBlob> kinds;
    kinds.push_back({"random bytes", "X'13374242DEADBEEF0102030405060708090A0B0C'", "not a GeoPackage geometry"});
    kinds.push_back({"zero length", "X''", "an empty blob"});
    kinds.push_back({"a header only", blob(BlobBytes().Header()), "a header without a shape"});
    BlobBytes truncated;
    truncated.Header().Polygon(kParcel2);
    truncated.Cut(truncated.Size() - 20);
    kinds.push_back({"truncated WKB", blob(truncated), "a count of 5 points at byte 9, where 60 bytes remain"});
    kinds.push_back({"a ring count of 2^31-1", blob(BlobBytes().Header().Byte(1).Word(3).Word(0x7FFFFFFF).Word(4)),
                     "a count of 2147483647 rings"});
    kinds.push_back({"a point count of 2^31-1",
                     blob(BlobBytes().Header().Byte(1).Word(3).Word(1).Word(0x7FFFFFFF).Double(1).Double(2)),
                     "a count of 2147483647 points"});
    kinds.push_back({"an unknown geometry type", blob(BlobBytes().Header().Byte(1).Word(99).Double(1).Double(2)),
                     "unknown geometry type 99"});
    BlobBytes lying;
    lying.Header(0x03).Double(0).Double(1).Double(0).Double(1).Polygon(kParcel2);
    kinds.push_back({"an envelope that lies about the shape", blob(lying), "the envelope in its header"});
    BlobBytes nested;
    nested.Header();
    for (int level = 0; level < 200000; ++level) nested.Byte(1).Word(7).Word(1);
    nested.Byte(1).Word(1).Double(1).Double(2);
    kinds.push_back({"a collection nested 200,000 deep", blob(nested), "nested more than 32 deep"});
    kinds.push_back({"a line in a polygon table",
                     blob(BlobBytes().Header().Byte(1).Word(2).Word(2).Double(500100).Double(5000000).Double(500200).Double(5000100)),
                     "a LineString in a table of polygons"});
    kinds.push_back({"NaN coordinates inside a polygon",
                     blob(BlobBytes().Header().Polygon({500100, 5000000, std::nan(""), 5000000, 500200, 5000100})),
                     "a coordinate is not a finite number"});
    // Rings that GEOS refuses to make (one that does not close) or makes but finds
    // invalid (three points): left to GEOS by the check that keeps bytes without it.
    kinds.push_back({"a ring that does not close",
                     blob(BlobBytes().Header().Byte(1).Word(3).Word(1).Word(4).Double(500100).Double(5000000).Double(500200)
                              .Double(5000000).Double(500200).Double(5000100).Double(500100).Double(5000100)),
                     "Points of LinearRing do not form a closed linestring"});
    kinds.push_back({"a ring of three points",
                     blob(BlobBytes().Header().Byte(1).Word(3).Word(1).Word(3).Double(500100).Double(5000000).Double(500200)
                              .Double(5000100).Double(500100).Double(5000000)),
                     "Too few points in geometry component"});
    kinds.push_back({"big-endian WKB", blob(BlobBytes().Header(0x00).Polygon(kParcel2, false)), ""});
    kinds.push_back({"a byte order of 2", blob(BlobBytes().Header().Polygon(kParcel2, true, 2)), "byte order 2"});
    kinds.push_back({"a header of version 1", blob(BlobBytes().Header(0x01, 1).Polygon(kParcel2)),
                     "GeoPackage geometry version 1"});
    kinds.push_back({"an envelope flag of 5", blob(BlobBytes().Header(0x0B).Polygon(kParcel2)), "envelope kind 5"});
    kinds.push_back({"a text value", "'POLYGON((0 0,1 0,1 1,0 0))'", "holds text, not a geometry blob"});
    return kinds;
}

TEST(BadInput, EveryKindOfBrokenBlobIsNamedWithItsFileTableAndFidInEitherLayer) {
    for (const auto& bad : BadBlobs()) {
        SCOPED_TRACE(bad.kind);
        TempFolder folder;
        const auto path = Town(folder);
        Sql(path, "UPDATE parcels SET geom = " + bad.value + " WHERE fid = 2");
        // Searched (Layer #2) and as the query shapes (Layer #1).
        for (const bool searched : {true, false}) {
            SCOPED_TRACE(searched ? "searched" : "query shapes");
            const auto run = RunSelvane(searched ? Select(Map(path), "parcels", "INTERSECT", "wells")
                                                 : Select(Map(path), "wells", "INTERSECT", "parcels"));
            EXPECT_FALSE(HasGdalLine(run.err)) << run.err;
            if (bad.fault.empty()) {
                EXPECT_EQ(run.status, 0) << run.err;
                EXPECT_EQ(run.out, "1\n2\nSelection Count: 2\n");
                continue;
            }
            EXPECT_EQ(run.status, 1) << run.err;
            EXPECT_EQ(run.err.find("Error relating"), std::string::npos) << run.err;
            for (const auto& words : {std::string("town.gpkg"), std::string("table parcels"), std::string("FID 2"), bad.fault}) {
                EXPECT_NE(run.err.find(words), std::string::npos) << words << " in " << run.err;
            }
            // One message: the standard report, once.
            EXPECT_EQ(run.err.find("Selvane: ", 1), std::string::npos) << run.err;
        }
    }
}

TEST(BadInput, ABrokenBlobInATableThatGdalReadsIsNamedWithoutGdalsOwnLines) {
    // Curved shapes are read through GDAL: its words, and none of its printing.
    TempFolder folder;
    const auto path = folder.File("curves.gpkg");
    WriteGeoPackage(path, {{"arcs", 9, 0, {"COMPOUNDCURVE(CIRCULARSTRING(0 0,1 1,2 0),(2 0,3 0))", "COMPOUNDCURVE((0 0,1 1))"}, {}}});
    Sql(path, "UPDATE arcs SET geom = X'47500001E97F0000010200000000FFFFFF7F' WHERE fid = 2");
    const auto run = RunSelvane(Select(Map(path), "arcs", "INTERSECT", "arcs"));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("table arcs, FID 2"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Error relating"), std::string::npos) << run.err;
    EXPECT_FALSE(HasGdalLine(run.err)) << run.err;
}

// A listener on the loopback address that counts who knocks.
class LoopbackListener {
public:
    LoopbackListener() {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_socket, 8);
        socklen_t length = sizeof address;
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackListener() { ::close(m_socket); }
    int Port() const { return m_port; }
    int Knocks() {
        int count = 0;
        for (int client; (client = ::accept(m_socket, nullptr, nullptr)) >= 0; ++count) ::close(client);
        return count;
    }

private:
    int m_socket = -1;
    int m_port = 0;
};

TEST(BadInput, AMapFromDiskNeverReachesTheNetwork) {
    LoopbackListener listener;
    ASSERT_GT(listener.Port(), 0);
    TempFolder folder;
    const std::string address = "http://127.0.0.1:" + std::to_string(listener.Port()) + "/town.gpkg";
    WriteText(folder.File("net.vrt"), "<OGRVRTDataSource><OGRVRTLayer name=\"v\"><SrcDataSource>/vsicurl/" + address +
                                          "</SrcDataSource><SrcLayer>roads</SrcLayer></OGRVRTLayer></OGRVRTDataSource>");
    WriteText(folder.File("map.json"), R"({"layers": [{"type": "raster", "name": "Web", "source": "/vsicurl/)" +
                                           address + R"("}]})");
    for (const auto& map : {folder.File("net.vrt"), folder.File("map.json")}) {
        const auto run = RunSelvane("layers " + Map(map));
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("network is off"), std::string::npos) << run.err;
    }
    EXPECT_EQ(listener.Knocks(), 0);
}

TEST(BadInput, AGeoPackageOfMoreThanTenThousandTablesOpensAnyOfThem) {
    TempFolder folder;
    const auto path = folder.File("many_tables.gpkg");
    WriteGeoPackage(path, {{"t00000", kPoint, 0, {"POINT(0 0)"}, {}}});
    std::string sql = "BEGIN;";
    for (int index = 1; index <= 10'001; ++index) {
        char name[16];
        std::snprintf(name, sizeof name, "t%05d", index);
        sql += std::string("CREATE TABLE ") + name + " (fid INTEGER PRIMARY KEY, geom BLOB);" +
               "INSERT INTO gpkg_contents (table_name, data_type, identifier, srs_id) VALUES ('" + name +
               "', 'features', '" + name + "', 0);" +
               "INSERT INTO gpkg_geometry_columns VALUES ('" + name + "', 'geom', 'POINT', 0, 0, 0);";
    }
    Sql(path, sql + "COMMIT;");
    const auto last = Document(folder, FeatureEntry("Last", path, "t10001"));
    const auto run = RunSelvane("layers " + Map(last));
    EXPECT_EQ(run.status, 0) << run.err.substr(0, 1000);
    EXPECT_EQ(run.out, "Last\n");
}

TEST(BadInput, RunningOutOfMemoryWhileRowsLoadIsReportedAsOutOfMemory) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "needs a sanitizer's allocator, which can be told to refuse large allocations";
#endif
    TempFolder folder;
    const auto path = folder.File("crowded.gpkg");
    // A lake of 100,000 vertices: a blob of 1.6 MB among small parcels.
    std::string lake = "POLYGON((";
    for (int vertex = 0; vertex < 100'000; ++vertex) {
        const double angle = 2 * M_PI * vertex / 100'000;
        lake += std::to_string(5 + 4 * std::cos(angle)) + " " + std::to_string(5 + 4 * std::sin(angle)) + ",";
    }
    lake += "9 5))";
    WriteGeoPackage(path, {{"parcels", kPolygon, 0, {"POLYGON((0 0,1 0,1 1,0 1,0 0))", lake}, {}},
                           {"zone", kPolygon, 0, {"POLYGON((0 0,10 0,10 10,0 10,0 0))"}, {}}});
    // The sanitizers' allocators then refuse any one allocation over 1 MB, as a full
    // memory would: the blob's buffer in SQLite is one.
    const auto limited = [](const char* name) {
        const char* current = std::getenv(name);
        return std::string(name) + "='" + (current ? std::string(current) + ":" : "") +
               "allocator_may_return_null=1:max_allocation_size_mb=1' ";
    };
    const std::string select = "select --map " + ShellQuoted(path) + " --layer2 parcels --relation INTERSECT --layer1 zone";
    const auto run = RunSelvane(select, limited("ASAN_OPTIONS") + limited("TSAN_OPTIONS"));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("ERROR DESCRIPTION: Out of memory"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Error relating"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("cannot be read"), std::string::npos) << run.err;
    // The same rows in plenty of memory.
    EXPECT_EQ(RunSelvane(select).out, "Selection Count: 2\n");
}

TEST(BadInput, NamesThatWouldActOnATerminalAreEscapedAndLongOnesAndListsAreCut) {
    TempFolder folder;
    const auto data = folder.File("names.gpkg");
    WriteGeoPackage(data, {{"blocks", kPolygon, 0, {"POLYGON((0 0,1 0,1 1,0 1,0 0))", "POLYGON((0 0,2 0,0 2,2 2,0 0))"},
                            {}},
                           {"wells", kPoint, 0, {"POINT(0.5 0.5)"}, {}}});
    // A name that would retitle the terminal, clear it, start a line of its own and reverse
    // what follows.
    const std::string hostile =
        R"(Roads\u001b]0;owned\u0007\u001b[2J\r\nSelection Count: 999\u202ereversed\u2028broken)";
    const auto named = Document(folder, R"({"type": "feature", "name": ")" + hostile + R"(", "source": ")" + data +
                                            R"(", "table": "wells"})");
    const auto listed = RunSelvane("layers " + Map(named));
    EXPECT_EQ(listed.status, 0) << listed.err;
    for (const char* raw : {"\x1b", "\x07", "\r", "\xe2\x80\xae", "\xe2\x80\xa8", "\nSelection Count: 999"}) {
        EXPECT_EQ(listed.out.find(raw), std::string::npos) << listed.out;
    }
    EXPECT_NE(listed.out.find(R"(Roads\x1b]0;owned\x07\x1b[2J\x0d\x0aSelection Count: 999\u202ereversed\u2028broken)"),
              std::string::npos)
        << listed.out;

    // A name of a megabyte on a missing table: the message keeps its ends.
    const std::string long_name(1'000'000, 'n');
    const auto missing = Document(folder, R"({"type": "feature", "name": ")" + long_name + R"(", "source": ")" + data +
                                              R"(", "table": "no_such_table"})", "missing.json");
    const auto refused = RunSelvane("layers " + Map(missing));
    EXPECT_EQ(refused.status, 1);
    EXPECT_LT(refused.err.size(), 2000u) << refused.err.substr(0, 500);
    EXPECT_NE(refused.err.find("bytes left out"), std::string::npos) << refused.err.substr(0, 500);

    // Five thousand layers on a table with a shape no predicate can take: the report names
    // ten of them and counts the rest.
    std::string layers = R"({"type": "feature", "name": "wells", "source": ")" + data + R"(", "table": "wells"})";
    for (int index = 0; index < 5000; ++index) {
        layers += R"(, {"type": "feature", "name": "b)" + std::to_string(index) + R"(", "source": ")" + data +
                  R"(", "table": "blocks"})";
    }
    const auto many = Document(folder, layers, "many.json");
    const auto run = RunSelvane(Select(Map(many), "wells", "INTERSECT", "b0"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("layers b0, b1, b2, b3, b4, b5, b6, b7, b8, b9 and 4990 more (table blocks"),
              std::string::npos)
        << run.err.substr(0, 2000);
    EXPECT_LT(run.err.size(), 4000u);

    // A layer named after a file whose name is not UTF-8: JSON output shows the byte as
    // U+FFFD rather than failing.
    const auto odd = folder.File("w\xff.geojson");
    WriteText(odd, R"({"type": "FeatureCollection", "features": [{"type": "Feature", "properties": {}, "geometry": )"
                   R"({"type": "Point", "coordinates": [0.5, 0.5]}}]})");
    const auto json = RunSelvane(Select(Map(odd), "w\xff", "INTERSECT", "w\xff") + " --format json");
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "{\"count\":1,\"ids\":[0],\"layer1\":\"w\xef\xbf\xbd\",\"layer2\":\"w\xef\xbf\xbd\",\"relationship\":"
                        "\"INTERSECT\"}\n");
}

}  // namespace
}  // namespace selvane::testing
