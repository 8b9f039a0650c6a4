#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace selvane::gis {

/// The selected rows of one layer: a bit a row, so that Add costs a few instructions and
/// a feature added again is kept once.
class SelectionSet {
public:
    /// Grows with the rows added, so that a layer whose rows are not read yet holds none.
    SelectionSet() = default;
    void Add(std::size_t row) {
        if ((row >> 6) >= m_bits.size()) m_bits.resize((row >> 6) + 1, 0);
        auto& word = m_bits[row >> 6];
        const std::uint64_t bit = std::uint64_t{1} << (row & 63);
        m_count += (word & bit) == 0;
        word |= bit;
    }
    bool Contains(std::size_t row) const {
        return (row >> 6) < m_bits.size() && ((m_bits[row >> 6] >> (row & 63)) & 1);
    }
    std::size_t Count() const { return m_count; }
    /// Calls `visit` with each selected row, ascending.
    template <typename Visit>
    void ForEachRow(Visit&& visit) const {
        for (std::size_t word = 0; word < m_bits.size(); ++word) {
            for (std::uint64_t bits = m_bits[word]; bits != 0; bits &= bits - 1) {
                visit((word << 6) + static_cast<std::size_t>(std::countr_zero(bits)));
            }
        }
    }
    void Clear() {
        std::fill(m_bits.begin(), m_bits.end(), 0);
        m_count = 0;
    }

private:
    std::vector<std::uint64_t> m_bits;
    std::size_t m_count = 0;
};

}  // namespace selvane::gis
