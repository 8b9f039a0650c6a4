#pragma once

// A table read on several connections at once, a range of rowids each. SQLite steps
// through one statement's rows on one core, and for a large table of small shapes that
// stepping takes as long as parsing them. Every connection reads in the snapshot of the
// first, so the slices together are the rows one statement would have read.

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gis/common/engine_tuning.h"
#include "gis/files/sqlite_database.h"

namespace selvane::gis {

/// Rowids from `first` to `last`, both included.
struct RowidRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
};

/// The span of `table`'s rowids cut into at most `count` ranges of equal span, in order.
/// One range or none when the table cannot be cut by rowid: a view, a table without
/// rowid, a column named like the rowid, no rows, or a span shorter than `count` rowids.
std::vector<RowidRange> RowidRanges(sqlite3* database, const std::string& table, std::size_t count);

/// The ranges worth reading `table` in, one connection each: `count` of them, or when 0,
/// the machine's cores, each with at least `kRowsPerSlice` rowids.
std::vector<RowidRange> SlicesOf(sqlite3* database, const std::string& table, std::size_t count = 0);
inline constexpr std::size_t kRowsPerSlice = 16384;

/// Connections that read in the snapshot of a main connection. The main connection is
/// in a read transaction from construction to destruction; a writer's commit between its
/// start and a helper's is seen by the helper (SQLite's data version moved), and that
/// helper is left out.
class SnapshotHelpers {
public:
    /// Starts `main`'s read transaction and opens up to `count` more connections to `path`
    /// in its snapshot; `gap` (may be null) is called between the two.
    SnapshotHelpers(sqlite3* main, const std::string& path, std::size_t count, SnapshotGap gap = nullptr);
    ~SnapshotHelpers();
    SnapshotHelpers(const SnapshotHelpers&) = delete;
    SnapshotHelpers& operator=(const SnapshotHelpers&) = delete;

    /// Helper `index` (from 0), or null when it could not be opened or joined the snapshot;
    /// its range is then the main connection's to read.
    sqlite3* At(std::size_t index) const;
    /// Whether any helper joined the snapshot. When none did, the table is better read by one
    /// statement, and the main connection may not be in a transaction to read ranges in.
    bool Joined() const;

private:
    sqlite3* m_main;
    bool m_in_transaction = false;
    std::vector<std::unique_ptr<ReadOnlyDatabase>> m_helpers;  // null where left out
};

}  // namespace selvane::gis
