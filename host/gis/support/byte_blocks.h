#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace selvane::gis {

/// Bytes copied into large blocks that never move: what a vector grown by appending costs
/// (up to twice its size, and a copy of everything at each growth) is too much for the
/// shapes of a table. Blocks grow from 64 KiB to 4 MiB, so that a small table stays small;
/// a copy larger than a block gets a block of its own. Throws std::bad_alloc when no
/// memory is left.
class ByteBlocks {
public:
    static constexpr std::size_t kFirstBlockSize = std::size_t{64} << 10;
    static constexpr std::size_t kBlockSize = std::size_t{4} << 20;

    /// A copy of `size` bytes at `data`, valid until its block is released.
    const unsigned char* Copy(const unsigned char* data, std::size_t size) {
        if (size > m_left) {
            const std::size_t grown = kFirstBlockSize << std::min<std::size_t>(m_blocks.size(), 6);
            const std::size_t block = std::max(size, std::min(grown, kBlockSize));
            auto* bytes = static_cast<unsigned char*>(std::malloc(block));
            if (!bytes) throw std::bad_alloc();
            m_blocks.push_back({Bytes(bytes), block});
            m_free = bytes;
            m_left = block;
        }
        unsigned char* copy = m_free;
        if (size > 0) std::memcpy(copy, data, size);
        m_free += size;
        m_left -= size;
        return copy;
    }

    /// Takes over the blocks of `other`, whose copies stay where they are; `other` is left empty.
    void Adopt(ByteBlocks&& other) {
        m_blocks.reserve(m_blocks.size() + other.m_blocks.size());
        for (auto& block : other.m_blocks) m_blocks.push_back(std::move(block));
        other.m_blocks.clear();
        other.m_free = nullptr;
        other.m_left = 0;
    }

    std::size_t BlockCount() const { return m_blocks.size(); }
    /// Whether `at` lies in block `block`.
    bool InBlock(std::size_t block, const unsigned char* at) const {
        const auto* begin = m_blocks[block].bytes.get();
        return begin && at >= begin && at < begin + m_blocks[block].size;
    }
    /// Frees block `block`; the copies in it are gone.
    void Release(std::size_t block) { m_blocks[block].bytes.reset(); }

private:
    struct Free {
        void operator()(unsigned char* bytes) const { std::free(bytes); }
    };
    using Bytes = std::unique_ptr<unsigned char, Free>;
    struct Block {
        Bytes bytes;
        std::size_t size = 0;
    };
    std::vector<Block> m_blocks;
    unsigned char* m_free = nullptr;
    std::size_t m_left = 0;
};

}  // namespace selvane::gis
