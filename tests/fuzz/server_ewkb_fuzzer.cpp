// Fuzz target: one shape as the server sends it in a table copied as it is kept, its EWKB.
// The point and flat readers may refuse the bytes; where they take them, the shape made of
// what they give must be the one GEOS's reader makes of the server's bytes themselves,
// SRID and all. Anything else is a fault.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

#include <geos/io/WKBReader.h>

#include "gis/geometry/shape.h"
#include "gis/postgis/feature_class.h"
#include "gis/wkb/ewkb.h"
#include "../same_shape.h"

namespace {

// GEOS reads the server's own bytes only once the reader under test has made a shape of
// the same bytes less the SRID: it has checked their nesting, which GEOS follows by recursion.
void ExpectAsGeosReadsThem(const geos::geom::Geometry& made, const std::uint8_t* data, std::size_t size) {
    geos::io::WKBReader reader(selvane::gis::Shape::Factory());
    std::unique_ptr<geos::geom::Geometry> read;
    try {
        read = reader.read(data, size);
    } catch (const std::exception&) {
        std::abort();  // taken here, refused by GEOS
    }
    if (!selvane::testing::SameCoordinateBits(made, *read)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const auto point = selvane::gis::PointWkbOfEwkb(data, size)) {
        geos::io::WKBReader reader(selvane::gis::Shape::Factory());
        ExpectAsGeosReadsThem(*reader.read(point->data(), point->size()), data, size);
    }
    std::vector<unsigned char> scratch;
    const auto flat = selvane::gis::FlatWkbOfEwkb(data, size, scratch);
    if (!flat) return 0;
    std::unique_ptr<geos::geom::Geometry> made;
    try {
        made = selvane::gis::ReadServerShape(flat->data(), flat->size());
    } catch (const std::exception&) {
        return 0;  // refused with its reason, as a copy's row would be
    }
    ExpectAsGeosReadsThem(*made, data, size);
    return 0;
}
