#include "gis/postgis/connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "gis/common/ascii_case.h"
#include "gis/common/message_text.h"
#include "gis/common/sql_identifier.h"
#include "gis/postgis/connection_options.h"

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
        // Statements are sent without blocking, so that a server that reads nothing cannot
        // hold a send for ever either.
        if (PQsetnonblocking(m_connection, 1) != 0) Check(nullptr, m_named);
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

namespace {
// Beyond a statement's limit on the server: the time the server takes to stop it and say so.
constexpr std::chrono::milliseconds kStopMargin{5000};
using Clock = std::chrono::steady_clock;
}  // namespace

std::chrono::milliseconds PgConnection::Patience() const {
    if (m_statement_limit.count() <= 0) return std::chrono::milliseconds::zero();
    return m_statement_limit + m_statement_limit / 10 + kStopMargin;
}

bool PgConnection::AwaitReadable(Clock::time_point deadline) {
    const bool clocked = Patience().count() > 0;
    while (true) {
        const int socket = PQsocket(m_connection);
        const int unsent = PQflush(m_connection);  // 1 while bytes are left to send
        if (socket < 0 || unsent < 0) return false;
        int wait = -1;
        if (clocked) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                CloseUnanswered();
                return false;
            }
            wait = static_cast<int>(std::min<std::int64_t>(left, INT_MAX));
        }
        pollfd polled{socket, static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0};
        const int ready = poll(&polled, 1, wait);
        if (ready < 0 && errno != EINTR) return false;
        // Anything but room to send (data, a hang-up, an error) is for libpq to read.
        if (ready > 0 && (polled.revents & ~POLLOUT)) return true;
    }
}

void PgConnection::AwaitResult() {
    // What libpq holds already is parsed first: reading the socket for every row would move
    // its whole buffer each time.
    if (!PQisBusy(m_connection)) return;
    const auto deadline = Clock::now() + Patience();
    while (PQisBusy(m_connection)) {
        if (!AwaitReadable(deadline) || !PQconsumeInput(m_connection)) return;
    }
}

PGresult* PgConnection::NextResult() {
    AwaitResult();
    return PQgetResult(m_connection);
}

PGresult* PgConnection::LastResult(int sent) {
    if (!sent) return nullptr;
    PGresult* last = nullptr;
    while (PGresult* result = NextResult()) {
        PQclear(last);
        last = result;
        const auto status = PQresultStatus(result);
        if (status == PGRES_COPY_OUT || status == PGRES_COPY_IN || status == PGRES_COPY_BOTH) break;
    }
    return last;
}

PGresult* PgConnection::Run(const std::string& sql) { return LastResult(PQsendQuery(m_connection, sql.c_str())); }

int PgConnection::NextCopyData(char** data) {
    const auto deadline = Clock::now() + Patience();
    while (true) {
        const int size = PQgetCopyData(m_connection, data, 1);
        if (size != 0) return size;
        if (!AwaitReadable(deadline) || !PQconsumeInput(m_connection)) return -2;
    }
}

void PgConnection::CloseUnanswered() {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(Patience().count()) / 1000.0);
    m_lost_reason = std::string("the server sent nothing for ") + seconds +
                    " s, longer than its own limit on a statement, and the connection was closed";
    ::shutdown(PQsocket(m_connection), SHUT_RDWR);
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

namespace {

struct ParameterArrays {
    explicit ParameterArrays(const std::vector<PgParameter>& parameters) {
        for (const auto& parameter : parameters) {
            values.push_back(parameter.null ? nullptr : parameter.value.data());
            lengths.push_back(static_cast<int>(parameter.value.size()));
            formats.push_back(parameter.binary ? 1 : 0);
        }
    }
    int Count() const { return static_cast<int>(values.size()); }
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
};

}  // namespace

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

void PgConnection::CopyOut(const std::string& copy, const std::function<void(std::string_view)>& row) {
    PgCopy one{this, copy, row};
    CopyOutTogether({&one, 1});
}

// Reads what is left of a copy and its statement's results, so that the connection is free
// again however the reading ended; returns the first failed result.
PgResult PgConnection::FinishCopy() {
    PgResult failed(nullptr, PQclear);
    int copy_states = 0;
    while (PGresult* result = NextResult()) {
        const auto status = PQresultStatus(result);
        if (status == PGRES_COPY_OUT) {
            PQclear(result);
            // libpq answers COPY_OUT for as long as the copy's rows are not read out; a
            // second time means they cannot be (the connection is gone).
            if (++copy_states > 1) break;
            char* rest = nullptr;
            while (NextCopyData(&rest) >= 0) PQfreemem(rest);
            continue;
        }
        if (!failed && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            failed.reset(result);
        } else {
            PQclear(result);
        }
    }
    return failed;
}

void PgConnection::CopyOutTogether(std::span<PgCopy> copies) {
    // The binary format's header: signature, flags, and an extension of a given length.
    constexpr std::string_view kSignature("PGCOPY\n\377\r\n\0", 11);
    struct Running {
        PgCopy* copy;
        Clock::time_point heard = Clock::now();  // when the server last sent something
        bool header = true;
        bool ended = false;
    };
    std::vector<Running> running;
    running.reserve(copies.size());
    // Hands one piece of a copy's data on: the header is checked and left out.
    const auto take = [&](Running& at, std::string_view bytes) {
        auto& connection = *at.copy->connection;
        if (at.header) {
            at.header = false;
            if (bytes.size() < kSignature.size() + 8 || bytes.substr(0, kSignature.size()) != kSignature) {
                throw platform::Error(platform::kFail, connection.m_named + ": the server's copy has no binary header");
            }
            const std::size_t skip = kSignature.size() + 8 + PgBigEndian(bytes.data() + kSignature.size() + 4, 4);
            if (skip > bytes.size()) {
                throw platform::Error(platform::kFail, connection.m_named + ": the server's copy is cut short");
            }
            bytes.remove_prefix(skip);
            if (bytes.empty()) return;
        }
        at.copy->row(bytes);
    };
    // The end of a copy: its statement's results, a failure thrown. A read that failed
    // without a result to say why (the connection went) is no end of the rows either.
    const auto end = [](Running& at, bool read_failed) {
        at.ended = true;
        auto& connection = *at.copy->connection;
        if (auto failed = connection.FinishCopy()) connection.Check(failed.release(), connection.m_named);
        if (read_failed) {
            throw platform::Error(platform::kFail, connection.m_named + ": " + connection.ServerMessage(nullptr));
        }
    };
    try {
        // Every copy is sent before any is read, so that the servers start together.
        for (auto& copy : copies) {
            auto& connection = *copy.connection;
            connection.EnsureTransaction();
            if (!PQsendQuery(connection.m_connection, copy.sql.c_str())) {
                throw platform::Error(platform::kFail, connection.m_named + ": " + connection.ServerMessage(nullptr));
            }
            running.push_back({&copy});
        }
        for (auto& at : running) {
            auto& connection = *at.copy->connection;
            PgResult started(connection.NextResult(), PQclear);
            if (PQresultStatus(started.get()) != PGRES_COPY_OUT) {
                at.ended = true;
                connection.FinishCopy();
                connection.Check(started.release(), connection.m_named);
                throw platform::Error(platform::kFail, connection.m_named + ": the server sent no rows to copy");
            }
        }
        std::vector<pollfd> waiting;
        std::vector<Running*> polled;  // whose socket each of `waiting` is
        for (std::size_t open = running.size(); open > 0;) {
            // Every row that has arrived, from each copy in turn; then a wait for more.
            bool any = false;
            for (auto& at : running) {
                if (at.ended) continue;
                PGconn* handle = at.copy->connection->m_connection;
                while (true) {
                    char* data = nullptr;
                    const int size = PQgetCopyData(handle, &data, 1);
                    if (size == 0) break;  // no whole row yet
                    if (size < 0) {        // -1: done, -2: failed (the results say why)
                        --open;
                        end(at, size == -2);
                        break;
                    }
                    any = true;
                    at.heard = Clock::now();
                    const std::unique_ptr<char, decltype(&PQfreemem)> owned(data, PQfreemem);
                    take(at, std::string_view(data, static_cast<std::size_t>(size)));
                }
            }
            if (any || open == 0) continue;
            // Until one of them sends, or the first to keep silent too long has its
            // connection closed under the clock.
            waiting.clear();
            polled.clear();
            int wait = -1;
            for (auto& at : running) {
                if (at.ended) continue;
                waiting.push_back({PQsocket(at.copy->connection->m_connection), POLLIN, 0});
                polled.push_back(&at);
                if (const auto patience = at.copy->connection->Patience(); patience.count() > 0) {
                    const auto left = std::chrono::ceil<std::chrono::milliseconds>(at.heard + patience - Clock::now());
                    wait = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, wait < 0 ? INT_MAX : wait));
                }
            }
            if (poll(waiting.data(), waiting.size(), wait) < 0 && errno != EINTR) {
                throw platform::Error(platform::kFail, running.front().copy->connection->m_named +
                                                           ": cannot wait for the server's copy");
            }
            for (std::size_t index = 0; index < waiting.size(); ++index) {
                if (waiting[index].revents) polled[index]->heard = Clock::now();
            }
            for (auto& at : running) {
                auto& connection = *at.copy->connection;
                const auto patience = connection.Patience();
                if (!at.ended && patience.count() > 0 && Clock::now() - at.heard >= patience) connection.CloseUnanswered();
                if (!at.ended && !PQconsumeInput(connection.m_connection)) {
                    throw platform::Error(platform::kFail, connection.m_named + ": " + connection.ServerMessage(nullptr));
                }
            }
        }
    } catch (...) {
        // The copies still running are stopped, not read to their end.
        for (auto& at : running) {
            if (at.ended) continue;
            auto& connection = *at.copy->connection;
            if (!connection.Lost()) connection.CancelStatement();
            connection.FinishCopy();
        }
        throw;
    }
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

PgStream::PgStream(std::shared_ptr<PgConnection> connection, const std::string& statement,
                   const std::vector<PgParameter>& parameters)
    : m_connection(std::move(connection)) {
    m_connection->EnsureTransaction();
    PGconn* handle = m_connection->m_connection;
    const ParameterArrays arrays(parameters);
    if (!PQsendQueryPrepared(handle, statement.c_str(), arrays.Count(), arrays.values.data(), arrays.lengths.data(),
                             arrays.formats.data(), 1)) {
        m_failure = m_connection->ServerMessage(nullptr);
        return;
    }
    PQsetSingleRowMode(handle);
    m_receiving = true;
    m_connection->m_streaming = this;
}

PgStream::~PgStream() {
    // The rest of the rows must leave the connection before it can run anything else.
    if (m_receiving) Finish();
}

PgResult PgStream::Receive() { return PgResult(m_connection->NextResult(), PQclear); }

void PgStream::Finish() {
    while (PGresult* rest = m_connection->NextResult()) PQclear(rest);
    m_receiving = false;
    if (m_connection->m_streaming == this) m_connection->m_streaming = nullptr;
}

void PgStream::ReadRest() {
    while (m_receiving) {
        auto result = Receive();
        const auto status = result ? PQresultStatus(result.get()) : PGRES_TUPLES_OK;
        if (status == PGRES_SINGLE_TUPLE) {
            m_buffered.push_back(std::move(result));
            continue;
        }
        if (status != PGRES_TUPLES_OK) m_failure = m_connection->ServerMessage(result.get());
        Finish();
    }
}

void PgConnection::DropResults() {
    // What the server has sent already is read without waiting (once: each read moves
    // what is left in libpq's buffer); a statement that is still at work, or still
    // sending, is asked to stop rather than waited for.
    bool ended = false;
    if (PQconsumeInput(m_connection)) {
        while (!PQisBusy(m_connection)) {
            PGresult* result = PQgetResult(m_connection);
            if (!result) {
                ended = true;
                break;
            }
            PQclear(result);
        }
    }
    if (!ended && !Lost()) CancelStatement();
}

void PgStream::Abandon() {
    if (!m_receiving) return;
    m_connection->DropResults();
    Finish();
    m_buffered.clear();
    m_next_buffered = 0;
    m_current.reset();
    m_failure = m_connection->m_named + ": the statement was stopped, its rows given up";
}

const PGresult* PgStream::Next() {
    if (m_next_buffered < m_buffered.size()) {
        m_current = std::move(m_buffered[m_next_buffered++]);
        return m_current.get();
    }
    if (!m_failure.empty()) throw platform::Error(platform::kFail, m_failure);
    if (!m_receiving) return nullptr;
    m_current = Receive();
    const auto status = m_current ? PQresultStatus(m_current.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_SINGLE_TUPLE) return m_current.get();
    if (status != PGRES_TUPLES_OK) m_failure = m_connection->ServerMessage(m_current.get());
    m_current.reset();
    Finish();
    if (!m_failure.empty()) throw platform::Error(platform::kFail, m_failure);
    return nullptr;
}

PgSentStatement::PgSentStatement(std::shared_ptr<PgConnection> connection, const std::string& sql, bool binary_result)
    : m_connection(std::move(connection)) {
    m_connection->EnsureTransaction();
    if (!PQsendQueryParams(m_connection->m_connection, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr,
                           binary_result ? 1 : 0)) {
        m_failure = std::make_exception_ptr(
            platform::Error(platform::kFail, m_connection->m_named + ": " + m_connection->ServerMessage(nullptr)));
        return;
    }
    m_receiving = true;
    m_connection->m_streaming = this;
}

PgSentStatement::~PgSentStatement() {
    // The result must leave the connection before it can run anything else.
    if (m_receiving) Finish();
}

void PgSentStatement::Finish() {
    while (PGresult* rest = m_connection->NextResult()) PQclear(rest);
    m_receiving = false;
    if (m_connection->m_streaming == this) m_connection->m_streaming = nullptr;
}

void PgSentStatement::ReadRest() {
    if (!m_receiving) return;
    // The first result is the statement's; no result at all, a connection that went.
    PGresult* first = m_connection->NextResult();
    // libpq can answer "command done" for a statement whose connection went before its
    // result came: only rows, all of them, stand for themselves then.
    if (first && m_connection->Lost() && PQresultStatus(first) != PGRES_TUPLES_OK) {
        PQclear(first);
        first = nullptr;
    }
    try {
        m_result = m_connection->Check(first, m_connection->m_named);
    } catch (...) {
        m_failure = std::current_exception();
    }
    Finish();
}

void PgSentStatement::Abandon() {
    if (!m_receiving) return;
    m_connection->DropResults();
    Finish();
    m_result.reset();
    m_failure = std::make_exception_ptr(
        platform::Error(platform::kFail, m_connection->m_named + ": the statement was stopped, its rows given up"));
}

void PgSentStatement::Receive() {
    if (m_receiving) PQconsumeInput(m_connection->m_connection);
}

PgResult PgSentStatement::Take() {
    ReadRest();
    if (m_failure) std::rethrow_exception(m_failure);
    return std::move(m_result);
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
