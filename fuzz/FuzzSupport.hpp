#pragma once

// What the fuzz targets share: a failed property aborts (libFuzzer then keeps the input), and
// the input read as a stream of small values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace quenlitor::fuzz {

inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The fuzzer's bytes, read front to back; past the end every read gives zeros.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_at >= m_size; }
    std::uint8_t next() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint16_t twelveBits() { return static_cast<std::uint16_t>((next() << 8 | next()) & 0xFFF); }
    std::int64_t integer() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = value << 8 | next();
        }
        return static_cast<std::int64_t>(value);
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

} // namespace quenlitor::fuzz
