#pragma once

// GDAL's own expression evaluator, which formats without SQL filter with, has no clock:
// a LIKE with several % backtracks for hours on one long value. Such a filter runs in a
// child process that opens the file afresh and is ended at the time limit.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace selvane::gis {

/// The ids of `table` in the file `path` that the OGR attribute filter `query` lets
/// through, in the order read, or nothing when the filter ran longer than `limit` and was
/// stopped. Throws platform::Error when the child cannot start or fails (it says why where
/// GDAL did).
std::optional<std::vector<std::int64_t>> OgrFilterIdsWithin(const std::string& path, const std::string& table,
                                                            const std::string& query, std::chrono::milliseconds limit);

}  // namespace selvane::gis
