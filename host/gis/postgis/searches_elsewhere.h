#pragma once

// The searches of a database scan's shapes in a table (of that database or another) may
// be answered outside the server: the map can give the engine a way to (a copy of the
// table in memory, when that costs less). Without one, the server answers every search.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "gis/geometry/spatial_relation.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

class PostgisFeatureClass;
struct QueryBatch;

/// The searches of one scan's shapes answered outside the server; one a scan.
class SearchesElsewhere {
public:
    virtual ~SearchesElsewhere() = default;
    /// The features of `target` that the search of `request` (a shape of `batch`, in the
    /// table's own system) finds among the rows `where` lets through; nullptr when the
    /// server answers it. Decided at the scan's first search of each table and query.
    virtual std::shared_ptr<platform::IFeatureCursor> Search(PostgisFeatureClass& target,
                                                             const std::shared_ptr<const QueryBatch>& batch,
                                                             const SpatialQuery& request, const std::string& where,
                                                             bool recycling) = 0;
    /// Decides, and makes ready, what answers `target`'s searches of the batch's shapes,
    /// as the first such search would. Several targets may be prepared at once, each on a
    /// thread of its own; a failure is left for the search to meet.
    virtual void Prepare(PostgisFeatureClass& target, const std::shared_ptr<const QueryBatch>& batch,
                         const SpatialQuery& request, const std::string& where) = 0;
    /// Whether every search asked so far is answered here, so that nothing else asks the
    /// scan's connection anything while a batch is searched.
    virtual bool AnswersEverySearch() const = 0;
};

/// Makes the SearchesElsewhere of a scan.
using SearchesElsewhereMaker = std::function<std::unique_ptr<SearchesElsewhere>()>;

/// What the searches of one scan's shapes keep while the scan lives.
struct ScanSearches {
    /// The rows the scan hands out, as counted; 0 when not counted.
    std::int64_t expected_rows = 0;
    /// Made at the scan's first search (by `make`; null when the engine has none), by
    /// whichever target of whichever database asks first.
    SearchesElsewhere* Elsewhere(const SearchesElsewhereMaker& make) {
        const std::lock_guard lock(m_mutex);
        if (!m_elsewhere && make) m_elsewhere = make();
        return m_elsewhere.get();
    }

    /// Whether every search of the scan so far is answered outside the server.
    bool AllAnsweredElsewhere() {
        const std::lock_guard lock(m_mutex);
        return m_elsewhere && m_elsewhere->AnswersEverySearch();
    }

private:
    std::mutex m_mutex;
    std::unique_ptr<SearchesElsewhere> m_elsewhere;
};

}  // namespace selvane::gis
