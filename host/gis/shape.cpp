#include "gis/shape.h"

#include <ogr_spatialref.h>

#include "gis/feature_class.h"

namespace selvane::gis {

Shape::Shape(std::unique_ptr<geos::geom::Geometry> geometry,
             std::shared_ptr<const OGRSpatialReference> spatial_reference)
    : m_owned(std::move(geometry)), m_spatial_reference(std::move(spatial_reference)), m_geometry(m_owned.get()) {}

void Shape::Borrow(const FeatureClass* source, std::size_t row) {
    m_source = source;
    m_row = row;
    m_geometry = source->ShapeAt(row);
}

const std::shared_ptr<const OGRSpatialReference>& Shape::SpatialReference() const {
    return m_source ? m_source->SpatialReference() : m_spatial_reference;
}

const geos::geom::GeometryFactory& Shape::Factory() {
    static const auto factory = geos::geom::GeometryFactory::create();
    return *factory;
}

std::shared_ptr<Shape> Shape::FromWkt(const std::string& wkt,
                                      std::shared_ptr<const OGRSpatialReference> spatial_reference) {
    geos::io::WKTReader reader(Factory());
    return std::make_shared<Shape>(reader.read(wkt), std::move(spatial_reference));
}

}  // namespace selvane::gis
