#pragma once

// Threads kept for the parts of a table spread over servers, so that every search runs its
// parts at once without starting a thread each time (a search of many points costs about
// as much as starting two threads).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace selvane::gis {

class PartWorkers {
public:
    PartWorkers() = default;
    ~PartWorkers();
    PartWorkers(const PartWorkers&) = delete;
    PartWorkers& operator=(const PartWorkers&) = delete;

    /// Calls `work(part)` for each part in [0, parts) at once, part 0 on the caller's
    /// thread and each other on a kept thread (on the caller's, after part 0, when no thread
    /// can be had), and returns when every call has returned. `work` must not throw. One
    /// caller at a time runs; another waits.
    void RunEach(std::size_t parts, const std::function<void(std::size_t)>& work);

private:
    void Work(std::stop_token stop, std::size_t part, std::uint64_t seen);

    std::mutex m_running;  // one RunEach at a time
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::condition_variable m_done;
    const std::function<void(std::size_t)>* m_work = nullptr;
    std::size_t m_parts = 0;     // of the current round
    std::uint64_t m_round = 0;   // counts the rounds, so that a thread takes each once
    std::size_t m_pending = 0;   // kept threads still at work in the round
    std::vector<std::jthread> m_threads;  // thread i works part i + 1
};

}  // namespace selvane::gis
