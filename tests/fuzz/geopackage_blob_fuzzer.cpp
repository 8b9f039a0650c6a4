// Fuzz target: one GeoPackage geometry blob parsed straight into GEOS, the way the
// GeoPackage reader parses each row. A blob may be refused (nullptr) or make GEOS throw;
// anything else is a fault.

#include <cstddef>
#include <cstdint>

#include "gis/geopackage_reader.h"
#include "gis/shape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    geos::io::WKBReader reader(selvane::gis::Shape::Factory());
    try {
        auto shape = selvane::gis::ParseGeoPackageBlob(data, size, reader);
        if (shape) (void)shape->getEnvelopeInternal();
    } catch (const geos::util::GEOSException&) {
    }
    return 0;
}
