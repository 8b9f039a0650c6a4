// Fuzz target: one GeoPackage geometry blob checked and parsed straight into GEOS, the way
// the GeoPackage reader parses each row, for each declared shape type. A blob may be left
// to GDAL (nullptr) or refused with the reason; anything else is a fault. The same bytes,
// taken as WKB, are made into a shape straight where they are plain: that shape must be the
// one GEOS's reader makes of them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gis/common/shape.h"
#include "gis/common/wkb_outline.h"
#include "gis/common/wkb_shapes.h"
#include "gis/files/geopackage_reader.h"

namespace {

// The same type, parts and coordinates, bit for bit (NaN included).
bool SameShape(const geos::geom::Geometry& made, const geos::geom::Geometry& read) {
    if (made.getGeometryTypeId() != read.getGeometryTypeId() || made.getNumGeometries() != read.getNumGeometries() ||
        made.getNumPoints() != read.getNumPoints()) {
        return false;
    }
    const auto made_points = made.getCoordinates();
    const auto read_points = read.getCoordinates();
    for (std::size_t index = 0; index < made_points->size(); ++index) {
        const auto& a = made_points->getAt(index);
        const auto& b = read_points->getAt(index);
        if (std::memcmp(&a.x, &b.x, sizeof a.x) != 0 || std::memcmp(&a.y, &b.y, sizeof a.y) != 0) return false;
    }
    return true;
}

}  // namespace

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
    if (made && !SameShape(*made, *reader.read(data, size))) std::abort();
    return 0;
}
