#pragma once

// A SQLite database opened read-only, for the map model's own queries of GeoPackages.

#include <sqlite3.h>

#include <memory>
#include <string>

#include "gis/support/sql_identifier.h"

namespace selvane::gis {

/// The database at `path`, read-only; `Handle()` is null when it cannot be opened, and
/// `Failure()` then says why.
class ReadOnlyDatabase {
public:
    explicit ReadOnlyDatabase(const std::string& path) {
        sqlite3* raw = nullptr;
        m_status = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        m_database.reset(raw);
        if (m_status != SQLITE_OK) {
            m_failure = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(m_status);
            m_database.reset();
        }
    }
    sqlite3* Handle() const { return m_database.get(); }
    const std::string& Failure() const { return m_failure; }

private:
    struct Close {
        void operator()(sqlite3* database) const { sqlite3_close(database); }
    };
    std::unique_ptr<sqlite3, Close> m_database;
    int m_status = SQLITE_OK;
    std::string m_failure;
};

/// A prepared statement, finalised with its scope.
using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

inline Statement Prepare(sqlite3* database, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(database, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) raw = nullptr;
    return Statement(raw, sqlite3_finalize);
}

}  // namespace selvane::gis
