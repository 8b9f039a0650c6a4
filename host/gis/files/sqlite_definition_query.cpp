#include "gis/files/sqlite_definition_query.h"

#include <cstdio>
#include <memory>

#include "gis/common/definition_query.h"
#include "gis/common/message_text.h"
#include "gis/files/sqlite_database.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

struct Deadline {
    std::chrono::steady_clock::time_point end;
    bool passed = false;
};

}  // namespace

void SelectIdsFromSqlite(const std::string& path, const std::string& table, const std::string& fid_column,
                         const std::string& query, const std::function<void(std::int64_t)>& visit,
                         std::chrono::milliseconds limit) {
    RequireSingleExpression(query);
    ReadOnlyDatabase opened(path);
    sqlite3* database = opened.Handle();
    if (!database) throw platform::Error(platform::kFail, "cannot open the database: " + opened.Failure());
    // The query is the user's own SQL, so it runs read-only and under a clock.
    Deadline deadline{std::chrono::steady_clock::now() + limit};
    sqlite3_progress_handler(
        database, 10000,
        [](void* data) {
            auto* watch = static_cast<Deadline*>(data);
            watch->passed = std::chrono::steady_clock::now() > watch->end;
            return watch->passed ? 1 : 0;
        },
        &deadline);
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
    if (deadline.passed) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", limit.count() / 1000.0);
        throw platform::Error(platform::kFail, "the definition query '" + InMessage(query) + "' ran longer than " + seconds +
                                                   " s and was stopped");
    }
    if (step != SQLITE_DONE) {
        throw platform::Error(platform::kFail, "the definition query '" + InMessage(query) +
                                                   "' failed: " + sqlite3_errmsg(database));
    }
}

}  // namespace selvane::gis
