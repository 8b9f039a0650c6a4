#pragma once

// A database table's rows read into a memory class's rows: the whole table (or what a
// definition query lets through) in one binary copy or two at once, and the rows of a
// scan's batch. Each shape's bytes are checked before GEOS reads them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gis/common/engine_tuning.h"
#include "gis/memory/feature_class.h"
#include "gis/postgis/connection.h"

namespace selvane::gis {

struct PgTable;
struct QueryBatch;

/// The rows of `table` that `where` (a definition query; empty: every row) lets through,
/// read in a binary copy: ids and shapes (2D, as the class reads them). A table of at least
/// twice `kCopyHalfBlocks` blocks is copied in two halves at once when `helper` gives a
/// second connection that reads the snapshot of `connection`'s transaction (nullptr: it
/// cannot); `tuning` counts the copies. Throws platform::Error naming `culprit` and the FID
/// of a row that cannot be read, or with the server's words.
FeatureRows CopyTableRows(PgConnection& connection, const std::function<std::shared_ptr<PgConnection>()>& helper,
                          const PgTable& table, const std::string& where, const std::string& culprit,
                          EngineTuning& tuning);
/// The blocks (8 KiB) of each half of a table copied in two: below that, a second
/// connection's start costs more than it saves.
inline constexpr std::uint64_t kCopyHalfBlocks = 256;

/// The rows of a scan's batch as a class's rows. A shape that cannot be read is left
/// out: the scan fails at its row before that row's search.
FeatureRows BatchRows(const QueryBatch& batch);

}  // namespace selvane::gis
