#pragma once

// How a map's engines choose between ways of answering that give the same answer, and
// what they chose, counted. The map makes one and hands it to every source it opens; a
// test sets it to try each way and reads the counts. Programs leave it as made.

#include <atomic>
#include <cstddef>
#include <memory>

namespace selvane::gis {

/// Whether a run's searches of a database table are answered from a copy of the table in
/// memory: when that costs less than the server's searches, or always, or never.
enum class TableCopyRule { kByCost, kAlways, kNever };

/// Called on the thread answering a scan's rows ahead (`worker`) when it has chosen `row`
/// and before it takes it, and on the run's thread when it asks for `row`: a test slows
/// either side down to change which thread answers which row.
using RowAheadPace = void (*)(bool worker, std::size_t row);

/// Called once the first connection's snapshot of a file read in slices has begun and
/// before any other connection joins it: a test commits a change there.
using SnapshotGap = void (*)();

struct EngineTuning {
    std::atomic<TableCopyRule> copy_rule{TableCopyRule::kByCost};
    /// The number of slices a file's table is read in; 0: one a core.
    std::atomic<std::size_t> rowid_slices{0};
    std::atomic<SnapshotGap> snapshot_gap{nullptr};
    std::atomic<RowAheadPace> row_ahead_pace{nullptr};

    /// Database tables read into memory for a scan's searches, and of those, tables
    /// copied in two halves at once; file tables read in more than one slice.
    std::atomic<std::size_t> tables_copied{0};
    std::atomic<std::size_t> tables_copied_in_halves{0};
    std::atomic<std::size_t> tables_read_in_slices{0};
};

/// What a source holds when it was given none: every choice by its cost.
inline std::shared_ptr<EngineTuning> DefaultTuning() { return std::make_shared<EngineTuning>(); }

}  // namespace selvane::gis
