#pragma once

// Arrays of points as the server sends them in binary: the reading of a table of points
// by ranges of its blocks, thousands of points a row.

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include "gis/postgis/connection.h"
#include "platform/error.h"

namespace selvane::gis {

/// PostgreSQL's type oid of `point`.
constexpr std::uint32_t kPointTypeOid = 600;

/// Calls `mark(x, y)` for each point of `bytes`, a one-dimensional array of points in the
/// server's binary form; NULL elements (empty points) are left out. Throws platform::Error
/// when the bytes are not such an array, before reading past them.
template <typename Mark>
void ForEachPointInArray(std::string_view bytes, Mark&& mark) {
    // Dimensions, a flag for NULLs, the element type, then for each dimension its length and
    // lower bound, then each element as its length (-1 for NULL) and its bytes: for a
    // point, x and y as float8.
    const auto malformed = [](const char* what) {
        return platform::Error(platform::kFail, std::string("the server sent an array of points that is not one: ") + what);
    };
    const auto take = [&](std::size_t count) {
        if (bytes.size() < count) throw malformed("it is cut short");
        const auto value = PgBigEndian(bytes.data(), count);
        bytes.remove_prefix(count);
        return value;
    };
    const auto dimensions = take(4);
    if (take(4) > 1) throw malformed("its flag for NULLs is neither 0 nor 1");
    if (take(4) != kPointTypeOid) throw malformed("its elements are not points");
    if (dimensions == 0) {
        if (!bytes.empty()) throw malformed("an empty array has more bytes");
        return;
    }
    if (dimensions != 1) throw malformed("it has more than one dimension");
    const auto count = take(4);
    take(4);  // the lower bound
    // Each element takes at least its length's 4 bytes: a count past that cannot be.
    if (count > bytes.size() / 4) throw malformed("it counts more elements than it holds");
    constexpr std::uint64_t kNull = 0xFFFFFFFF;
    for (std::uint64_t element = 0; element < count; ++element) {
        const auto length = take(4);
        if (length == kNull) continue;
        if (length != 16) throw malformed("a point is not two numbers");
        const double x = std::bit_cast<double>(take(8));
        const double y = std::bit_cast<double>(take(8));
        mark(x, y);
    }
    if (!bytes.empty()) throw malformed("it has bytes after its last element");
}

}  // namespace selvane::gis
