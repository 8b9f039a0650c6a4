#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "gis/common/cursors.h"
#include "gis/geometry/geos_include.h"
#include "gis/geometry/prepared_query.h"
#include "gis/memory/feature.h"
#include "gis/memory/feature_class.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// Hands out features of chosen rows: a new MemoryFeature per row, or one moved from row to row.
class MemoryFeatureMaker {
public:
    MemoryFeatureMaker(std::shared_ptr<const MemoryFeatureClass> owner, bool recycling)
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
        m_scan = std::make_shared<const MemoryScan>(m_owner, std::move(shown));
    }

    const MemoryFeatureClass& Owner() const { return *m_owner; }

private:
    std::shared_ptr<MemoryFeature> Made(std::size_t row) {
        auto feature = std::make_shared<MemoryFeature>(m_owner, row);
        if (m_scan) feature->SetScan(m_scan);
        return feature;
    }

    std::shared_ptr<const MemoryFeatureClass> m_owner;
    bool m_recycling;
    std::shared_ptr<MemoryFeature> m_recycled;
    std::shared_ptr<const MemoryScan> m_scan;
};

/// Every row the mask shows, in table order.
class MemoryScanCursor : public platform::IFeatureCursor {
public:
    MemoryScanCursor(std::shared_ptr<const MemoryFeatureClass> owner, bool recycling, RowMask shown)
        : m_source(std::move(owner), recycling), m_shown(std::move(shown)) {
        m_source.SetScan(m_shown);
    }

    std::shared_ptr<platform::IFeature> NextFeature() override;

private:
    MemoryFeatureMaker m_source;
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
std::vector<std::size_t> CandidatesOf(const MemoryFeatureClass& target, const geos::geom::Geometry& query,
                                      const RowMask& shown);

/// The whole answer of a search, worked out on the calling thread as a cursor would.
SearchAnswer AnswerSearch(const MemoryFeatureClass& target, const RowMask& shown, platform::esriSpatialRelEnum relation,
                          const geos::geom::Geometry& query, const ShapeOrigin* query_source, std::size_t query_row);

/// The rows whose shapes stand in a relation to a query shape. Candidates come from the
/// class's index when the cursor opens; the predicate runs as the cursor is read, so a
/// shape GEOS cannot evaluate fails NextFeature, naming the layer and the FID.
class MemorySearchCursor : public platform::IFeatureCursor {
public:
    /// `query` stays alive through `query_owner`; `projected`, when set, replaces it.
    MemorySearchCursor(std::shared_ptr<const MemoryFeatureClass> owner, bool recycling, RowMask shown,
                       platform::esriSpatialRelEnum relation, std::shared_ptr<platform::IGeometry> query_owner,
                  const geos::geom::Geometry& query, std::unique_ptr<geos::geom::Geometry> projected,
                  const ShapeOrigin* query_source, std::size_t query_row);

    /// A cursor over an answer worked out ahead.
    MemorySearchCursor(std::shared_ptr<const MemoryFeatureClass> owner, bool recycling, SearchAnswer answer);

    std::shared_ptr<platform::IFeature> NextFeature() override;

private:
    /// How the candidates' answers come: each as the cursor reaches it, or all at once
    /// before the first is handed out (worked out ahead, or on every core).
    enum class Answered { AsRead, Before };

    /// What opening the cursor checks, once, before its first feature.
    void Start();
    bool Matches(std::size_t row);
    /// Whether the query shape is its class's own, which checked it before any candidate;
    /// a projected copy or a shape of no class is checked where validity matters.
    bool KnownValid() const { return m_query_source && !m_projected; }
    /// For a search of many candidates: every candidate's answer, worked out on every core
    /// before the first is handed out; a failure is kept for the row it belongs to.
    void EvaluateInParallel();

    MemoryFeatureMaker m_source;
    Answered m_answered;
    // The candidates, and once answered before, their verdicts and failures.
    SearchAnswer m_answer;
    std::size_t m_next = 0;
    bool m_started = false;
    // The query, for answers as read and on every core.
    RowMask m_shown;
    platform::esriSpatialRelEnum m_relation = platform::esriSpatialRelUndefined;
    std::shared_ptr<platform::IGeometry> m_query_owner;
    std::unique_ptr<geos::geom::Geometry> m_projected;
    const geos::geom::Geometry* m_query = nullptr;
    std::unique_ptr<PreparedQuery> m_prepared;  // made at the first candidate as read
    const ShapeOrigin* m_query_source = nullptr;
    std::size_t m_query_row = 0;
};

/// How many candidates make a search worth spreading over the cores.
inline constexpr std::size_t kParallelCandidates = 4096;

}  // namespace selvane::gis
