// Every wait on the server under the client's own clock, and results dropped without
// waiting for them.

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <string>

#include "gis/postgis/connection.h"

namespace selvane::gis {

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
        if (socket < 0) return false;
        int wait = -1;
        if (clocked) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                CloseUnanswered();
                return false;
            }
            wait = static_cast<int>(std::min<std::int64_t>(left, INT_MAX));
        }
        // Data, a hang-up or an error: each is for libpq to read.
        pollfd polled{socket, POLLIN, 0};
        const int ready = poll(&polled, 1, wait);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
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

}  // namespace selvane::gis
