// The selection done by hand with GEOS, the yardstick of `selvane select`: load both
// tables of a GeoPackage through OGR, index the targets in a TemplateSTRtree, prepare each
// query polygon, test every candidate, collect the ids. Prints the count of distinct ids.
//
//   bare_geos_select FILE.gpkg intersects|crosses|touches|overlaps

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_data.h"

#include <geos/io/WKBReader.h>

namespace {

struct Table {
    std::vector<std::int64_t> fids;
    std::vector<std::unique_ptr<geos::geom::Geometry>> shapes;
};

Table Load(GDALDataset& dataset, const char* name) {
    Table table;
    OGRLayer* layer = dataset.GetLayerByName(name);
    geos::io::WKBReader reader(selvane::bench::Factory());
    std::vector<unsigned char> wkb;
    for (auto& feature : *layer) {
        OGRGeometry* geometry = feature->GetGeometryRef();
        wkb.resize(static_cast<std::size_t>(geometry->WkbSize()));
        geometry->exportToWkb(wkbNDR, wkb.data(), wkbVariantIso);
        table.fids.push_back(feature->GetFID());
        table.shapes.push_back(reader.read(wkb.data(), wkb.size()));
    }
    return table;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bare_geos_select FILE.gpkg intersects|crosses|touches|overlaps\n");
        return 2;
    }
    const std::string relation = argv[2];
    GDALAllRegister();
    GDALDatasetUniquePtr dataset(GDALDataset::Open(argv[1], GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!dataset) return 1;
    const auto queries = Load(*dataset, "queries");
    const auto targets = Load(*dataset, "targets");

    std::vector<std::int64_t> ids;
    for (const auto row : selvane::bench::BareGeosHits(queries.shapes, targets.shapes, relation)) {
        ids.push_back(targets.fids[row]);
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::printf("Selection Count: %zu\n", ids.size());
    return 0;
}
