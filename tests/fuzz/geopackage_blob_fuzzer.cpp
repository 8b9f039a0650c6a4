// Fuzz target: one GeoPackage geometry blob checked and parsed straight into GEOS, the way
// the GeoPackage reader parses each row, for each declared shape type. A blob may be left
// to GDAL (nullptr) or refused with the reason; anything else is a fault.

#include <cstddef>
#include <cstdint>

#include "gis/common/shape.h"
#include "gis/common/wkb_outline.h"
#include "gis/files/geopackage_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using selvane::gis::ShapeDimension;
    geos::io::WKBReader reader(selvane::gis::Shape::Factory());
    for (const auto declared : {ShapeDimension::Mixed, ShapeDimension::Area}) {
        try {
            auto shape = selvane::gis::ParseGeoPackageBlob(data, size, reader, declared);
            if (shape) (void)shape->getEnvelopeInternal();
        } catch (const selvane::gis::ShapeBytesFault&) {
        }
    }
    return 0;
}
