#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "gis/feature.h"
#include "gis/feature_class.h"
#include "gis/geos_include.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// Hands out features of chosen rows: a new Feature per row, or one moved from row to row.
class FeatureSource {
public:
    FeatureSource(std::shared_ptr<const FeatureClass> owner, bool recycling)
        : m_owner(std::move(owner)), m_recycling(recycling) {}

    std::shared_ptr<platform::IFeature> At(std::size_t row) {
        if (!m_recycling) return Made(row);
        if (!m_recycled) {
            m_recycled = Made(row);
        } else {
            m_recycled->MoveTo(row);
        }
        return m_recycled;
    }
    /// Marks the features handed out as those of a scan showing `shown`.
    void SetScan(RowMask shown) {
        m_scan = true;
        m_scan_shown = std::move(shown);
    }

    const FeatureClass& Owner() const { return *m_owner; }

private:
    std::shared_ptr<Feature> Made(std::size_t row) {
        auto feature = std::make_shared<Feature>(m_owner, row);
        if (m_scan) feature->SetScan(m_scan_shown);
        return feature;
    }

    std::shared_ptr<const FeatureClass> m_owner;
    bool m_recycling;
    std::shared_ptr<Feature> m_recycled;
    bool m_scan = false;
    RowMask m_scan_shown;
};

/// No rows: the answer to a null or empty query shape.
class EmptyCursor : public platform::IFeatureCursor {
public:
    std::shared_ptr<platform::IFeature> NextFeature() override { return nullptr; }
};

/// A search that cannot run: its failure comes with the first fetch, as a shape's would.
class FailingCursor : public platform::IFeatureCursor {
public:
    explicit FailingCursor(platform::Error error) : m_failure(std::make_exception_ptr(std::move(error))) {}
    /// Any failure (out of memory, say), thrown again as it was.
    explicit FailingCursor(std::exception_ptr failure) : m_failure(std::move(failure)) {}
    std::shared_ptr<platform::IFeature> NextFeature() override { std::rethrow_exception(m_failure); }

private:
    std::exception_ptr m_failure;
};

/// Every row the mask shows, in table order.
class RowCursor : public platform::IFeatureCursor {
public:
    RowCursor(std::shared_ptr<const FeatureClass> owner, bool recycling, RowMask shown)
        : m_source(std::move(owner), recycling), m_shown(std::move(shown)) {
        m_source.SetScan(m_shown);
    }

    std::shared_ptr<platform::IFeature> NextFeature() override;

private:
    FeatureSource m_source;
    RowMask m_shown;
    std::size_t m_next = 0;
};

/// A search worked out ahead: the candidates in row order, 1 where one matches, and the
/// failures where the cursor would meet them (before any candidate, or at one).
struct SearchAnswer {
    std::vector<std::size_t> candidates;
    std::vector<std::uint8_t> verdicts;
    std::exception_ptr before_candidates;
    std::size_t failed_at = SIZE_MAX;
    std::exception_ptr failure;
};

/// The index candidates of `query` among the rows `shown` (null: all), in row order.
std::vector<std::size_t> CandidatesOf(const FeatureClass& target, const geos::geom::Geometry& query,
                                      const RowMask& shown);

/// The whole answer of a search, worked out on the calling thread as a cursor would.
SearchAnswer AnswerSearch(const FeatureClass& target, const RowMask& shown, platform::esriSpatialRelEnum relation,
                          const geos::geom::Geometry& query, const FeatureClass* query_source, std::size_t query_row);

/// The rows whose shapes stand in a relation to a query shape. Candidates come from the
/// class's index when the cursor opens; the predicate runs as the cursor is read, so a
/// shape GEOS cannot evaluate fails NextFeature, naming the layer and the FID.
class SpatialCursor : public platform::IFeatureCursor {
public:
    /// `query` stays alive through `query_owner`; `projected`, when set, replaces it.
    SpatialCursor(std::shared_ptr<const FeatureClass> owner, bool recycling, RowMask shown,
                  platform::esriSpatialRelEnum relation, std::shared_ptr<platform::IGeometry> query_owner,
                  const geos::geom::Geometry& query, std::unique_ptr<geos::geom::Geometry> projected,
                  const FeatureClass* query_source, std::size_t query_row);

    /// A cursor over an answer worked out ahead.
    SpatialCursor(std::shared_ptr<const FeatureClass> owner, bool recycling, SearchAnswer answer);

    std::shared_ptr<platform::IFeature> NextFeature() override;

private:
    bool Matches(std::size_t row);
    /// For a search of many candidates: every candidate's answer, worked out on every core
    /// before the first is handed out; a failure is kept for the row it belongs to.
    void EvaluateInParallel();

    FeatureSource m_source;
    RowMask m_shown;
    platform::esriSpatialRelEnum m_relation;
    std::shared_ptr<platform::IGeometry> m_query_owner;
    std::unique_ptr<geos::geom::Geometry> m_projected;
    const geos::geom::Geometry* m_query;
    std::unique_ptr<geos::geom::prep::PreparedGeometry> m_prepared;
    const FeatureClass* m_query_source;
    std::size_t m_query_row;
    bool m_query_checked = false;
    bool m_started = false;
    std::vector<std::size_t> m_candidates;
    std::size_t m_next = 0;
    // Filled by EvaluateInParallel: 1 where the candidate matches; the first failure in
    // candidate order and where it stands.
    std::vector<std::uint8_t> m_verdicts;
    std::size_t m_failed_at = SIZE_MAX;
    std::exception_ptr m_failure;
    std::exception_ptr m_before_candidates;  // of an answer worked out ahead
};

/// How many candidates make a search worth spreading over the cores.
inline constexpr std::size_t kParallelCandidates = 4096;

}  // namespace selvane::gis
