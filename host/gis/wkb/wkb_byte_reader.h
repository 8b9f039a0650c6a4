#pragma once

// Reading the fields of well-known binary one part at a time, never past its end: for the
// walks that check outside bytes, and for what reads bytes those walks have checked.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "gis/wkb/wkb_types.h"

namespace selvane::gis {

// Reads fields of one part in that part's byte order, never past the end.
class ByteReader {
public:
    ByteReader(const unsigned char* bytes, std::size_t size) : m_bytes(bytes), m_size(size) {}

    std::size_t Position() const { return m_position; }
    std::size_t Left() const { return m_size - m_position; }

    void SetOrder(unsigned char order) {
        if (order > 1) {
            throw ShapeBytesFault("byte order " + std::to_string(order) + " at byte " + std::to_string(m_position - 1) +
                                  " (WKB knows 0, big-endian, and 1, little-endian)");
        }
        m_little = order == 1;
    }
    unsigned char Byte(const char* what) {
        Need(1, what);
        return m_bytes[m_position++];
    }
    std::uint32_t Word(const char* what) {
        Need(4, what);
        const unsigned char* at = m_bytes + m_position;
        m_position += 4;
        return m_little ? (std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
                           std::uint32_t{at[3]} << 24)
                        : (std::uint32_t{at[3]} | std::uint32_t{at[2]} << 8 | std::uint32_t{at[1]} << 16 |
                           std::uint32_t{at[0]} << 24);
    }
    double Double() {
        Need(8, "a coordinate");
        std::uint64_t bits;
        std::memcpy(&bits, m_bytes + m_position, sizeof bits);
        if (m_little != (std::endian::native == std::endian::little)) bits = __builtin_bswap64(bits);
        m_position += 8;
        return std::bit_cast<double>(bits);
    }
    void Skip(std::size_t count, const char* what) {
        Need(count, what);
        m_position += count;
    }
    /// A count of items of at least `item_bytes` each, checked against the bytes left.
    std::uint32_t Count(std::size_t item_bytes, const char* items) {
        const std::uint32_t count = Word(items);
        if (item_bytes > 0 && count > Left() / item_bytes) {
            throw ShapeBytesFault("a count of " + std::to_string(count) + " " + items + " at byte " +
                                  std::to_string(m_position - 4) + ", where " + std::to_string(Left()) +
                                  " bytes remain");
        }
        return count;
    }

private:
    void Need(std::size_t count, const char* what) const {
        if (count > Left()) {
            throw ShapeBytesFault(std::string("truncated: ") + what + " at byte " + std::to_string(m_position) +
                                  " needs " + std::to_string(count) + " bytes, " + std::to_string(Left()) +
                                  " remain");
        }
    }

    const unsigned char* m_bytes;
    std::size_t m_size;
    std::size_t m_position = 0;
    bool m_little = true;
};

}  // namespace selvane::gis
