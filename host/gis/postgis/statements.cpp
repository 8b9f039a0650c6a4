#include "gis/postgis/statements.h"

#include "gis/postgis/parameter_arrays.h"

#include <utility>

namespace selvane::gis {

PgPending::PgPending(std::shared_ptr<PgConnection> connection) : m_connection(std::move(connection)) {}

PgPending::~PgPending() {
    if (m_receiving) Finish();
}

void PgPending::Sent() {
    m_receiving = true;
    m_connection->m_streaming = this;
}

void PgPending::Finish() {
    while (PGresult* rest = m_connection->NextResult()) PQclear(rest);
    m_receiving = false;
    if (m_connection->m_streaming == this) m_connection->m_streaming = nullptr;
}

void PgPending::Abandon() {
    if (!m_receiving) return;
    m_connection->DropResults();
    Finish();
    GaveUp();
}

PgStream::PgStream(std::shared_ptr<PgConnection> connection, const std::string& statement,
                   const std::vector<PgParameter>& parameters)
    : PgPending(std::move(connection)) {
    m_connection->EnsureTransaction();
    PGconn* handle = m_connection->m_connection;
    const ParameterArrays arrays(parameters);
    if (!PQsendQueryPrepared(handle, statement.c_str(), arrays.Count(), arrays.values.data(), arrays.lengths.data(),
                             arrays.formats.data(), 1)) {
        m_failure = m_connection->ServerMessage(nullptr);
        return;
    }
    PQsetSingleRowMode(handle);
    Sent();
}

PgResult PgStream::Receive() { return PgResult(m_connection->NextResult(), PQclear); }

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

void PgStream::GaveUp() {
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
    : PgPending(std::move(connection)) {
    m_connection->EnsureTransaction();
    if (!PQsendQueryParams(m_connection->m_connection, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr,
                           binary_result ? 1 : 0)) {
        m_failure = std::make_exception_ptr(
            platform::Error(platform::kFail, m_connection->m_named + ": " + m_connection->ServerMessage(nullptr)));
        return;
    }
    Sent();
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

void PgSentStatement::GaveUp() {
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

}  // namespace selvane::gis
