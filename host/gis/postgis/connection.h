#pragma once

// One read-only connection to a PostgreSQL server, through libpq: statements with binary
// parameters and results, copies of rows, and a shared transaction for the server-side
// cursors that walk whole tables. Statements whose results are read later are in
// statements.h.

#include <libpq-fe.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace selvane::gis {

/// Whether a data source names a database ("PG:dbname=city host=/run/x").
bool IsDatabaseSource(std::string_view source);

/// Asks the server to stop the statements that every open connection is running. Safe in a
/// signal handler: the command line calls it when it is interrupted, so that the server
/// does not go on working for a program that has gone.
void CancelDatabaseStatements() noexcept;

/// A result that frees itself.
using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

/// A statement parameter: text or raw bytes, sent in binary where it is bytes.
struct PgParameter {
    std::string value;
    bool binary = false;
    bool null = false;
};

class PgStream;
class PgSentStatement;
class PgConnection;

/// A statement whose results are still coming in. Before the connection runs another, it
/// has the pending one keep the rest of its results (or, when the statement is given up,
/// drop them).
class PgPending {
public:
    /// The results still coming leave the connection before it can run anything else.
    virtual ~PgPending();
    PgPending(const PgPending&) = delete;
    PgPending& operator=(const PgPending&) = delete;
    /// Gives the results up: what has arrived is dropped, a statement still at work is asked
    /// to stop, and the connection is free once this returns. Reading afterwards throws.
    void Abandon();

protected:
    explicit PgPending(std::shared_ptr<PgConnection> connection);
    /// The statement was sent: its results are coming, and the connection waits for them.
    void Sent();
    /// Reads whatever results are left, so that the connection is free again.
    void Finish();
    /// What is kept of results given up: nothing, and the failure a read then throws.
    virtual void GaveUp() = 0;

    std::shared_ptr<PgConnection> m_connection;
    bool m_receiving = false;

private:
    friend class PgConnection;
    virtual void ReadRest() = 0;
};

/// One of several copies run at once: `COPY (…) TO STDOUT (FORMAT binary)` on a connection
/// of its own, each row's bytes (after the file header) handed to `row`.
struct PgCopy {
    PgConnection* connection = nullptr;
    std::string sql;
    std::function<void(std::string_view)> row;
};

/// A statement the server stopped: at its time limit, or cancelled.
class PgStatementStopped : public platform::Error {
public:
    using platform::Error::Error;
};

/// What a second connection to a database is for. Each use has its own, so that a drawing
/// never finds a run's statements under way on it.
enum class ExtraUse { kSearches, kDrawing };

/// A connection. Every statement runs read-only: nothing a map does can change the
/// database. Failures throw platform::Error with the server's own words.
class PgConnection {
public:
    /// Connects to `source` ("PG:" and a libpq connection string). A password in the
    /// string is refused: it comes from libpq's own sources (~/.pgpass, PGPASSWORD).
    explicit PgConnection(const std::string& source);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    /// The source as the map names it, to open another connection to the same database.
    const std::string& Source() const { return m_source; }
    /// The source as messages show it: bounded, its controls escaped.
    const std::string& Named() const { return m_named; }

    /// Runs `sql` with parameters $1..$n; results in binary when `binary_result`.
    PgResult Execute(const std::string& sql, const std::vector<PgParameter>& parameters = {},
                     bool binary_result = false);
    /// Runs `sql` (no parameters), stopped by the server once `limit` has passed; then
    /// throws PgStatementStopped.
    PgResult ExecuteWithin(const std::string& sql, std::chrono::milliseconds limit);
    /// Runs `COPY (…) TO STDOUT (FORMAT binary)` and hands each row's bytes (after the
    /// file header) to `row`: a large answer without a result object a row.
    void CopyOut(const std::string& copy, const std::function<void(std::string_view)>& row);
    /// Runs `copies` at once, each on its own connection, so that as many server processes
    /// work at the same time; this thread reads whichever has rows. When one fails, or a
    /// `row` throws, the others are stopped and their rows given up, and that is thrown.
    static void CopyOutTogether(std::span<PgCopy> copies);
    /// Prepares `sql` once under a name of its own and returns that name.
    std::string Prepare(const std::string& sql, int parameter_count);
    PgResult ExecutePrepared(const std::string& name, const std::vector<PgParameter>& parameters,
                             bool binary_result);

    /// Keeps the transaction open for everyone holding the returned token (server-side
    /// cursors live in it); the last token released rolls it back, and stops a statement
    /// whose rows are still coming: nobody can use them any more. It reads one snapshot
    /// throughout (repeatable read), which another connection can share.
    std::shared_ptr<void> SharedTransaction();
    /// The shared transaction if one is open (an expired pointer if not), to tell later
    /// whether it is still the same.
    std::weak_ptr<void> OpenSharedTransaction() const { return m_transaction; }
    /// Whether `token` is the shared transaction's only holder.
    static bool LastHolder(const std::shared_ptr<void>& token) { return token.use_count() == 1; }
    /// Ends any transaction of `follower` and begins one that reads the snapshot of this
    /// connection's shared transaction, so that both see the same rows; throws when no
    /// shared transaction is open. When the shared transaction ends, the follower's
    /// statement is stopped and its transaction ended with it.
    void ShareSnapshot(const std::shared_ptr<PgConnection>& follower);
    /// Makes the shared transaction's snapshot ready to share, which the server cannot do
    /// inside a savepoint: a later ShareSnapshot then can be. Throws when it cannot.
    void ExportSnapshot();
    /// Rolls back the open transaction, unless a token holds it.
    void EndTransaction();
    /// Undoes a failed statement inside the transaction, keeping what came before the
    /// savepoint (a scan's cursor among it).
    void RollbackToSavepoint(const std::string& name);
    /// A name no other cursor of this connection has.
    std::string NewCursorName() { return "selvane_cursor_" + std::to_string(++m_cursors); }

    /// The server's words for a failed result, or the connection's when there is none; for
    /// a lost connection, the words of the moment it was lost.
    std::string ServerMessage(const PGresult* result) const;
    /// The text of a failure of this connection without the source it starts with, for a
    /// message that names the database already.
    std::string Words(const std::exception& failure) const;
    /// The schema PostGIS is installed in (empty without PostGIS): with pg_catalog, the only
    /// one where the session looks for functions, operators and types.
    const std::string& PostgisSchema() const { return m_postgis_schema; }
    /// The schemas where the user's session would look for a table named without one, in
    /// order, as an array literal of the server's ("{public}").
    const std::string& TableSchemas() const { return m_table_schemas; }
    /// The server's version as libpq reports it (150004 for 15.4).
    int ServerVersion() const { return PQserverVersion(m_connection); }
    /// A number of the open transaction, another for each transaction begun; with
    /// InTransaction, tells whether something checked in a transaction is still current.
    std::uint64_t TransactionSerial() const { return m_transactions; }
    bool InTransaction() const { return PQtransactionStatus(m_connection) == PQTRANS_INTRANS; }
    /// Whether the connection was lost.
    bool Lost() const { return PQstatus(m_connection) != CONNECTION_OK; }

    /// A second connection to this database for `use`, opened on first ask, for work the
    /// server can do on another core at the same time (a copy's second half, searches
    /// answered ahead, every other range of a drawing). Once the one for a use is lost, or
    /// the server refuses it (it takes no more connections), there is none for that use
    /// from then on: this connection does the work alone. nullptr then.
    std::shared_ptr<PgConnection> Extra(ExtraUse use);

private:
    friend class PgPending;
    friend class PgStream;
    friend class PgSentStatement;
    /// Lets a statement whose results are still coming finish into its buffer, so that the
    /// connection is free for another statement.
    void FreeForStatement();
    /// Every statement runs in a read-only transaction that is rolled back, never
    /// committed: a read-only transaction still lets some functions write (large objects),
    /// and a rollback undoes what they wrote. A transaction a failure aborted is replaced.
    void EnsureTransaction();
    /// Rolls back whatever transaction is open.
    void Rollback();
    /// The end of the shared transaction: the statements of this connection and of its
    /// followers are stopped, not read to their end, and their transactions rolled back.
    void EndSharedTransaction();
    /// Stops whatever statement this connection is streaming and ends its transaction.
    void Abandon();
    /// Ends any transaction and begins one that reads the snapshot `id` exported by
    /// another connection.
    void BeginInSnapshot(const std::string& id);
    /// Asks the server to stop the statement this connection is running.
    void CancelStatement();
    /// Drops the results of the statement under way: what has arrived is read without
    /// waiting, and a statement still at work is asked to stop.
    void DropResults();
    PgResult Check(PGresult* result, const std::string& what);
    /// Sets the session's search_path to pg_catalog and PostGIS's schema, noting first where
    /// the user's tables would have been found.
    void PinSearchPath();
    /// Sets the session's limits unless the user's environment, the role or the database
    /// set them, and notes the statement limit the session ends up with.
    void SetSessionLimits();

    // Every wait on the server has a clock of the client's own: the server's statement limit
    // is kept by the server only while the server is able to, and a link gone silent keeps
    // nothing. A wait longer than the statement limit and a margin shuts the socket, which
    // libpq reads as a lost connection and the server as a client gone.

    /// How long one wait on the server may last; zero for as long as it takes.
    std::chrono::milliseconds Patience() const;
    /// Waits until the server can be read from, or until `deadline`, when the connection
    /// is closed; false once it is closed. (Sends block: nothing is left to send here.)
    bool AwaitReadable(std::chrono::steady_clock::time_point deadline);
    /// Waits until a result can be read without blocking, under the clock.
    void AwaitResult();
    /// The next result of the statement under way, waited for under the clock.
    PGresult* NextResult();
    /// The last result of a statement just sent (`sent` as libpq's send returned), as PQexec
    /// would give it; nullptr when it could not be sent.
    PGresult* LastResult(int sent);
    /// Runs `sql` without parameters, as PQexec would, under the clock.
    PGresult* Run(const std::string& sql);
    /// The next piece of a copy's rows into `data` (libpq's PQgetCopyData), waited for
    /// under the clock.
    int NextCopyData(char** data);
    /// Closes a connection whose server kept silent through a whole wait.
    void CloseUnanswered();
    /// Reads what is left of a copy and its statement's results, so that the connection is
    /// free again however the reading ended; returns the first failed result.
    PgResult FinishCopy();

    std::string m_source;
    std::string m_named;
    PGconn* m_connection = nullptr;
    int m_cancel_slot = -1;  // where CancelDatabaseStatements finds this connection
    PgPending* m_streaming = nullptr;
    std::weak_ptr<void> m_transaction;
    std::string m_postgis_schema;
    std::string m_table_schemas;
    std::string m_snapshot;  // the open transaction's exported snapshot, if exported
    std::vector<std::weak_ptr<PgConnection>> m_followers;  // reading the shared transaction's snapshot
    mutable std::string m_lost_reason;  // what the server or libpq said when the connection went
    std::chrono::milliseconds m_statement_limit{60000};  // the session's; zero for none
    std::uint64_t m_transactions = 0;
    int m_statements = 0;
    int m_cursors = 0;
    struct ExtraConnection {
        std::shared_ptr<PgConnection> connection;
        bool given_up = false;
    };
    std::array<ExtraConnection, 2> m_extras;  // by ExtraUse
};

/// The big-endian unsigned integer of the `count` bytes at `bytes` (the server's binary form).
inline std::uint64_t PgBigEndian(const char* bytes, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t index = 0; index < count; ++index) value = (value << 8) | static_cast<unsigned char>(bytes[index]);
    return value;
}
/// Reads a big-endian integer column of 2, 4 or 8 bytes.
std::int64_t PgInteger(const PGresult* result, int row, int column);

}  // namespace selvane::gis
