#pragma once

// Statements whose results are read after they are sent: rows streamed one at a time, and
// a whole result taken later while the server works.

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "gis/postgis/connection.h"

namespace selvane::gis {

/// The rows of one prepared statement, read from the server one at a time so that a
/// large answer is never held whole. Another statement on the same connection first
/// reads the rest of the rows into memory.
class PgStream : public PgPending {
public:
    /// Starts the statement; its failure, if any, comes with Next.
    PgStream(std::shared_ptr<PgConnection> connection, const std::string& statement,
             const std::vector<PgParameter>& parameters);

    /// The next row (binary columns), or nullptr at the end; valid until the next call.
    /// Throws platform::Error with the server's words when the statement fails.
    const PGresult* Next();

private:
    void ReadRest() override;
    void GaveUp() override;
    PgResult Receive();

    PgResult m_current{nullptr, PQclear};
    std::vector<PgResult> m_buffered;
    std::size_t m_next_buffered = 0;
    std::string m_failure;
};

/// A statement sent ahead and its whole result taken later, so that the server works on
/// it while the caller does something else. Another statement on the same connection
/// first waits for it and keeps its result here; one dropped untaken is read out.
class PgSentStatement : public PgPending {
public:
    /// Sends `sql` (no parameters); results in binary when `binary_result`.
    PgSentStatement(std::shared_ptr<PgConnection> connection, const std::string& sql, bool binary_result);

    /// The result, waited for if it has not come; throws platform::Error as
    /// PgConnection::Execute would have for the statement.
    PgResult Take();
    /// Reads what has arrived, without waiting: the server writes a large result only as
    /// fast as the client reads it.
    void Receive();

private:
    void ReadRest() override;
    void GaveUp() override;

    PgResult m_result{nullptr, PQclear};
    std::exception_ptr m_failure;
};

}  // namespace selvane::gis
