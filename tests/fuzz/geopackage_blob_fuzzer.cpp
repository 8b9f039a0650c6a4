// Fuzz target: one GeoPackage geometry blob checked and parsed straight into GEOS, the way
// the GeoPackage reader parses each row, for each declared shape type. A blob may be left
// to GDAL (nullptr) or refused with the reason; anything else is a fault. The same bytes,
// taken as WKB, are made into a shape straight where they are plain: that shape must be the
// one GEOS's reader makes of them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "gis/geometry/shape.h"
#include "gis/wkb/wkb_outline.h"
#include "gis/wkb/wkb_shapes.h"
#include "gis/files/geopackage_reader.h"
#include "../same_shape.h"

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
    std::unique_ptr<geos::geom::Geometry> made;
    try {
        made = selvane::gis::ShapeOfPlainWkb(data, size, selvane::gis::Shape::Factory());
    } catch (const geos::util::GEOSException&) {
        // A ring GEOS's factory refuses, as its reader would.
    }
    if (made && !selvane::testing::SameCoordinateBits(*made, *reader.read(data, size))) std::abort();
    return 0;
}
