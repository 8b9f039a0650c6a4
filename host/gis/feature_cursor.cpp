#include "gis/feature_cursor.h"

#include <algorithm>

#include "gis/spatial_relation.h"

namespace selvane::gis {

std::shared_ptr<platform::IFeature> RowCursor::NextFeature() {
    const auto row_count = m_source.Owner().RowCount();
    while (m_next < row_count) {
        const auto row = m_next++;
        if (!m_shown || (*m_shown)[row]) return m_source.At(row);
    }
    return nullptr;
}

SpatialCursor::SpatialCursor(std::shared_ptr<const FeatureClass> owner, bool recycling, RowMask shown,
                             platform::esriSpatialRelEnum relation, std::shared_ptr<platform::IGeometry> query_owner,
                             const geos::geom::Geometry& query, std::unique_ptr<geos::geom::Geometry> projected,
                             const FeatureClass* query_source, std::size_t query_row)
    : m_source(std::move(owner), recycling),
      m_shown(std::move(shown)),
      m_relation(relation),
      m_query_owner(std::move(query_owner)),
      m_projected(std::move(projected)),
      m_query(m_projected ? m_projected.get() : &query),
      m_query_source(query_source),
      m_query_row(query_row) {
    auto& index = m_source.Owner().Index();
    const auto& shown_rows = m_shown;
    // The index holds only rows with a non-empty shape, so null and empty shapes never match.
    index.query(*m_query->getEnvelopeInternal(), [this, &shown_rows](std::size_t row) {
        if (!shown_rows || (*shown_rows)[row]) m_candidates.push_back(row);
    });
    // Table order, so that a cursor reads like a scan of the table.
    std::sort(m_candidates.begin(), m_candidates.end());
}

bool SpatialCursor::Matches(std::size_t row) {
    const auto& owner = m_source.Owner();
    const auto& target = *owner.ShapeAt(row);
    if (m_relation == platform::esriSpatialRelEnvelopeIntersects) return true;  // the index compared envelopes
    if (!m_query_checked) {
        if (m_query_source) m_query_source->RequireValid(m_query_row);
        m_prepared = geos::geom::prep::PreparedGeometryFactory::prepare(m_query);
        m_query_checked = true;
    }
    owner.RequireValid(row);
    try {
        return RelationHolds(m_relation, *m_prepared, target);
    } catch (const geos::util::GEOSException& error) {
        throw platform::Error(platform::kFail, "Cannot evaluate " + std::string(RelationName(m_relation)) + " on " +
                                                   owner.Name() + ", FID " + std::to_string(owner.Fid(row)) + ": " +
                                                   error.what());
    }
}

std::shared_ptr<platform::IFeature> SpatialCursor::NextFeature() {
    if (!m_started) {
        // Shapes with non-finite coordinates are outside the index, where no envelope can
        // find them: report them before answering rather than leave them out silently.
        m_started = true;
        if (m_query_source) m_query_source->RequireFinite(m_query_row);
        m_source.Owner().RequireAllFinite();
    }
    while (m_next < m_candidates.size()) {
        const auto row = m_candidates[m_next++];
        if (Matches(row)) return m_source.At(row);
    }
    return nullptr;
}

}  // namespace selvane::gis
