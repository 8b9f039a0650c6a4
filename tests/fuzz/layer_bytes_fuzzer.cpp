// Fuzz target: a layer read from bytes, as a GeoPackage when they start like one and as
// GeoJSON otherwise, through GDAL's files in memory; every table is loaded and searched
// with its own first shape. Failures must be platform::Error, nothing else.

#include <cpl_vsi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "gis/support/gdal_session.h"
#include "gis/geometry/shape.h"
#include "gis/files/file_source.h"
#include "gis/model/spatial_filter.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace selvane;
    gis::InitialiseGdal();
    const bool geopackage = size >= 15 && std::memcmp(data, "SQLite format 3", 15) == 0;
    const std::string path = geopackage ? "/vsimem/fuzz.gpkg" : "/vsimem/fuzz.geojson";
    VSILFILE* file = VSIFileFromMemBuffer(path.c_str(), const_cast<GByte*>(data), size, FALSE);
    if (!file) return 0;
    VSIFCloseL(file);
    try {
        gis::FileSource source(path);
        for (const auto& table : source.FeatureTables()) {
            auto feature_class = source.LoadTable(table);
            if (feature_class->RowCount() == 0 || !feature_class->Rows().ShapeAt(0)) continue;
            auto query = std::make_shared<gis::Shape>(feature_class->Rows().ShapeAt(0)->clone(), feature_class->SpatialReference());
            auto filter = std::make_shared<gis::SpatialFilter>();
            filter->SetGeometry(query);
            filter->SetSpatialRel(platform::esriSpatialRelIntersects);
            filter->SetGeometryField(feature_class->ShapeFieldName());
            auto cursor = feature_class->Search(filter, false);
            for (int fetched = 0; fetched < 1000 && cursor->NextFeature(); ++fetched) {
            }
        }
    } catch (const platform::Error&) {
    }
    VSIUnlink(path.c_str());
    return 0;
}
