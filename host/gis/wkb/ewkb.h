#pragma once

// PostGIS's extended WKB (EWKB), as a server sends a column's shapes as they are kept,
// made into the plain WKB the rest of the program reads.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace selvane::gis {

/// The WKB of a 2D point from the server's EWKB of it (the byte order, the type 1, with
/// 0x20000000 set when an SRID follows, then x and y); nothing for bytes of any other form.
std::optional<std::array<unsigned char, 21>> PointWkbOfEwkb(const unsigned char* bytes, std::size_t size);

/// The WKB of a 2D shape from the server's EWKB of it: the same bytes, with the SRID the
/// first header may carry (type flag 0x20000000 and four bytes) taken out, into `scratch`
/// when there is one. Nothing when that header is not of a 2D point, line or polygon,
/// single or multi; the rest is checked as any WKB is.
std::optional<std::span<const unsigned char>> FlatWkbOfEwkb(const unsigned char* bytes, std::size_t size,
                                                            std::vector<unsigned char>& scratch);

}  // namespace selvane::gis
