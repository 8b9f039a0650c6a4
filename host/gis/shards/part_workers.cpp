#include "gis/shards/part_workers.h"

#include <system_error>

namespace selvane::gis {

PartWorkers::~PartWorkers() {
    for (auto& thread : m_threads) thread.request_stop();
    m_wake.notify_all();
}

void PartWorkers::RunEach(std::size_t parts, const std::function<void(std::size_t)>& work) {
    if (parts == 0) return;
    const std::lock_guard running(m_running);
    while (m_threads.size() + 1 < parts) {
        try {
            const std::size_t part = m_threads.size() + 1;
            // A new thread takes the rounds from the next one on.
            const std::uint64_t seen = m_round;
            m_threads.emplace_back([this, part, seen](std::stop_token stop) { Work(stop, part, seen); });
        } catch (const std::system_error&) {
            break;  // the parts without a thread are worked here
        }
    }
    const std::size_t threaded = std::min(m_threads.size(), parts - 1);
    {
        const std::lock_guard lock(m_mutex);
        m_work = &work;
        m_parts = parts;
        m_pending = threaded;
        ++m_round;
    }
    m_wake.notify_all();
    work(0);
    for (std::size_t part = threaded + 1; part < parts; ++part) work(part);
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_pending == 0; });
    m_work = nullptr;
}

void PartWorkers::Work(std::stop_token stop, std::size_t part, std::uint64_t seen) {
    std::unique_lock lock(m_mutex);
    while (true) {
        if (!m_wake.wait(lock, stop, [&] { return m_round != seen; })) return;
        seen = m_round;
        if (part >= m_parts) continue;  // a round of fewer parts
        const auto* work = m_work;
        lock.unlock();
        (*work)(part);
        lock.lock();
        if (--m_pending == 0) m_done.notify_one();
    }
}

}  // namespace selvane::gis
