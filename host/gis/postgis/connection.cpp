#include "gis/postgis/connection.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "gis/support/ascii_case.h"
#include "gis/support/message_text.h"
#include "gis/support/sql_identifier.h"
#include "gis/postgis/connection_options.h"
#include "gis/postgis/parameter_arrays.h"

namespace selvane::gis {
namespace {

// The open connections' cancel requests, for a signal handler: slots, not a container, so
// that reading them takes no lock and no allocation.
constexpr int kCancelSlots = 256;
std::atomic<PGcancel*> g_cancels[kCancelSlots];
std::atomic<bool> g_cancelling{false};

int RegisterCancel(PGconn* connection) {
    PGcancel* cancel = PQgetCancel(connection);
    if (!cancel) return -1;
    for (int slot = 0; slot < kCancelSlots; ++slot) {
        PGcancel* empty = nullptr;
        if (g_cancels[slot].compare_exchange_strong(empty, cancel)) return slot;
    }
    PQfreeCancel(cancel);
    return -1;
}

void UnregisterCancel(int slot) {
    if (slot < 0) return;
    PGcancel* cancel = g_cancels[slot].exchange(nullptr);
    // A handler that is cancelling may hold it still; the process is ending then anyway.
    if (cancel && !g_cancelling.load()) PQfreeCancel(cancel);
}

// A data exception in words of our own: the server's text quotes the value that failed
// ("invalid input syntax for type integer: ..."), which may be what the user is not to
// read. Its words before the first quote are kept where no words of ours are known.
std::string DataExceptionWords(std::string_view state, std::string_view server_words) {
    static const std::pair<std::string_view, std::string_view> kWords[] = {
        {"22P02", "a value is not valid input for the type it is read as"},
        {"22003", "a number is out of the range of its type"},
        {"22007", "a date or time is not valid input"},
        {"22008", "a date or time is out of range"},
        {"22021", "a text is not valid in the database's encoding"},
    };
    std::string words;
    for (const auto& [code, text] : kWords) {
        if (code == state) words = text;
    }
    if (words.empty()) {
        words = Trimmed(std::string(server_words.substr(0, server_words.find_first_of("\"'"))));
        while (!words.empty() && (words.back() == ':' || words.back() == ' ')) words.pop_back();
        if (words.empty()) words = "a value could not be used";
    }
    return words + " (SQLSTATE " + std::string(state) + ")";
}

}  // namespace

void CancelDatabaseStatements() noexcept {
    g_cancelling.store(true);
    char error[256];
    for (auto& slot : g_cancels) {
        if (PGcancel* cancel = slot.load()) PQcancel(cancel, error, sizeof error);
    }
}

bool IsDatabaseSource(std::string_view source) { return AsciiStartsWithIgnoringCase(source, "PG:"); }

PgConnection::PgConnection(const std::string& source) : m_source(source), m_named(InMessage(source)) {
    std::string password_file_fault;
    const auto options = ConnectionOptions(source, password_file_fault);
    std::vector<const char*> keywords;
    std::vector<const char*> values;
    for (const auto& [keyword, value] : options) {
        keywords.push_back(keyword.c_str());
        values.push_back(value.c_str());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    // The options as keyword and value arrays: what was checked is what libpq reads.
    m_connection = PQconnectdbParams(keywords.data(), values.data(), 0);
    if (!m_connection || PQstatus(m_connection) != CONNECTION_OK) {
        std::string reason = m_connection ? Trimmed(PQerrorMessage(m_connection)) : "out of memory";
        if (!password_file_fault.empty()) reason += " (" + password_file_fault + ")";
        PQfinish(m_connection);
        m_connection = nullptr;
        throw platform::Error(platform::kFail, m_named + ": cannot connect to the database: " + InMessage(reason));
    }
    // The server's notices are not the user's business.
    PQsetNoticeProcessor(m_connection, [](void*, const char*) {}, nullptr);
    m_cancel_slot = RegisterCancel(m_connection);
    try {
        // Sends stay blocking: libpq's non-blocking mode cost 16 µs a statement here (a run
        // of 5,000 searches in the server took 15% longer), and a statement leaves in one
        // write unless it is larger than the socket's buffer. Every wait for an answer is
        // under the clock (server_waits.cpp).
        SetSessionLimits();
        // Nothing a map does, definition queries included, may change the database. Set for
        // the session, outside the transactions that are rolled back.
        Check(Run("SET default_transaction_read_only = on"), m_named);
        PinSearchPath();
    } catch (...) {
        // No destructor runs for a constructor that throws.
        UnregisterCancel(m_cancel_slot);
        PQfinish(m_connection);
        throw;
    }
}

// Settings of the map's sessions, unless the connection string, the role or the database
// set them: a table another session keeps locked is reported, not waited for, and the
// server stops a statement whose program has gone (PostgreSQL 14 and later).
void PgConnection::SetSessionLimits() {
    PQclear(Run("SELECT pg_catalog.set_config('lock_timeout', '10s', false) WHERE "
                "pg_catalog.current_setting('lock_timeout') IN ('0', '0ms')"));
    // No statement of a run or a drawing waits on the server for ever (a definition query
    // can cost more at a run than when the map opened: one built on now()): the server
    // stops it after a minute, unless the user's environment, the role or the database
    // say otherwise, and the layer it read is named with the server's words.
    PQclear(Run("SELECT pg_catalog.set_config('statement_timeout', '1min', false) WHERE "
                "pg_catalog.current_setting('statement_timeout') IN ('0', '0ms')"));
    // The map's statements are short searches, or a drawing's pass over the rows in view,
    // where compiling the plan (about a second for an aggregate over 10M rows) costs more
    // than it saves.
    PQclear(Run("SET jit = off"));
    if (PQserverVersion(m_connection) >= 140000) {
        PQclear(Run("SELECT pg_catalog.set_config('client_connection_check_interval', '1s', false) "
                    "WHERE pg_catalog.current_setting('client_connection_check_interval') IN ('0', '0ms')"));
    }
    // In milliseconds, whatever unit it was set in.
    const auto limit = Check(Run("SELECT setting FROM pg_catalog.pg_settings WHERE name = 'statement_timeout'"), m_named);
    m_statement_limit = std::chrono::milliseconds(std::strtoll(PQgetvalue(limit.get(), 0, 0), nullptr, 10));
}

void PgConnection::PinSearchPath() {
    // Tables are still found where the user's own session would find them; functions,
    // operators and types only in the server's catalogue and PostGIS's schema, whatever the
    // role or the database set: another role's schema cannot lend a filter its lower().
    const auto found = Check(Run("SELECT pg_catalog.current_schemas(false)::pg_catalog.text, (SELECT "
                                    "n.nspname::pg_catalog.text FROM pg_catalog.pg_extension e JOIN "
                                    "pg_catalog.pg_namespace n ON n.oid = e.extnamespace WHERE e.extname = 'postgis')"),
                             m_named);
    m_table_schemas = PQgetvalue(found.get(), 0, 0);
    m_postgis_schema = PQgetvalue(found.get(), 0, 1);
    const std::string path = m_postgis_schema.empty() ? "pg_catalog" : "pg_catalog, " + QuotedIdentifier(m_postgis_schema);
    const char* values[] = {path.c_str()};
    Check(LastResult(PQsendQueryParams(m_connection, "SELECT pg_catalog.set_config('search_path', $1, false)", 1,
                                       nullptr, values, nullptr, nullptr, 0)),
          m_named);
}

PgConnection::~PgConnection() {
    UnregisterCancel(m_cancel_slot);
    if (m_connection) PQfinish(m_connection);
}

std::string PgConnection::ServerMessage(const PGresult* result) const {
    if (Lost()) {
        if (m_lost_reason.empty()) m_lost_reason = Trimmed(PQerrorMessage(m_connection));
        return "the connection to the database server was lost: " + m_lost_reason;
    }
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (!primary) return Trimmed(PQerrorMessage(m_connection));
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (state && std::string_view(state).starts_with("22")) return DataExceptionWords(state, primary);
    std::string text = primary;
    if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL)) text += " (" + std::string(detail) + ")";
    return text;
}

std::string PgConnection::Words(const std::exception& failure) const {
    const std::string_view text = failure.what();
    const std::string prefix = m_named + ": ";
    return std::string(text.substr(text.substr(0, prefix.size()) == prefix ? prefix.size() : 0));
}

PgResult PgConnection::Check(PGresult* raw, const std::string& what) {
    PgResult result(raw, PQclear);
    const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return result;
    const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
    if (state && std::string_view(state) == "57014") {  // query_canceled
        throw PgStatementStopped(platform::kFail, what + ": " + ServerMessage(result.get()));
    }
    throw platform::Error(platform::kFail, what + ": " + ServerMessage(result.get()));
}

void PgConnection::FreeForStatement() {
    if (m_streaming) m_streaming->ReadRest();
}

void PgConnection::EnsureTransaction() {
    FreeForStatement();
    const auto status = PQtransactionStatus(m_connection);
    if (status == PQTRANS_INERROR) {
        m_snapshot.clear();
        Check(Run("ROLLBACK"), m_named);
    }
    if (status != PQTRANS_INTRANS) {
        Check(Run("BEGIN READ ONLY"), m_named);
        ++m_transactions;
    }
}

void PgConnection::Rollback() {
    FreeForStatement();
    m_snapshot.clear();
    // Twice at most: a stop asked of a statement that ended just then can reach the next.
    for (int attempt = 0; attempt < 2 && !Lost() && PQtransactionStatus(m_connection) != PQTRANS_IDLE; ++attempt) {
        PQclear(Run("ROLLBACK"));
    }
}

void PgConnection::EndSharedTransaction() {
    for (const auto& weak : m_followers) {
        if (auto follower = weak.lock()) follower->Abandon();
    }
    m_followers.clear();
    Abandon();
}

void PgConnection::Abandon() {
    // A connection whose own shared transaction is open is not another's to end.
    if (!m_transaction.expired()) return;
    if (m_streaming) m_streaming->Abandon();
    if (Lost()) return;
    Rollback();
    ServerMessage(nullptr);  // notes why, should the connection have gone
}

void PgConnection::CancelStatement() {
    char error[256];
    if (PGcancel* registered = m_cancel_slot >= 0 ? g_cancels[m_cancel_slot].load() : nullptr) {
        PQcancel(registered, error, sizeof error);
    } else if (PGcancel* own = PQgetCancel(m_connection)) {
        PQcancel(own, error, sizeof error);
        PQfreeCancel(own);
    }
}

void PgConnection::EndTransaction() {
    if (!m_transaction.expired() || Lost()) return;
    Rollback();
    ServerMessage(nullptr);  // notes why, should the connection have gone
}

void PgConnection::RollbackToSavepoint(const std::string& name) {
    FreeForStatement();
    if (Lost()) return;
    // Again when a stop asked of a statement that ended just then reached this one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        PQclear(Run("ROLLBACK TO SAVEPOINT " + name));
        if (PQtransactionStatus(m_connection) != PQTRANS_INERROR) break;
    }
    ServerMessage(nullptr);  // notes why, should the connection have gone
}

PgResult PgConnection::Execute(const std::string& sql, const std::vector<PgParameter>& parameters, bool binary_result) {
    EnsureTransaction();
    const ParameterArrays arrays(parameters);
    return Check(LastResult(PQsendQueryParams(m_connection, sql.c_str(), arrays.Count(), nullptr, arrays.values.data(),
                                              arrays.lengths.data(), arrays.formats.data(), binary_result ? 1 : 0)),
                 m_named);
}

PgResult PgConnection::ExecuteWithin(const std::string& sql, std::chrono::milliseconds limit) {
    EnsureTransaction();
    // For this statement only: the limit goes back to the session's once it has run.
    const auto before = Check(Run("SELECT pg_catalog.current_setting('statement_timeout')"), m_named);
    const std::string session_limit = PQgetvalue(before.get(), 0, 0);
    Check(Run("SET LOCAL statement_timeout = " + std::to_string(limit.count())), m_named);
    // The client's clock follows the server's for it.
    const auto session_clock = std::exchange(m_statement_limit, limit);
    PGresult* raw = Run(sql);
    m_statement_limit = session_clock;
    auto result = Check(raw, m_named);
    const char* values[] = {session_limit.c_str()};
    Check(LastResult(PQsendQueryParams(m_connection, "SELECT pg_catalog.set_config('statement_timeout', $1, true)", 1,
                                       nullptr, values, nullptr, nullptr, 0)),
          m_named);
    return result;
}

std::string PgConnection::Prepare(const std::string& sql, int parameter_count) {
    EnsureTransaction();
    const std::string name = "selvane_statement_" + std::to_string(++m_statements);
    Check(LastResult(PQsendPrepare(m_connection, name.c_str(), sql.c_str(), parameter_count, nullptr)), m_named);
    return name;
}

PgResult PgConnection::ExecutePrepared(const std::string& name, const std::vector<PgParameter>& parameters,
                                       bool binary_result) {
    EnsureTransaction();
    const ParameterArrays arrays(parameters);
    return Check(LastResult(PQsendQueryPrepared(m_connection, name.c_str(), arrays.Count(), arrays.values.data(),
                                                arrays.lengths.data(), arrays.formats.data(), binary_result ? 1 : 0)),
                 m_named);
}

std::shared_ptr<void> PgConnection::SharedTransaction() {
    if (auto open = m_transaction.lock()) return open;
    // A statement's transaction reads a new snapshot each statement; nothing lives in it.
    Rollback();
    Check(Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), m_named);
    ++m_transactions;
    std::shared_ptr<void> token(static_cast<void*>(this), [](void* pointer) {
        auto* self = static_cast<PgConnection*>(pointer);
        self->m_transaction.reset();
        self->EndSharedTransaction();
    });
    m_transaction = token;
    return token;
}

void PgConnection::ExportSnapshot() {
    if (m_transaction.expired()) throw platform::Error(platform::kFail, m_named + ": no snapshot to share");
    if (!m_snapshot.empty()) return;
    FreeForStatement();
    const auto result = Check(Run("SELECT pg_export_snapshot()"), m_named);
    m_snapshot = PQgetvalue(result.get(), 0, 0);
}

void PgConnection::ShareSnapshot(const std::shared_ptr<PgConnection>& follower) {
    ExportSnapshot();
    follower->BeginInSnapshot(m_snapshot);
    std::erase_if(m_followers, [&](const std::weak_ptr<PgConnection>& weak) {
        const auto known = weak.lock();
        return !known || known == follower;
    });
    m_followers.push_back(follower);
}

void PgConnection::BeginInSnapshot(const std::string& id) {
    Rollback();
    Check(Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"), m_named);
    ++m_transactions;
    // SET TRANSACTION SNAPSHOT takes no parameter; the id the server made is hex and dashes.
    const bool plain = !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) || c == '-';
    });
    if (!plain) throw platform::Error(platform::kFail, m_named + ": not a snapshot: " + id);
    Check(Run("SET TRANSACTION SNAPSHOT '" + id + "'"), m_named);
}

std::shared_ptr<PgConnection> PgConnection::Extra(ExtraUse use) {
    auto& extra = m_extras[static_cast<std::size_t>(use)];
    if (extra.connection && extra.connection->Lost()) {
        extra.connection.reset();  // statements still reading it hold it until they end
        extra.given_up = true;
    }
    if (!extra.connection && !extra.given_up) {
        try {
            extra.connection = std::make_shared<PgConnection>(m_source);
        } catch (const platform::Error&) {
            extra.given_up = true;  // the server takes no more connections
        }
    }
    return extra.connection;
}

std::int64_t PgInteger(const PGresult* result, int row, int column) {
    const char* bytes = PQgetvalue(result, row, column);
    const auto length = static_cast<std::size_t>(PQgetlength(result, row, column));
    std::uint64_t value = PgBigEndian(bytes, length);
    // Sign-extend the shorter integer types.
    if (length > 0 && length < 8 && (static_cast<unsigned char>(bytes[0]) & 0x80)) value |= ~std::uint64_t{0} << (8 * length);
    return static_cast<std::int64_t>(value);
}

}  // namespace selvane::gis
