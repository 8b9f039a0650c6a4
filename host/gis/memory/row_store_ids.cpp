// A table's object ids: kept as runs that count up one a row where they do, checked for
// duplicates, and found by id.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "gis/memory/row_store.h"

namespace selvane::gis {

// An object id that more than one row has, if any.
std::optional<std::int64_t> RowStore::FirstDuplicateOfIds(const std::vector<std::int64_t>& fids) {
    if (std::adjacent_find(fids.begin(), fids.end(), std::greater_equal<>()) == fids.end()) return std::nullopt;
    auto sorted = fids;  // not ascending: look properly
    std::sort(sorted.begin(), sorted.end());
    const auto found = std::adjacent_find(sorted.begin(), sorted.end());
    if (found == sorted.end()) return std::nullopt;
    return *found;
}

// Runs of ids that count up one a row, as long as there are few enough of them to search
// in the processor's cache (and far fewer than rows); none otherwise.
std::vector<RowStore::IdRun> RowStore::IdRunsOf(const std::vector<std::int64_t>& fids) {
    constexpr std::size_t kMostRuns = 4096;
    const std::size_t most = std::min(kMostRuns, std::max<std::size_t>(1, fids.size() / 16));
    std::vector<IdRun> runs;
    for (std::size_t row = 0; row < fids.size(); ++row) {
        const bool next = row > 0 && fids[row - 1] < fids[row] &&
                          static_cast<std::uint64_t>(fids[row]) - static_cast<std::uint64_t>(fids[row - 1]) == 1;
        if (next) continue;
        if (runs.size() == most) return {};
        runs.push_back({row, fids[row]});
    }
    return runs;
}

// The smallest id that more than one row has, if any, from the runs of `count` rows: one
// that a run starts at inside a run that starts lower. Without sorting the ids themselves.
std::optional<std::int64_t> RowStore::FirstDuplicateOfRuns(const std::vector<IdRun>& runs, std::size_t count) {
    struct Span {
        std::int64_t first, last;
    };
    std::vector<Span> spans;
    spans.reserve(runs.size());
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const std::size_t end = index + 1 < runs.size() ? runs[index + 1].row : count;
        const auto last = static_cast<std::uint64_t>(runs[index].fid) + (end - 1 - runs[index].row);
        spans.push_back({runs[index].fid, static_cast<std::int64_t>(last)});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
    for (std::size_t index = 1; index < spans.size(); ++index) {
        if (spans[index].first <= spans[index - 1].last) return spans[index].first;
    }
    return std::nullopt;
}

const RowStore::IdRun& RowStore::RunOf(std::size_t row) const {
    const auto& runs = m_id_runs;
    // The last run that starts at or before the row.
    const auto after = std::upper_bound(runs.begin(), runs.end(), row,
                                        [](std::size_t wanted, const IdRun& run) { return wanted < run.row; });
    return *(after - 1);
}

}  // namespace selvane::gis
