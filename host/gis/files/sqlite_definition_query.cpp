#include "gis/files/sqlite_definition_query.h"

#include <cstdio>
#include <memory>

#include "gis/common/definition_query.h"
#include "gis/support/message_text.h"
#include "gis/files/sqlite_database.h"
#include "platform/error.h"

namespace selvane::gis {

SqliteClock::SqliteClock(sqlite3* database, std::chrono::milliseconds limit)
    : m_database(database), m_limit(limit), m_end(std::chrono::steady_clock::now() + limit) {
    sqlite3_progress_handler(m_database, 10000, &SqliteClock::Check, this);
}

SqliteClock::~SqliteClock() { sqlite3_progress_handler(m_database, 0, nullptr, nullptr); }

int SqliteClock::Check(void* data) {
    auto* clock = static_cast<SqliteClock*>(data);
    clock->m_stopped = clock->m_stopped || std::chrono::steady_clock::now() > clock->m_end;
    return clock->m_stopped ? 1 : 0;
}

void SqliteClock::RequireInTime(const std::string& query) const {
    if (m_stopped) throw platform::Error(platform::kFail, StoppedQueryText(query, m_limit));
}

void SelectIdsFromSqlite(const std::string& path, const std::string& table, const std::string& fid_column,
                         const std::string& query, const std::function<void(std::int64_t)>& visit,
                         std::chrono::milliseconds limit) {
    RequireSingleExpression(query);
    ReadOnlyDatabase opened(path);
    sqlite3* database = opened.Handle();
    if (!database) throw platform::Error(platform::kFail, "cannot open the database: " + opened.Failure());
    // The query is the user's own SQL, so it runs read-only and under a clock.
    const SqliteClock clock(database, limit);
    const std::string sql = "SELECT " + QuotedIdentifier(fid_column) + " FROM " + QuotedIdentifier(table) +
                            " WHERE (" + query + ")";
    sqlite3_stmt* raw_statement = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(database, sql.c_str(), -1, &raw_statement, &tail) != SQLITE_OK) {
        throw platform::Error(platform::kFail, "the definition query '" + InMessage(query) +
                                                   "' is not valid: " + sqlite3_errmsg(database));
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw_statement, sqlite3_finalize);
    if (tail && *tail) {
        throw platform::Error(platform::kInvalidArg, "the definition query '" + InMessage(query) + "' must be one expression");
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) visit(sqlite3_column_int64(statement.get(), 0));
    clock.RequireInTime(query);
    if (step != SQLITE_DONE) {
        throw platform::Error(platform::kFail, "the definition query '" + InMessage(query) +
                                                   "' failed: " + sqlite3_errmsg(database));
    }
}

}  // namespace selvane::gis
