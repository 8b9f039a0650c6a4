// Query shapes projected into a class's coordinate system, as the map's chooser of
// coordinate operations says.

#include <geos/io/WKBReader.h>
#include <geos/io/WKBWriter.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gis/support/gdal_session.h"
#include "gis/geometry/shape.h"
#include "gis/memory/feature_class.h"

namespace selvane::gis {
namespace {

// The geometry in another coordinate system; nullptr when a coordinate cannot be projected.
std::unique_ptr<geos::geom::Geometry> Reproject(const geos::geom::Geometry& geometry,
                                                OGRCoordinateTransformation& transform) {
    geos::io::WKBWriter writer;
    std::ostringstream wkb;
    writer.write(geometry, wkb);
    const std::string bytes = wkb.str();
    OGRGeometry* ogr = nullptr;
    if (OGRGeometryFactory::createFromWkb(bytes.data(), nullptr, &ogr, bytes.size()) != OGRERR_NONE || !ogr) {
        return nullptr;
    }
    std::unique_ptr<OGRGeometry> owned(ogr);
    if (owned->transform(&transform) != OGRERR_NONE) return nullptr;
    std::vector<unsigned char> out(owned->WkbSize());
    owned->exportToWkb(wkbNDR, out.data(), wkbVariantIso);
    geos::io::WKBReader reader(*geometry.getFactory());
    auto projected = reader.read(out.data(), out.size());
    return AllCoordinatesFinite(*projected) ? std::move(projected) : nullptr;
}

}  // namespace

std::unique_ptr<geos::geom::Geometry> MemoryFeatureClass::Project(
    const geos::geom::Geometry& geometry, const std::shared_ptr<const OGRSpatialReference>& source_reference) const {
    if (!source_reference || !m_spatial_reference || source_reference == m_spatial_reference) return nullptr;
    const auto systems = [&] {
        const char* from = source_reference->GetName();
        const char* to = m_spatial_reference->GetName();
        return std::string("from ") + (from ? from : "its coordinate system") + " into " + (to ? to : "that") +
               " of " + Culprit();
    };
    GdalMessages gdal;
    auto found = m_search.transformations.find(source_reference.get());
    if (found == m_search.transformations.end()) {
        SearchState::Transformation transformation{source_reference, nullptr};
        if (!source_reference->IsSame(m_spatial_reference.get())) {
            OGRCoordinateTransformationOptions options;
            const auto operation = m_choose_operation ? m_choose_operation(*source_reference, *m_spatial_reference)
                                                      : CoordinateOperation{};
            if (!operation.proj.empty()) options.SetCoordinateOperation(operation.proj.c_str(), operation.reverse);
            transformation.transform.reset(
                OGRCreateCoordinateTransformation(source_reference.get(), m_spatial_reference.get(), options));
            if (!transformation.transform) {
                throw platform::Error(platform::kFail, "has no transformation " + systems() + ": " + gdal.Text());
            }
        }
        found = m_search.transformations.emplace(source_reference.get(), std::move(transformation)).first;
    }
    if (!found->second.transform) return nullptr;
    auto projected = Reproject(geometry, *found->second.transform);
    if (!projected) throw platform::Error(platform::kFail, "cannot be projected " + systems() + ": " + gdal.Text());
    return projected;
}

}  // namespace selvane::gis
