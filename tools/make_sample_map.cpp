// Writes the sample map: a small town in UTM zone 33N (metres). Deterministic: the same
// shapes and attributes every run.
//
//   make_sample_map OUTPUT_FOLDER
//
// town.gpkg   parcels (8 × 6 blocks of 50 m sharing edges), roads (lines crossing the
//             parcels, one along a parcel edge), wells (points inside parcels, on parcel
//             edges and on road vertices), buildings (inside parcels, one straddling two)
// imagery.tif a 160 × 120 pixel image over the town
// town.json   the map document

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr double kOriginX = 500000.0;
constexpr double kOriginY = 5000000.0;
constexpr double kBlock = 50.0;
constexpr int kColumns = 8;
constexpr int kRows = 6;

void Check(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "make_sample_map: %s: %s\n", what.c_str(), CPLGetLastErrorMsg());
        std::exit(1);
    }
}

std::string Box(double x0, double y0, double x1, double y1) {
    char text[256];
    std::snprintf(text, sizeof text, "POLYGON ((%.2f %.2f, %.2f %.2f, %.2f %.2f, %.2f %.2f, %.2f %.2f))", x0, y0, x1,
                  y0, x1, y1, x0, y1, x0, y0);
    return text;
}

double X(double metres) { return kOriginX + metres; }
double Y(double metres) { return kOriginY + metres; }

OGRLayer* CreateTable(GDALDataset& dataset, const char* name, OGRwkbGeometryType type,
                      const OGRSpatialReference& srs) {
    char** options = CSLSetNameValue(nullptr, "FID", "fid");
    options = CSLSetNameValue(options, "GEOMETRY_NAME", "shape");
    OGRLayer* layer = dataset.CreateLayer(name, const_cast<OGRSpatialReference*>(&srs), type, options);
    CSLDestroy(options);
    Check(layer != nullptr, std::string("create table ") + name);
    OGRFieldDefn label("label", OFTString);
    Check(layer->CreateField(&label) == OGRERR_NONE, "create field label");
    OGRFieldDefn zone("zone", OFTString);
    Check(layer->CreateField(&zone) == OGRERR_NONE, "create field zone");
    return layer;
}

void Add(OGRLayer& layer, const std::string& wkt, const std::string& label, const std::string& zone) {
    OGRFeature feature(layer.GetLayerDefn());
    OGRGeometry* geometry = nullptr;
    Check(OGRGeometryFactory::createFromWkt(wkt.c_str(), layer.GetSpatialRef(), &geometry) == OGRERR_NONE, wkt);
    feature.SetGeometryDirectly(geometry);
    feature.SetField("label", label.c_str());
    feature.SetField("zone", zone.c_str());
    Check(layer.CreateFeature(&feature) == OGRERR_NONE, "write feature " + label);
}

std::string Line(std::initializer_list<std::pair<double, double>> points) {
    std::string text = "LINESTRING (";
    bool first = true;
    for (const auto& [x, y] : points) {
        char point[64];
        std::snprintf(point, sizeof point, "%s%.2f %.2f", first ? "" : ", ", X(x), Y(y));
        text += point;
        first = false;
    }
    return text + ")";
}

std::string Point(double x, double y) {
    char text[64];
    std::snprintf(text, sizeof text, "POINT (%.2f %.2f)", X(x), Y(y));
    return text;
}

void WriteVectors(const std::string& path, const OGRSpatialReference& srs) {
    auto* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    Check(driver != nullptr, "GeoPackage driver");
    std::filesystem::remove(path);
    GDALDatasetUniquePtr dataset(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    Check(dataset != nullptr, "create " + path);

    auto* parcels = CreateTable(*dataset, "parcels", wkbPolygon, srs);
    dataset->StartTransaction();
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const double x0 = column * kBlock, y0 = row * kBlock;
            const std::string zone = column < 3 ? "old" : (row < 2 ? "industrial" : "residential");
            Add(*parcels, Box(X(x0), Y(y0), X(x0 + kBlock), Y(y0 + kBlock)),
                "P" + std::to_string(row * kColumns + column + 1), zone);
        }
    }
    dataset->CommitTransaction();

    auto* roads = CreateTable(*dataset, "roads", wkbLineString, srs);
    Add(*roads, Line({{-20, 125}, {420, 125}}), "Main Street", "public");               // crosses row 2
    Add(*roads, Line({{175, -20}, {175, 320}}), "Mill Road", "public");                 // crosses column 3
    Add(*roads, Line({{10, 10}, {90, 60}, {140, 140}}), "Old Lane", "public");          // diagonal, vertices inside
    Add(*roads, Line({{200, 100}, {300, 100}}), "Edge Walk", "public");                 // along parcel edges
    Add(*roads, Line({{330, 210}, {370, 240}}), "Cul-de-sac", "private");              // inside one parcel

    auto* wells = CreateTable(*dataset, "wells", wkbPoint, srs);
    Add(*wells, Point(25, 25), "W1", "old");          // inside a parcel
    Add(*wells, Point(100, 80), "W2", "old");         // on a shared parcel edge
    Add(*wells, Point(150, 150), "W3", "residential"); // on a parcel corner
    Add(*wells, Point(90, 60), "W4", "old");          // on a road vertex
    Add(*wells, Point(262, 37), "W5", "industrial");  // inside a parcel
    Add(*wells, Point(330, 210), "W6", "residential"); // road end point, inside a parcel
    Add(*wells, Point(390, 290), "W7", "residential");
    Add(*wells, Point(440, 320), "W8", "outside");    // beyond the town

    auto* buildings = CreateTable(*dataset, "buildings", wkbPolygon, srs);
    Add(*buildings, Box(X(10), Y(30), X(30), Y(45)), "B1", "old");                 // inside parcel P1
    Add(*buildings, Box(X(210), Y(210), X(240), Y(240)), "B2", "residential");     // inside parcel
    Add(*buildings, Box(X(90), Y(160), X(115), Y(180)), "B3", "old");              // straddles two parcels
    Add(*buildings, Box(X(300), Y(0), X(330), Y(20)), "B4", "industrial");         // on a parcel edge, inside
    Add(*buildings, Box(X(260), Y(260), X(290), Y(290)), "B5", "residential");
    Add(*buildings, Box(X(360), Y(20), X(380), Y(40)), "B6", "industrial");
}

void WriteImagery(const std::string& path, const OGRSpatialReference& srs) {
    auto* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    Check(driver != nullptr, "GeoTIFF driver");
    constexpr int kWidth = 160, kHeight = 120;
    GDALDatasetUniquePtr raster(driver->Create(path.c_str(), kWidth, kHeight, 3, GDT_Byte, nullptr));
    Check(raster != nullptr, "create " + path);
    double transform[6] = {kOriginX - 20, 460.0 / kWidth, 0, kOriginY + 320, 0, -340.0 / kHeight};
    raster->SetGeoTransform(transform);
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    raster->SetProjection(wkt);
    CPLFree(wkt);
    std::vector<GByte> band(kWidth * kHeight);
    for (int index = 1; index <= 3; ++index) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                // Fields and meadows: soft greens and browns that vary smoothly, like an aerial photo.
                const double field = std::sin(x / 9.0) * std::cos(y / 11.0) + 0.5 * std::sin((x + 2 * y) / 23.0);
                const double base[] = {118.0, 142.0, 96.0};
                const double swing[] = {30.0, 22.0, 14.0};
                band[y * kWidth + x] = static_cast<GByte>(std::clamp(base[index - 1] + swing[index - 1] * field, 0.0, 255.0));
            }
        }
        Check(raster->GetRasterBand(index)->RasterIO(GF_Write, 0, 0, kWidth, kHeight, band.data(), kWidth, kHeight,
                                                     GDT_Byte, 0, 0) == CE_None,
              "write imagery");
    }
}

void WriteDocument(const std::string& path) {
    std::ofstream document(path);
    document << R"({
  "name": "Town",
  "layers": [
    { "type": "feature", "name": "Roads", "source": "town.gpkg", "table": "roads" },
    { "type": "feature", "name": "Wells", "source": "town.gpkg", "table": "wells" },
    { "type": "group", "name": "Base", "layers": [
        { "type": "feature", "name": "Parcels", "source": "town.gpkg", "table": "parcels" },
        { "type": "feature", "name": "Buildings", "source": "town.gpkg", "table": "buildings" },
        { "type": "feature", "name": "Old Parcels", "source": "town.gpkg", "table": "parcels",
          "definition_query": "zone = 'old'" },
        { "type": "group", "name": "Archive", "layers": [
            { "type": "feature", "name": "Old Wells", "source": "town.gpkg", "table": "wells",
              "definition_query": "zone = 'old'" }
        ] }
    ] },
    { "type": "raster", "name": "Imagery", "source": "imagery.tif" }
  ]
}
)";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_map OUTPUT_FOLDER\n");
        return 2;
    }
    GDALAllRegister();
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    OGRSpatialReference srs;
    srs.importFromEPSG(32633);
    WriteVectors((folder / "town.gpkg").string(), srs);
    WriteImagery((folder / "imagery.tif").string(), srs);
    WriteDocument((folder / "town.json").string());
    std::printf("sample map written to %s\n", folder.string().c_str());
    return 0;
}
