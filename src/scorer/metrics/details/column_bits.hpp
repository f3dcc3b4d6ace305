// A set of up to 256 column bits as one value, for the one-pass counts
// (pair_counts.hpp): a plain word for one word of columns, an array of
// words beyond, both with the same few operations, so that the counting
// loop is written once. (A 128-bit integer for two words would be shorter
// still, but GCC moves its halves through memory around every carry.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scorer/metrics/bit_count.hpp"
#include "scorer/metrics/lcs.hpp"

namespace tallygrams::scorer::detail {

template <size_t W>
struct WordArray {
    uint64_t word[W];

    friend WordArray operator&(WordArray a, const WordArray& b) noexcept {
        for (size_t k = 0; k < W; ++k) a.word[k] &= b.word[k];
        return a;
    }
    friend WordArray operator|(WordArray a, const WordArray& b) noexcept {
        for (size_t k = 0; k < W; ++k) a.word[k] |= b.word[k];
        return a;
    }
    friend WordArray operator^(WordArray a, const WordArray& b) noexcept {
        for (size_t k = 0; k < W; ++k) a.word[k] ^= b.word[k];
        return a;
    }
    friend WordArray operator~(WordArray a) noexcept {
        for (size_t k = 0; k < W; ++k) a.word[k] = ~a.word[k];
        return a;
    }
    // One unbroken chain of add-with-carry instructions. Written out for
    // x86-64: GCC passes the carry intrinsic's result through memory.
    friend WordArray operator+(WordArray a, const WordArray& b) noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
        if constexpr (W == 2) {
            asm("add %[b0], %[a0]\n\tadc %[b1], %[a1]"
                : [a0] "+r"(a.word[0]), [a1] "+r"(a.word[1])
                : [b0] "r"(b.word[0]), [b1] "r"(b.word[1])
                : "cc");
            return a;
        } else if constexpr (W == 3) {
            asm("add %[b0], %[a0]\n\tadc %[b1], %[a1]\n\tadc %[b2], %[a2]"
                : [a0] "+r"(a.word[0]), [a1] "+r"(a.word[1]), [a2] "+r"(a.word[2])
                : [b0] "r"(b.word[0]), [b1] "r"(b.word[1]), [b2] "r"(b.word[2])
                : "cc");
            return a;
        } else if constexpr (W == 4) {
            asm("add %[b0], %[a0]\n\tadc %[b1], %[a1]\n\tadc %[b2], %[a2]\n\tadc %[b3], %[a3]"
                : [a0] "+r"(a.word[0]), [a1] "+r"(a.word[1]), [a2] "+r"(a.word[2]), [a3] "+r"(a.word[3])
                : [b0] "r"(b.word[0]), [b1] "r"(b.word[1]), [b2] "r"(b.word[2]), [b3] "r"(b.word[3])
                : "cc");
            return a;
        }
#endif
        WordArray sum;
        uint8_t carry = 0;
        for (size_t k = 0; k < W; ++k) carry = add_with_carry(carry, a.word[k], b.word[k], sum.word[k]);
        return sum;
    }
};

template <size_t W>
struct ColumnBitsOf {
    using type = WordArray<W>;
};
template <>
struct ColumnBitsOf<1> {
    using type = uint64_t;
};

template <size_t W>
using ColumnBits = typename ColumnBitsOf<W>::type;

template <class Bits>
Bits load_bits(const uint64_t* words) noexcept {
    Bits bits;
    std::memcpy(&bits, words, sizeof bits);  // little-endian words, lowest first
    return bits;
}

template <class Bits>
Bits all_bits() noexcept {
    return ~Bits{};
}

// The lowest set bit (0 if none): x & -x.
inline uint64_t lowest_bit(uint64_t x) noexcept { return x & (uint64_t{0} - x); }
template <size_t W>
WordArray<W> lowest_bit(const WordArray<W>& x) noexcept {
    WordArray<W> lowest;
    uint64_t none_below = ~uint64_t{0};  // all ones while no lower word had a bit
    for (size_t k = 0; k < W; ++k) {
        lowest.word[k] = (x.word[k] & (uint64_t{0} - x.word[k])) & none_below;
        none_below &= uint64_t{0} - static_cast<uint64_t>(x.word[k] == 0);
    }
    return lowest;
}

// Every bit moved up by one place, the top one dropped.
inline uint64_t shifted_up(uint64_t x) noexcept { return x << 1; }
template <size_t W>
WordArray<W> shifted_up(const WordArray<W>& x) noexcept {
    WordArray<W> moved;
    for (size_t k = 0; k < W; ++k) moved.word[k] = (x.word[k] << 1) | (k > 0 ? x.word[k - 1] >> 63 : 0);
    return moved;
}

// The number of set bits among the lowest `valid` (at most 64 * W).
template <class Bits>
uint64_t count_bits(const Bits& x, size_t valid) noexcept {
    uint64_t words[sizeof(Bits) / 8];
    std::memcpy(words, &x, sizeof words);
    uint64_t count = 0;
    for (size_t k = 0; k < sizeof words / 8; ++k) {
        const size_t bits = valid > 64 * k ? valid - 64 * k : 0;
        const uint64_t kept = bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
        count += bit_count(words[k] & kept);
    }
    return count;
}

}  // namespace tallygrams::scorer::detail
