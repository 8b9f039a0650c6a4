#pragma once

// A definition query run on a SQLite file (GeoPackage, SpatiaLite): read-only and under a
// clock, so that a query can neither write nor hang.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "gis/common/definition_query.h"

struct sqlite3;

namespace selvane::gis {

/// Stops whatever runs on a SQLite connection once `limit` has passed, for as long as it
/// lives; the statement then fails with SQLITE_INTERRUPT.
class SqliteClock {
public:
    SqliteClock(sqlite3* database, std::chrono::milliseconds limit);
    ~SqliteClock();
    SqliteClock(const SqliteClock&) = delete;
    SqliteClock& operator=(const SqliteClock&) = delete;

    /// Whether the limit stopped a statement.
    bool Stopped() const { return m_stopped; }
    /// Throws the report of `query` stopped by the clock, if it was.
    void RequireInTime(const std::string& query) const;

private:
    static int Check(void* clock);

    sqlite3* m_database;
    std::chrono::milliseconds m_limit;
    std::chrono::steady_clock::time_point m_end;
    bool m_stopped = false;
};

/// Runs `SELECT fid FROM table WHERE (query)` on the SQLite database (GeoPackage or
/// SpatiaLite) at `path`, read-only, calling `visit` with each id. Throws platform::Error
/// with SQLite's reason for a query it refuses, and when the query runs past `limit`.
void SelectIdsFromSqlite(const std::string& path, const std::string& table, const std::string& fid_column,
                         const std::string& query, const std::function<void(std::int64_t)>& visit,
                         std::chrono::milliseconds limit = kDefinitionQueryTimeLimit);

}  // namespace selvane::gis
