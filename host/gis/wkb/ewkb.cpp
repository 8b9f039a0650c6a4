#include "gis/wkb/ewkb.h"

#include <cstdint>
#include <cstring>

namespace selvane::gis {
namespace {

// The first header of (E)WKB: a byte order, then a type of four bytes in that order.
constexpr std::size_t kWkbHeader = 1 + 4;
// The EWKB type's flag of an SRID, whose four bytes follow the header.
constexpr std::uint32_t kWithSrid = 0x20000000;

// The type of the first header, read in its byte order; nothing when there is none.
std::optional<std::uint32_t> WkbTypeOf(const unsigned char* bytes, std::size_t size) {
    if (size < kWkbHeader || bytes[0] > 1) return std::nullopt;
    const bool little = bytes[0] == 1;
    std::uint32_t type = 0;
    for (int index = 0; index < 4; ++index) {
        type |= static_cast<std::uint32_t>(bytes[1 + index]) << (8 * (little ? index : 3 - index));
    }
    return type;
}

}  // namespace

std::optional<std::array<unsigned char, 21>> PointWkbOfEwkb(const unsigned char* bytes, std::size_t size) {
    constexpr std::size_t kPoint = kWkbHeader + 16;
    const auto type = WkbTypeOf(bytes, size);
    if (!type || size < kPoint) return std::nullopt;
    const bool little = bytes[0] == 1;
    const std::size_t srid = *type == (kWithSrid | 1) ? 4 : 0;
    if ((*type != 1 && srid == 0) || size != kPoint + srid) return std::nullopt;
    std::array<unsigned char, kPoint> wkb{};
    wkb[0] = bytes[0];
    wkb[little ? 1 : 4] = 1;
    std::memcpy(wkb.data() + 5, bytes + 5 + srid, 16);
    return wkb;
}

std::optional<std::span<const unsigned char>> FlatWkbOfEwkb(const unsigned char* bytes, std::size_t size,
                                                            std::vector<unsigned char>& scratch) {
    const auto type = WkbTypeOf(bytes, size);
    if (!type) return std::nullopt;
    // Points, lines and polygons, single or multi, without Z or M (flags or ISO codes).
    const std::uint32_t base = *type & ~kWithSrid;
    if (base < 1 || base > 6) return std::nullopt;
    if (base == *type) return std::span(bytes, size);
    if (size < kWkbHeader + 4) return std::nullopt;
    // The header again without the flag, in its byte order (the base type is its low byte).
    scratch.assign(bytes, bytes + kWkbHeader);
    scratch[1] = scratch[4] = 0;
    scratch[bytes[0] == 1 ? 1 : 4] = static_cast<unsigned char>(base);
    scratch.insert(scratch.end(), bytes + kWkbHeader + 4, bytes + size);
    return std::span<const unsigned char>(scratch);
}

}  // namespace selvane::gis
