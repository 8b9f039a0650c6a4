#include "gis/feature_class.h"

#include <geos/operation/valid/IsValidOp.h>
#include <geos/operation/valid/TopologyValidationError.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include "gis/feature_cursor.h"
#include "gis/shape.h"
#include "gis/spatial_relation.h"

namespace selvane::gis {
namespace {

constexpr std::uint8_t kValidityUnknown = 0;
constexpr std::uint8_t kValid = 1;

bool SameNameIgnoringCase(const std::string& left, const std::string& right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(left[i])) != std::tolower(static_cast<unsigned char>(right[i])))
            return false;
    }
    return true;
}

std::unique_ptr<geos::geom::Geometry> Reproject(const geos::geom::Geometry& geometry,
                                                OGRCoordinateTransformation& transform) {
    geos::io::WKBWriter writer;
    std::ostringstream wkb;
    writer.write(geometry, wkb);
    const std::string bytes = wkb.str();
    OGRGeometry* ogr = nullptr;
    if (OGRGeometryFactory::createFromWkb(bytes.data(), nullptr, &ogr, bytes.size()) != OGRERR_NONE || !ogr) {
        throw platform::Error(platform::kFail, "Cannot convert the query shape for projection");
    }
    std::unique_ptr<OGRGeometry> owned(ogr);
    if (owned->transform(&transform) != OGRERR_NONE) {
        throw platform::Error(platform::kFail, "Cannot project the query shape into the layer's coordinate system");
    }
    std::vector<unsigned char> out(owned->WkbSize());
    owned->exportToWkb(wkbNDR, out.data(), wkbVariantIso);
    geos::io::WKBReader reader(*geometry.getFactory());
    return reader.read(out.data(), out.size());
}

}  // namespace

FeatureClass::FeatureClass(std::string name, std::string shape_field, ShapeDimension dimension,
                           std::shared_ptr<const OGRSpatialReference> spatial_reference,
                           std::vector<std::int64_t> fids, std::vector<std::unique_ptr<geos::geom::Geometry>> shapes)
    : m_name(std::move(name)),
      m_shape_field(std::move(shape_field)),
      m_dimension(dimension),
      m_spatial_reference(std::move(spatial_reference)),
      m_fids(std::move(fids)),
      m_shapes(std::move(shapes)),
      m_validity(m_fids.size(), kValidityUnknown) {
    if (m_fids.size() != m_shapes.size()) throw platform::Error(platform::kInvalidArg, "Object ids and shapes differ in number");
}

FeatureClass::~FeatureClass() = default;

const std::map<std::int64_t, std::size_t>& FeatureClass::RowsByFid() const {
    if (!m_rows_by_fid) {
        auto rows = std::make_unique<std::map<std::int64_t, std::size_t>>();
        for (std::size_t row = 0; row < m_fids.size(); ++row) rows->emplace(m_fids[row], row);
        m_rows_by_fid = std::move(rows);
    }
    return *m_rows_by_fid;
}

std::int32_t FeatureClass::FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) {
    if (!std::dynamic_pointer_cast<platform::ISpatialFilter>(filter)) return static_cast<std::int32_t>(RowCount());
    auto cursor = Search(std::move(filter), true);
    std::int32_t count = 0;
    while (cursor->NextFeature()) ++count;
    return count;
}

std::shared_ptr<platform::IFeatureCursor> FeatureClass::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                               bool recycling) {
    return SearchShown(filter, recycling, nullptr);
}

std::shared_ptr<platform::IFeatureCursor> FeatureClass::SearchShown(
    const std::shared_ptr<platform::IQueryFilter>& filter, bool recycling, RowMask shown) {
    auto spatial = std::dynamic_pointer_cast<platform::ISpatialFilter>(filter);
    if (!spatial) return std::make_shared<RowCursor>(shared_from_this(), recycling, std::move(shown));

    const auto field = spatial->GeometryField();
    if (!SameNameIgnoringCase(field, m_shape_field)) {
        throw platform::Error(platform::kInvalidArg, "The spatial filter's geometry field '" + field +
                                                         "' is not the shape field '" + m_shape_field + "' of " + m_name);
    }
    const auto relation = spatial->SpatialRel();
    RequireSupportedRelation(relation);

    auto query_owner = spatial->Geometry();
    auto* query = dynamic_cast<const Shape*>(query_owner.get());
    if (query_owner && !query) throw platform::Error(platform::kInvalidArg, "The query shape is not a shape of this map");
    if (!query || query->IsEmpty()) {
        // A null or empty query shape matches nothing.
        return std::make_shared<EmptyCursor>();
    }
    RequireRelationCanHold(relation, DimensionOf(*query->Geometry()), *this);
    auto projected = Project(*query->Geometry(), query->SpatialReference());
    return std::make_shared<SpatialCursor>(shared_from_this(), recycling, std::move(shown), relation,
                                           std::move(query_owner), *query->Geometry(), std::move(projected),
                                           query->Source(), query->Row());
}

void FeatureClass::RequireValid(std::size_t row) const {
    auto& state = m_validity[row];
    if (state == kValid) return;
    const auto* shape = m_shapes[row].get();
    geos::operation::valid::IsValidOp check(shape);
    if (check.isValid()) {
        state = kValid;
        return;
    }
    const auto* reason = check.getValidationError();
    throw platform::Error(platform::kFail, "Invalid shape in " + m_name + ", FID " + std::to_string(m_fids[row]) +
                                               ": " + (reason ? reason->toString() : std::string("not valid")));
}

geos::index::strtree::TemplateSTRtree<std::size_t>& FeatureClass::Index() const {
    if (!m_index) {
        auto index = std::make_unique<geos::index::strtree::TemplateSTRtree<std::size_t>>(10, m_shapes.size());
        for (std::size_t row = 0; row < m_shapes.size(); ++row) {
            const auto* shape = m_shapes[row].get();
            if (shape && !shape->isEmpty()) index->insert(*shape->getEnvelopeInternal(), row);
        }
        index->build();
        m_index = std::move(index);
    }
    return *m_index;
}

std::unique_ptr<geos::geom::Geometry> FeatureClass::Project(
    const geos::geom::Geometry& geometry, const std::shared_ptr<const OGRSpatialReference>& source_reference) const {
    if (!source_reference || !m_spatial_reference || source_reference == m_spatial_reference) return nullptr;
    auto found = m_transformations.find(source_reference.get());
    if (found == m_transformations.end()) {
        Transformation transformation{source_reference, nullptr};
        if (!source_reference->IsSame(m_spatial_reference.get())) {
            transformation.transform.reset(
                OGRCreateCoordinateTransformation(source_reference.get(), m_spatial_reference.get()));
            if (!transformation.transform) {
                throw platform::Error(platform::kFail, "No transformation from the query shape's coordinate system to " +
                                                           m_name + "'s");
            }
        }
        found = m_transformations.emplace(source_reference.get(), std::move(transformation)).first;
    }
    if (!found->second.transform) return nullptr;
    return Reproject(geometry, *found->second.transform);
}

}  // namespace selvane::gis
