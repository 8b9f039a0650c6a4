// Fuzz target: one row of a table of points read by ranges of its blocks, an array of
// points in the server's binary form. It may be refused with the reason; anything else is a
// fault.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "gis/postgis/point_array.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    double sum = 0;
    try {
        selvane::gis::ForEachPointInArray(std::string_view(reinterpret_cast<const char*>(data), size),
                                          [&sum](double x, double y) { sum += std::abs(x) + std::abs(y); });
    } catch (const selvane::platform::Error&) {
    }
    return sum < 0 ? 1 : 0;
}
