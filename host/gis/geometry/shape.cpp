#include "gis/geometry/shape.h"

#include <geos/geom/CoordinateFilter.h>
#include <geos/geom/GeometryCollection.h>
#include <geos/geom/Point.h>
#include <geos/geom/Polygon.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <vector>


namespace selvane::gis {

Shape::Shape(std::unique_ptr<geos::geom::Geometry> geometry,
             std::shared_ptr<const OGRSpatialReference> spatial_reference)
    : m_owned(std::move(geometry)), m_spatial_reference(std::move(spatial_reference)), m_geometry(m_owned.get()) {}

const geos::geom::GeometryFactory& Shape::Factory() {
    // Never destroyed: shapes made on several threads count their factory in a plain
    // integer, which must never decide to free it while one of them lives.
    static const auto* factory = geos::geom::GeometryFactory::create().release();
    return *factory;
}

void MovePoint(geos::geom::Point& point, const PlainPoint& to) {
    class SetTo : public geos::geom::CoordinateFilter {
    public:
        explicit SetTo(const PlainPoint& at) : m_at(at) {}
        void filter_rw(geos::geom::Coordinate* coordinate) const override {
            coordinate->x = m_at.x;
            coordinate->y = m_at.y;
        }

    private:
        PlainPoint m_at;
    } set_to(to);
    point.apply_rw(&set_to);
    point.geometryChanged();  // its envelope is worked out again
}

namespace {

// The envelope of one part, and of its rings when it is a polygon.
void FillPartEnvelopes(const geos::geom::Geometry& part) {
    part.getEnvelopeInternal();
    if (const auto* polygon = dynamic_cast<const geos::geom::Polygon*>(&part)) {
        polygon->getExteriorRing()->getEnvelopeInternal();
        for (std::size_t ring = 0; ring < polygon->getNumInteriorRing(); ++ring) {
            polygon->getInteriorRingN(ring)->getEnvelopeInternal();
        }
    }
}

}  // namespace

void FillLazyEnvelopes(const geos::geom::Geometry& shape) {
    FillPartEnvelopes(shape);
    // Most shapes are single parts: no list of pending parts for them, since a class of a
    // million shapes fills them all.
    if (!dynamic_cast<const geos::geom::GeometryCollection*>(&shape)) return;
    std::vector<const geos::geom::Geometry*> pending;
    for (std::size_t index = 0; index < shape.getNumGeometries(); ++index) pending.push_back(shape.getGeometryN(index));
    while (!pending.empty()) {
        const auto* part = pending.back();
        pending.pop_back();
        FillPartEnvelopes(*part);
        if (dynamic_cast<const geos::geom::GeometryCollection*>(part)) {
            for (std::size_t index = 0; index < part->getNumGeometries(); ++index) {
                pending.push_back(part->getGeometryN(index));
            }
        }
    }
}

std::shared_ptr<Shape> Shape::FromWkt(const std::string& wkt,
                                      std::shared_ptr<const OGRSpatialReference> spatial_reference) {
    geos::io::WKTReader reader(Factory());
    return std::make_shared<Shape>(reader.read(wkt), std::move(spatial_reference));
}

bool AllCoordinatesFinite(const geos::geom::Geometry& shape) {
    class Check : public geos::geom::CoordinateFilter {
    public:
        void filter_ro(const geos::geom::Coordinate* coordinate) override {
            finite = finite && std::isfinite(coordinate->x) && std::isfinite(coordinate->y);
        }
        bool finite = true;
    } check;
    shape.apply_ro(&check);
    return check.finite;
}

}  // namespace selvane::gis
