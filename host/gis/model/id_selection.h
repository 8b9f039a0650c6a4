#pragma once

#include <cstdint>
#include <roaring/roaring.hh>
#include <roaring/roaring64map.hh>

namespace selvane::gis {

/// A selection held as object ids, for tables whose rows are not in memory: compressed
/// bitmaps (Roaring), so that fifty million ids take a few megabytes when they are dense,
/// adding one costs a few instructions whatever the order, and the count is a sum over
/// their blocks.
class IdSelection {
public:
    void Add(std::int64_t id) {
        // Ids from 0 to 2^32 - 1 (nearly every table's) go to a bitmap of their own: the
        // 64-bit map would look its part up twice on every add.
        if (InFirstBlock(id)) {
            m_first_block.add(static_cast<std::uint32_t>(id));
        } else {
            m_others.add(Key(id));
        }
    }
    bool Contains(std::int64_t id) const {
        return InFirstBlock(id) ? m_first_block.contains(static_cast<std::uint32_t>(id)) : m_others.contains(Key(id));
    }
    std::uint64_t Count() const { return m_first_block.cardinality() + m_others.cardinality(); }
    void Clear() {
        m_first_block = Roaring();
        m_others = Roaring64Map();
    }
    /// Calls `visit` with each id, ascending.
    template <typename Visit>
    void ForEachId(Visit&& visit) const {
        bool first_block_done = false;
        const auto visit_first_block = [&] {
            for (const std::uint32_t low : m_first_block) visit(static_cast<std::int64_t>(low));
            first_block_done = true;
        };
        for (auto key = m_others.begin(); key != m_others.end(); ++key) {
            const std::int64_t id = Id(*key);
            if (!first_block_done && id > 0) visit_first_block();  // only negative ids come before it
            visit(id);
        }
        if (!first_block_done) visit_first_block();
    }

private:
    static bool InFirstBlock(std::int64_t id) { return id >= 0 && id <= std::int64_t{0xFFFFFFFF}; }
    // Negative ids sort first: the sign bit flipped keeps the order of signed ids.
    static std::uint64_t Key(std::int64_t id) { return static_cast<std::uint64_t>(id) ^ (std::uint64_t{1} << 63); }
    static std::int64_t Id(std::uint64_t key) { return static_cast<std::int64_t>(key ^ (std::uint64_t{1} << 63)); }

    Roaring m_first_block;
    Roaring64Map m_others;
};

}  // namespace selvane::gis
