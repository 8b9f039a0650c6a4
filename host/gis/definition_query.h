#pragma once

// A definition query: an attribute filter the user wrote, checked before it runs and run
// with a time limit, so that a query can neither smuggle in a second statement nor hang.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace selvane::gis {

/// How long a definition query may run before it is stopped and reported.
inline constexpr std::chrono::seconds kDefinitionQueryTimeLimit{10};

/// Throws platform::Error when `query` holds a ";" outside quotes (a second statement).
void RequireSingleExpression(const std::string& query);

/// RequireSingleExpression, and also refuses what could reach outside the parentheses a
/// server wraps the query in: a ")" that closes more than the query opened, an
/// unclosed "(" or quote, comments ("--", "/*") and "$" (dollar quotes, parameters).
void RequireEnclosedExpression(const std::string& query);

/// Runs `SELECT fid FROM table WHERE (query)` on the SQLite database (GeoPackage or
/// SpatiaLite) at `path`, read-only, calling `visit` with each id. Throws platform::Error
/// with SQLite's reason for a query it refuses, and when the query runs past `limit`.
void SelectIdsFromSqlite(const std::string& path, const std::string& table, const std::string& fid_column,
                         const std::string& query, const std::function<void(std::int64_t)>& visit,
                         std::chrono::milliseconds limit = kDefinitionQueryTimeLimit);

}  // namespace selvane::gis
