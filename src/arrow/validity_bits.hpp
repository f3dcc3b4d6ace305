// Reading Arrow validity bitmaps: bit i (least significant bit first within
// each byte) is set when row i holds a value, clear when it is null.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tallygrams::arrow {

inline bool bit_is_set(const uint8_t* bits, size_t i) noexcept { return (bits[i >> 3] >> (i & 7)) & 1u; }

// The number of set bits among bits [first, first + count).
inline size_t count_set_bits(const uint8_t* bits, size_t first, size_t count) noexcept {
    size_t set = 0;
    size_t i = first;
    const size_t end = first + count;
    for (; i < end && (i & 7) != 0; ++i) set += bit_is_set(bits, i);
    for (; end - i >= 64; i += 64) {
        uint64_t word;
        std::memcpy(&word, bits + i / 8, sizeof word);
        set += static_cast<size_t>(std::popcount(word));
    }
    for (; i < end; ++i) set += bit_is_set(bits, i);
    return set;
}

}  // namespace tallygrams::arrow
