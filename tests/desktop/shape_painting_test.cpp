#include <gtest/gtest.h>

#include <geos/io/WKBWriter.h>

#include <sstream>
#include <string>
#include <vector>

#include "desktop/shape_painting.h"
#include "gis/geometry/shape.h"

namespace selvane::testing {
namespace {

// The painter path's elements as text, to compare two paths and show where they differ.
std::string Elements(const QPainterPath& path) {
    std::ostringstream text;
    for (int index = 0; index < path.elementCount(); ++index) {
        const auto element = path.elementAt(index);
        text << element.type << ' ' << element.x << ' ' << element.y << '\n';
    }
    return text.str();
}

TEST(ShapePainting, AShapesBytesDrawAsTheShapeItselfDraws) {
    const desktop::Viewport viewport{QRectF(0, 0, 20, 10), QSize(400, 200)};
    const desktop::PixelMapper map(viewport, nullptr);
    std::vector<gis::PlainPoint> traced;
    for (const char* wkt : {
             "POINT (3 4)",
             "POINT EMPTY",
             "LINESTRING (0 0, 5 5, 9 1)",
             "LINESTRING Z (0 0 1, 5 5 2)",
             "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0), (2 2, 2 4, 4 4, 4 2, 2 2))",
             "POLYGON EMPTY",
             "MULTIPOINT ((1 1), (2 2), EMPTY)",
             "MULTILINESTRING ((0 0, 1 1), (2 2, 3 1, 4 4))",
             "MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), ((5 5, 9 5, 9 9, 5 9, 5 5), (6 6, 7 6, 7 7, 6 6)))",
             "GEOMETRYCOLLECTION (POINT (8 8), LINESTRING (0 9, 9 0), POLYGON ((1 1, 2 1, 2 2, 1 1)))",
             "GEOMETRYCOLLECTION (LINESTRING (0 9, 9 0), GEOMETRYCOLLECTION (POINT (1 2)))",
         }) {
        const auto shape = gis::Shape::FromWkt(wkt);
        const auto& geometry = *shape->Geometry();
        for (const int order : {0, 1}) {
            for (const int dimensions : {2, 3}) {
                geos::io::WKBWriter writer(dimensions, order);
                std::ostringstream bytes;
                writer.write(geometry, bytes);
                const std::string wkb = bytes.str();

                QPainterPath from_shape;
                QPolygonF shape_points;
                desktop::AddShape(geometry, map, from_shape, shape_points);
                QPainterPath from_bytes;
                QPolygonF byte_points;
                const bool rings =
                    desktop::AddShapeBytes({reinterpret_cast<const unsigned char*>(wkb.data()), wkb.size()}, map, from_bytes,
                                      byte_points, traced);

                const std::string what = std::string(wkt) + (order ? " little" : " big") + "-endian";
                EXPECT_EQ(Elements(from_bytes), Elements(from_shape)) << what;
                EXPECT_EQ(byte_points, shape_points) << what;
                // Filled when some part is an area with a ring, as GEOS's dimension says of
                // any shape that is not empty.
                EXPECT_EQ(rings, !geometry.isEmpty() && geometry.getDimension() == geos::geom::Dimension::A) << what;
            }
        }
    }
}

}  // namespace
}  // namespace selvane::testing
