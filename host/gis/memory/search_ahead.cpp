#include "gis/memory/search_ahead.h"

#include <algorithm>

#include "gis/geometry/spatial_relation.h"

namespace selvane::gis {

MemorySearchAhead::MemorySearchAhead(const MemoryFeatureClass& target, RowMask target_shown,
                                     std::shared_ptr<const MemoryFeatureClass> queries, RowMask scan_shown,
                                     platform::esriSpatialRelEnum relation, std::size_t first, RowAheadPace pace)
    : m_target(target),
      m_target_shown(std::move(target_shown)),
      m_queries_alive(queries),
      m_queries(queries.get()),
      m_scan_shown(std::move(scan_shown)),
      m_relation(relation),
      m_pace(pace),
      m_rows(queries->RowCount()),
      m_states(std::make_unique<std::atomic<std::uint8_t>[]>(m_rows)),
      m_answers(kAheadWindow),
      m_asked(first) {
    m_worker = std::jthread([this](std::stop_token stop) { Work(stop); });
}

MemorySearchAhead::~MemorySearchAhead() {
    m_worker.request_stop();
    m_changed.notify_all();
}

bool MemorySearchAhead::Answers(const MemoryFeatureClass* queries, const RowMask& scan_shown,
                                platform::esriSpatialRelEnum relation, const RowMask& target_shown,
                                std::size_t row) const {
    return queries == m_queries && scan_shown == m_scan_shown && relation == m_relation &&
           target_shown == m_target_shown && row > m_asked.load();
}

// Rows the run will search: shown by the scan, with a shape that can stand in the relation.
bool MemorySearchAhead::Worth(std::size_t row) const {
    if (m_scan_shown && !(*m_scan_shown)[row]) return false;
    const auto dimension = m_queries->Rows().NonEmptyDimensionAt(row);
    return dimension && RelationCanHold(m_relation, *dimension, m_target.Dimension());
}

SearchAnswer MemorySearchAhead::Work(std::size_t row) const {
    SearchAnswer answer;
    try {
        // A row without a shape matches nothing, as a search without a query shape does.
        if (const auto shape = m_queries->Rows().ShapeAt(row)) {
            answer = AnswerSearch(m_target, m_target_shown, m_relation, *shape, m_queries, row);
        }
    } catch (...) {
        // Out of memory, say: the search of this row fails with it, on whichever thread.
        answer = SearchAnswer{};
        answer.before_candidates = std::current_exception();
    }
    return answer;
}

void MemorySearchAhead::Work(std::stop_token stop) {
    std::size_t next = 0;
    while (!stop.stop_requested()) {
        // One reading of the run's place for every decision about the next row: the run
        // only moves on, so a row below `asked + kAheadWindow` stays clear of the slot of a
        // row the run has not taken yet.
        const std::size_t asked = m_asked.load();
        next = std::max(next, asked + 1);
        if (next >= m_rows) return;  // the run has been given every row there is
        if (next >= asked + kAheadWindow) {
            // Far enough ahead: wait for the run to move on.
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, stop, [&] { return next < m_asked.load() + kAheadWindow; });
            continue;
        }
        // The scanned class, held while it is read (the target itself holds this, and ends
        // this thread before it goes).
        const auto queries = m_queries == &m_target ? nullptr : m_queries_alive.lock();
        if (m_queries != &m_target && !queries) return;  // gone: nothing more will be asked
        // The run may move on at any moment from here; `next` is already known to be a row
        // that is there and in the window.
        if (m_pace) m_pace(true, next);
        TakeAndWork(next++);
    }
}

bool MemorySearchAhead::TakeAndWork(std::size_t row) {
    if (!Worth(row)) return false;
    std::uint8_t open = kOpen;
    if (!m_states[row].compare_exchange_strong(open, kTaken)) return false;
    m_answers[row % kAheadWindow] = Work(row);
    {
        std::lock_guard lock(m_mutex);
        m_states[row].store(kDone);
    }
    m_changed.notify_all();
    return true;
}

SearchAnswer MemorySearchAhead::Answer(std::size_t row) {
    {
        std::lock_guard lock(m_mutex);
        m_asked.store(row);
    }
    m_changed.notify_all();
    if (m_pace) m_pace(false, row);
    std::uint8_t open = kOpen;
    if (m_states[row].compare_exchange_strong(open, kTaken)) return Work(row);
    // The second thread has it: rather than wait, work out the rows after it that nobody
    // has taken yet, so that both cores keep busy. Rows up to `row + kAheadWindow - 1`
    // only: the next one shares the slot of the answer this waits for.
    const std::size_t help_end = std::min(row + kAheadWindow, m_rows);
    m_helping = std::max(m_helping, row + 1);
    while (m_states[row].load() != kDone) {
        while (m_helping < help_end && m_states[row].load() != kDone) TakeAndWork(m_helping++);
        std::unique_lock lock(m_mutex);
        if (m_helping >= help_end) m_changed.wait(lock, [&] { return m_states[row].load() == kDone; });
    }
    return std::move(m_answers[row % kAheadWindow]);
}

}  // namespace selvane::gis
