#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "gis/support/byte_blocks.h"
#include "gis/geometry/geos_include.h"

namespace selvane::gis {

/// The shapes of a table kept as their well-known binary, packed in large blocks. A GEOS
/// shape costs three to five times its WKB, and most rows of a search are never more than
/// an envelope in the index: a GEOS shape is made from the bytes for whoever needs one.
///
/// The bytes must be WKB that GEOS has read once already (a reader's checked blob, or
/// what GEOS wrote), so that reading them again gives the same shape.
class StoredShapes {
public:
    /// The next row's shape: `size` bytes of WKB at `wkb`.
    void Add(const unsigned char* wkb, std::size_t size);
    /// The next row's shape, written from `shape`.
    void Add(const geos::geom::Geometry& shape);
    /// The next row, without a shape.
    void AddNone() {
        m_at.push_back(nullptr);
        m_sizes.push_back(0);
    }
    /// The rows of `more` after these; `more` is left empty.
    void Append(StoredShapes&& more);
    /// Room for `rows` rows in all.
    void Reserve(std::size_t rows) {
        m_at.reserve(rows);
        m_sizes.reserve(rows);
    }

    std::size_t Rows() const { return m_at.size(); }
    /// Asks the processor for where the row's bytes lie, ahead of reading them.
    void PrefetchRow(std::size_t row) const {
        if (row >= m_at.size()) return;
        __builtin_prefetch(&m_at[row]);
        __builtin_prefetch(&m_sizes[row]);
    }
    /// Asks the processor for the row's first bytes, ahead of reading them.
    void PrefetchBytes(std::size_t row) const {
        if (row < m_at.size() && m_at[row]) __builtin_prefetch(m_at[row]);
    }
    bool Has(std::size_t row) const { return m_at[row] != nullptr; }
    std::span<const unsigned char> Bytes(std::size_t row) const { return {m_at[row], m_sizes[row]}; }
    /// The row's shape read from its bytes: a new GEOS shape for each call (nullptr for a
    /// row without one). Safe on several threads at once.
    std::unique_ptr<geos::geom::Geometry> Make(std::size_t row) const;

private:
    ByteBlocks m_blocks;
    std::vector<const unsigned char*> m_at;  // null: no shape
    std::vector<std::uint32_t> m_sizes;
};

}  // namespace selvane::gis
