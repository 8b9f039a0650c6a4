#include "gis/memory/row_index.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "gis/support/slices.h"

namespace selvane::gis {
namespace {

// The bits of `value` spread to the even bits of the result.
std::uint32_t Spread(std::uint32_t value) {
    value &= 0xFFFF;
    value = (value | (value << 8)) & 0x00FF00FF;
    value = (value | (value << 4)) & 0x0F0F0F0F;
    value = (value | (value << 2)) & 0x33333333;
    value = (value | (value << 1)) & 0x55555555;
    return value;
}

// The place of the cell (x, y) of a 65536 x 65536 grid on a Hilbert curve through it,
// worked out for all 16 levels at once with bit operations (the method of "Fast Hilbert
// curve generation", rawrunprotected.com): runs of points along it stay closer together
// than along a Z-curve, so the boxes over them are smaller.
std::uint32_t HilbertPlace(std::uint32_t x, std::uint32_t y) {
    std::uint32_t a = x ^ y;
    std::uint32_t b = 0xFFFF ^ a;
    std::uint32_t c = 0xFFFF ^ (x | y);
    std::uint32_t d = x & (y ^ 0xFFFF);
    std::uint32_t A = a | (b >> 1);
    std::uint32_t B = (a >> 1) ^ a;
    std::uint32_t C = ((c >> 1) ^ (b & (d >> 1))) ^ c;
    std::uint32_t D = ((a & (c >> 1)) ^ (d >> 1)) ^ d;

    a = A, b = B, c = C, d = D;
    A = (a & (a >> 2)) ^ (b & (b >> 2));
    B = (a & (b >> 2)) ^ (b & ((a ^ b) >> 2));
    C ^= (a & (c >> 2)) ^ (b & (d >> 2));
    D ^= (b & (c >> 2)) ^ ((a ^ b) & (d >> 2));

    a = A, b = B, c = C, d = D;
    A = (a & (a >> 4)) ^ (b & (b >> 4));
    B = (a & (b >> 4)) ^ (b & ((a ^ b) >> 4));
    C ^= (a & (c >> 4)) ^ (b & (d >> 4));
    D ^= (b & (c >> 4)) ^ ((a ^ b) & (d >> 4));

    a = A, b = B, c = C, d = D;
    C ^= (a & (c >> 8)) ^ (b & (d >> 8));
    D ^= (b & (c >> 8)) ^ ((a ^ b) & (d >> 8));

    a = C ^ (C >> 1);
    b = D ^ (D >> 1);
    const std::uint32_t i0 = x ^ y;
    const std::uint32_t i1 = b | (0xFFFF ^ (i0 | a));
    return (Spread(i1) << 1) | Spread(i0);
}

}  // namespace

RowIndex::RowIndex(std::size_t rows)
    : m_tree(std::make_unique<geos::index::strtree::TemplateSTRtree<std::size_t>>(10, rows)) {}

RowIndex::RowIndex(std::span<const PlainPoint> points, const std::function<bool(std::size_t)>& indexed) {
    if (points.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("an index of over 4 billion points");
    }
    // Each step below works on consecutive slices of rows, a core each; the slices of a
    // step are the same on every call, so a slice's counts say where its rows go.
    const std::size_t threads = ThreadsFor(points.size(), kPointsPerThread);
    struct Slice {
        std::size_t count = 0;
        std::size_t offset = 0;  // of the slice's first indexed row among all of them
        double min_x = 0, max_x = 0, min_y = 0, max_y = 0;
    };
    std::vector<Slice> slices(threads);
    InSlices(points.size(), threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
        auto& slice = slices[slot];
        for (std::size_t row = begin; row < end; ++row) {
            if (indexed && !indexed(row)) continue;
            const auto& point = points[row];
            if (slice.count++ == 0) {
                slice.min_x = slice.max_x = point.x;
                slice.min_y = slice.max_y = point.y;
            }
            slice.min_x = std::min(slice.min_x, point.x);
            slice.max_x = std::max(slice.max_x, point.x);
            slice.min_y = std::min(slice.min_y, point.y);
            slice.max_y = std::max(slice.max_y, point.y);
        }
    });
    std::size_t count = 0;
    double min_x = 0, max_x = 0, min_y = 0, max_y = 0;
    for (auto& slice : slices) {
        if (slice.count == 0) continue;
        if (count == 0) {
            min_x = slice.min_x, max_x = slice.max_x, min_y = slice.min_y, max_y = slice.max_y;
        }
        min_x = std::min(min_x, slice.min_x);
        max_x = std::max(max_x, slice.max_x);
        min_y = std::min(min_y, slice.min_y);
        max_y = std::max(max_y, slice.max_y);
        slice.offset = count;
        count += slice.count;
    }
    if (count == 0) return;
    // The order only groups near points together; the boxes are of the points themselves,
    // so a point's place on the curve never hides it from a query.
    const double scale_x = max_x > min_x ? 65535.0 / (max_x - min_x) : 0;
    const double scale_y = max_y > min_y ? 65535.0 / (max_y - min_y) : 0;
    // A point's place on the curve in the high half, its row in the low: sorted by the
    // high half, four passes of eight bits.
    std::vector<std::uint64_t, Uninitialised<std::uint64_t>> keyed(count), sorted(count);
    InSlices(points.size(), threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
        std::size_t at = slices[slot].offset;
        for (std::size_t row = begin; row < end; ++row) {
            if (indexed && !indexed(row)) continue;
            const auto x = static_cast<std::uint32_t>((points[row].x - min_x) * scale_x);
            const auto y = static_cast<std::uint32_t>((points[row].y - min_y) * scale_y);
            keyed[at++] = std::uint64_t{HilbertPlace(x, y)} << 32 | row;
        }
    });
    // Each pass counts the digits of each slice of keys, then moves each slice's keys to
    // where the keys of lower digits and of the same digit in earlier slices end: the sort
    // stays stable, as one thread's would be.
    const std::size_t sort_threads = ThreadsFor(count, kPointsPerThread);
    std::vector<std::array<std::size_t, 256>> starts(sort_threads);
    for (int shift = 32; shift < 64; shift += 8) {
        InSlices(count, sort_threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
            auto& counted = starts[slot];
            counted.fill(0);
            for (std::size_t index = begin; index < end; ++index) ++counted[(keyed[index] >> shift) & 0xFF];
        });
        std::size_t total = 0;
        for (std::size_t digit = 0; digit < 256; ++digit) {
            for (auto& counted : starts) {
                const std::size_t here = counted[digit];
                counted[digit] = total;
                total += here;
            }
        }
        InSlices(count, sort_threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
            auto& next = starts[slot];
            for (std::size_t index = begin; index < end; ++index) {
                const auto key = keyed[index];
                sorted[next[(key >> shift) & 0xFF]++] = key;
            }
        });
        keyed.swap(sorted);
    }
    sorted = {};
    m_points.resize(count);
    InSlices(count, sort_threads, [&](std::size_t, std::size_t begin, std::size_t end) {
        for (std::size_t index = begin; index < end; ++index) {
            const std::size_t row = keyed[index] & 0xFFFFFFFF;
            m_points[index] = {points[row].x, points[row].y, row};
        }
    });
    keyed = {};
    // The boxes of runs of kNode points, then of runs of kNode boxes, up to one level of at
    // most kNode boxes.
    m_levels = {0};
    m_boxes.reserve(count / (kNode - 1) + kNode);
    std::size_t below = count;
    for (std::size_t level = 0; level == 0 || below > kNode; ++level) {
        const std::size_t nodes = (below + kNode - 1) / kNode;
        const std::size_t first_below = level == 0 ? 0 : m_levels[level - 1];
        for (std::size_t node = 0; node < nodes; ++node) {
            Box box{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                    -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
            const std::size_t end = std::min((node + 1) * kNode, below);
            for (std::size_t child = node * kNode; child < end; ++child) {
                if (level == 0) {
                    const auto& point = m_points[child];
                    box = {std::min(box.min_x, point.x), std::min(box.min_y, point.y), std::max(box.max_x, point.x),
                           std::max(box.max_y, point.y)};
                } else {
                    const Box& inner = m_boxes[first_below + child];
                    box = {std::min(box.min_x, inner.min_x), std::min(box.min_y, inner.min_y),
                           std::max(box.max_x, inner.max_x), std::max(box.max_y, inner.max_y)};
                }
            }
            m_boxes.push_back(box);
        }
        m_levels.push_back(m_boxes.size());
        below = nodes;
    }
}

geos::geom::Envelope RowIndex::Extent() const {
    if (m_tree) {
        const auto* root = m_tree->getRoot();
        return root ? root->getBounds() : geos::geom::Envelope();
    }
    geos::geom::Envelope extent;
    if (m_points.empty()) return extent;
    const std::size_t top = m_levels.size() - 2;
    for (std::size_t index = 0; index < LevelSize(top); ++index) {
        const Box& box = m_boxes[m_levels[top] + index];
        extent.expandToInclude(geos::geom::Envelope(box.min_x, box.max_x, box.min_y, box.max_y));
    }
    return extent;
}

}  // namespace selvane::gis
