#pragma once

// Work split over the cores: consecutive slices of rows, one a thread, the calling thread
// taking the first.

#include <algorithm>
#include <cstddef>
#include <system_error>
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
/// thread of its own, and returns when all are done. `work` must not throw on a helper
/// thread; the calling thread's slices may, and then every helper is joined first. When
/// the system gives no more threads, the calling thread works the slices left over.
template <typename Work>
void InSlices(std::size_t count, std::size_t threads, Work&& work) {
    const auto bound = [&](std::size_t slot) { return count * slot / threads; };
    std::vector<std::jthread> helpers;  // joined on every way out
    helpers.reserve(threads);
    std::size_t started = 1;
    for (; started < threads; ++started) {
        try {
            helpers.emplace_back([&work, slot = started, begin = bound(started), end = bound(started + 1)] {
                work(slot, begin, end);
            });
        } catch (const std::system_error&) {
            break;
        }
    }
    work(std::size_t{0}, bound(0), bound(1));
    for (std::size_t slot = started; slot < threads; ++slot) work(slot, bound(slot), bound(slot + 1));
}

}  // namespace selvane::gis
