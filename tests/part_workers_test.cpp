// The threads kept for the parts of a spread table run every part of a round at once, each
// once, and rounds of more or fewer parts in any order.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "gis/shards/part_workers.h"

namespace selvane::testing {
namespace {

TEST(PartWorkers, EveryPartOfARoundRunsOnceAndAllAtOnce) {
    gis::PartWorkers workers;
    // None, one, a few, more, then fewer again: threads kept from a larger round sit out.
    for (const std::size_t parts : {0u, 1u, 3u, 2u, 5u, 1u, 4u, 4u}) {
        SCOPED_TRACE(std::to_string(parts) + " parts");
        std::vector<std::atomic<int>> calls(parts);
        std::mutex mutex;
        std::condition_variable all_started;
        std::size_t started = 0;
        std::set<std::thread::id> threads;
        bool together = true;
        workers.RunEach(parts, [&](std::size_t part) {
            ++calls[part];
            std::unique_lock lock(mutex);
            threads.insert(std::this_thread::get_id());
            ++started;
            all_started.notify_all();
            // Each part waits for the others: parts run one after another would wait in vain.
            together = all_started.wait_for(lock, std::chrono::seconds(20), [&] { return started == parts; }) && together;
        });
        EXPECT_TRUE(together);
        for (std::size_t part = 0; part < parts; ++part) EXPECT_EQ(calls[part], 1) << part;
        EXPECT_EQ(threads.size(), parts);
    }
}

}  // namespace
}  // namespace selvane::testing
