#pragma once

// Work split over the cores: consecutive slices of rows, one a thread, the calling thread
// taking the first.

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

namespace selvane::gis {

/// The number of threads worth using for `count` items of which `minimum` make a thread
/// worth its start: 1 below that, the machine's cores (at most 8) above it.
inline std::size_t ThreadsFor(std::size_t count, std::size_t minimum) {
    if (count < minimum) return 1;
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
}

/// Calls `work(slot, begin, end)` for `threads` consecutive slices of [0, count), each on a
/// thread of its own, and returns when all are done.
template <typename Work>
void InSlices(std::size_t count, std::size_t threads, Work&& work) {
    const auto bound = [&](std::size_t slot) { return count * slot / threads; };
    std::vector<std::thread> helpers;
    for (std::size_t slot = 1; slot < threads; ++slot) {
        helpers.emplace_back([&work, slot, begin = bound(slot), end = bound(slot + 1)] { work(slot, begin, end); });
    }
    work(std::size_t{0}, bound(0), bound(1));
    for (auto& helper : helpers) helper.join();
}

}  // namespace selvane::gis
