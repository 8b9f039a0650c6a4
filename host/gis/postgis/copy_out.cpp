// Copies of rows out of the server, one or several at once, each on a connection of its own.

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <string_view>
#include <vector>

#include "gis/postgis/connection.h"

namespace selvane::gis {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

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

}  // namespace selvane::gis
