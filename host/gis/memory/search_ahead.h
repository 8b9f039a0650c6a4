#pragma once

// Searches answered ahead, in memory. A run asks one search per Layer #1 feature, in the
// order of a scan of Layer #1's class; each answer (a full relate for TOUCH, OVERLAP,
// CROSS and the containments) is worked out on one core. While the run works on the row
// it asked for, a second thread works out the answers of the rows the scan shows next;
// the run then takes them instead of working them out. Every answer is one the cursor
// of that search would give, failures included, at the same place.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "gis/common/engine_tuning.h"
#include "gis/memory/cursors.h"

namespace selvane::gis {

class MemorySearchAhead {
public:
    /// Answers the searches of `target` (its rows `target_shown`) with the shapes of a scan
    /// of `queries` showing `scan_shown`, in `relation`, from `first` on; `pace` (may be
    /// null) is called as each side comes to a row.
    MemorySearchAhead(const MemoryFeatureClass& target, RowMask target_shown,
                      std::shared_ptr<const MemoryFeatureClass> queries, RowMask scan_shown,
                      platform::esriSpatialRelEnum relation, std::size_t first, RowAheadPace pace);
    ~MemorySearchAhead();
    MemorySearchAhead(const MemorySearchAhead&) = delete;
    MemorySearchAhead& operator=(const MemorySearchAhead&) = delete;

    /// Whether this answers a search of row `row` of such a scan: the same classes, masks
    /// and relation, and a row after the last one asked.
    bool Answers(const MemoryFeatureClass* queries, const RowMask& scan_shown, platform::esriSpatialRelEnum relation,
                 const RowMask& target_shown, std::size_t row) const;
    /// The answer of the search of `row`: the second thread's, or worked out here.
    SearchAnswer Answer(std::size_t row);

private:
    enum State : std::uint8_t { kOpen = 0, kTaken = 1, kDone = 2 };
    void Work(std::stop_token stop);
    bool Worth(std::size_t row) const;
    SearchAnswer Work(std::size_t row) const;
    /// Takes `row` if the run will ask for it and nobody has, and works out its answer.
    bool TakeAndWork(std::size_t row);

    const MemoryFeatureClass& m_target;
    RowMask m_target_shown;
    // Not owned, so that two classes answering each other's searches hold no cycle; the
    // second thread holds it while it reads it, and stops once it is gone.
    std::weak_ptr<const MemoryFeatureClass> m_queries_alive;
    const MemoryFeatureClass* m_queries;
    RowMask m_scan_shown;
    platform::esriSpatialRelEnum m_relation;
    RowAheadPace m_pace;
    std::size_t m_rows;
    std::unique_ptr<std::atomic<std::uint8_t>[]> m_states;  // a row each
    std::vector<SearchAnswer> m_answers;                    // a ring of kWindow rows
    std::atomic<std::size_t> m_asked;                       // the row the run asked last
    std::size_t m_helping = 0;                              // the run's thread: next row to help with
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::jthread m_worker;
};

/// How far ahead of the run the second thread works, in rows.
inline constexpr std::size_t kAheadWindow = 512;


}  // namespace selvane::gis
