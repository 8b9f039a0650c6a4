#pragma once

// A definition query run on a SQLite file (GeoPackage, SpatiaLite): read-only and under a
// clock, so that a query can neither write nor hang.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace selvane::gis {

/// How long a definition query may run before it is stopped and reported.
inline constexpr std::chrono::seconds kDefinitionQueryTimeLimit{10};

/// Runs `SELECT fid FROM table WHERE (query)` on the SQLite database (GeoPackage or
/// SpatiaLite) at `path`, read-only, calling `visit` with each id. Throws platform::Error
/// with SQLite's reason for a query it refuses, and when the query runs past `limit`.
void SelectIdsFromSqlite(const std::string& path, const std::string& table, const std::string& fid_column,
                         const std::string& query, const std::function<void(std::int64_t)>& visit,
                         std::chrono::milliseconds limit = kDefinitionQueryTimeLimit);

}  // namespace selvane::gis
