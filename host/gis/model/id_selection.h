#pragma once

#include <cstdint>
#include <roaring/roaring64map.hh>

namespace selvane::gis {

/// A selection held as object ids, for tables whose rows are not in memory: a compressed
/// bitmap (Roaring), so that fifty million ids take a few megabytes when they are dense,
/// adding one costs a few instructions whatever the order, and the count is a sum over
/// its blocks.
class IdSelection {
public:
    void Add(std::int64_t id) { m_ids.add(Key(id)); }
    bool Contains(std::int64_t id) const { return m_ids.contains(Key(id)); }
    std::uint64_t Count() const { return m_ids.cardinality(); }
    void Clear() { m_ids = Roaring64Map(); }
    /// Calls `visit` with each id, ascending.
    template <typename Visit>
    void ForEachId(Visit&& visit) const {
        for (auto key = m_ids.begin(); key != m_ids.end(); ++key) visit(Id(*key));
    }

private:
    // Negative ids sort first: the sign bit flipped keeps the order of signed ids.
    static std::uint64_t Key(std::int64_t id) { return static_cast<std::uint64_t>(id) ^ (std::uint64_t{1} << 63); }
    static std::int64_t Id(std::uint64_t key) { return static_cast<std::int64_t>(key ^ (std::uint64_t{1} << 63)); }

    Roaring64Map m_ids;
};

}  // namespace selvane::gis
