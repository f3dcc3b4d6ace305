// Bit vectors of a few machine words, with an addition that carries across
// the words: the row vectors of the bit-parallel LCS (lcs.hpp) and the
// column sets of the one-pass counts (pair_counts.hpp). One word is a plain
// uint64_t, two to four an array; both offer the same few operations, so
// each loop is written once.
//
// The addition is one unbroken chain of add-with-carry instructions. On
// x86-64 it is written out: GCC passes the carry intrinsic's result, and the
// words around it, through memory on every row. (A 128-bit integer for two
// words fares no better.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common/bits.hpp"
#include "scorer/metrics/bit_count.hpp"

namespace tallygrams::scorer::detail {

// GCC's straight-line vectoriser would pair up the words of a row in
// vector registers, moving every word between register files around the
// scalar carry chain; the row kernels are faster kept in general registers.
#if defined(__GNUC__) && !defined(__clang__)
#define TALLYGRAMS_SCALAR_WORDS __attribute__((optimize("no-tree-slp-vectorize")))
#else
#define TALLYGRAMS_SCALAR_WORDS
#endif

// sum = a + b + carry_in; returns the carry out.
inline uint8_t add_with_carry(uint8_t carry_in, uint64_t a, uint64_t b, uint64_t& sum) noexcept {
#if defined(__x86_64__)
    unsigned long long out;
    const uint8_t carry = _addcarry_u64(carry_in, a, b, &out);
    sum = out;
    return carry;
#else
    const uint64_t partial = a + b;
    sum = partial + carry_in;
    return static_cast<uint8_t>((partial < a) | (sum < partial));
#endif
}

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
    friend WordArray operator+(WordArray a, const WordArray& b) noexcept {
        add_carrying(a, b, 0);
        return a;
    }
};

// a += b + carry_in (0 or 1); returns the carry out.
inline uint8_t add_carrying(uint64_t& a, uint64_t b, uint8_t carry_in) noexcept {
    return add_with_carry(carry_in, a, b, a);
}

template <size_t W>
uint8_t add_carrying(WordArray<W>& a, const WordArray<W>& b, uint8_t carry_in) noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    // The carry in enters as the carry flag: 0xFF + 1 carries, 0xFF + 0
    // does not.
    uint8_t carry = carry_in;
    if constexpr (W == 2) {
        asm("addb $0xff, %[carry]\n\tadc %[b0], %[a0]\n\tadc %[b1], %[a1]\n\tsetc %[carry]"
            : [a0] "+r"(a.word[0]), [a1] "+r"(a.word[1]), [carry] "+q"(carry)
            : [b0] "r"(b.word[0]), [b1] "r"(b.word[1])
            : "cc");
        return carry;
    } else if constexpr (W == 3) {
        asm("addb $0xff, %[carry]\n\tadc %[b0], %[a0]\n\tadc %[b1], %[a1]\n\tadc %[b2], %[a2]\n\tsetc %[carry]"
            : [a0] "+r"(a.word[0]), [a1] "+r"(a.word[1]), [a2] "+r"(a.word[2]), [carry] "+q"(carry)
            : [b0] "r"(b.word[0]), [b1] "r"(b.word[1]), [b2] "r"(b.word[2])
            : "cc");
        return carry;
    } else if constexpr (W == 4) {
        asm("addb $0xff, %[carry]\n\tadc %[b0], %[a0]\n\tadc %[b1], %[a1]\n\tadc %[b2], %[a2]\n\t"
            "adc %[b3], %[a3]\n\tsetc %[carry]"
            : [a0] "+r"(a.word[0]), [a1] "+r"(a.word[1]), [a2] "+r"(a.word[2]), [a3] "+r"(a.word[3]),
              [carry] "+q"(carry)
            : [b0] "r"(b.word[0]), [b1] "r"(b.word[1]), [b2] "r"(b.word[2]), [b3] "r"(b.word[3])
            : "cc");
        return carry;
    }
#else
    uint8_t carry = carry_in;
#endif
    for (size_t k = 0; k < W; ++k) carry = add_with_carry(carry, a.word[k], b.word[k], a.word[k]);
    return carry;
}

template <size_t W>
struct WordsOf {
    using type = WordArray<W>;
};
template <>
struct WordsOf<1> {
    using type = uint64_t;
};

template <size_t W>
using Words = typename WordsOf<W>::type;

// Words are loaded one by one: a copy of the whole array would become one
// vector load, and every word would then travel through memory.
template <class Bits>
Bits load_bits(const uint64_t* words) noexcept {
    if constexpr (std::is_same_v<Bits, uint64_t>) {
        return *words;
    } else {
        Bits bits;
        for (size_t k = 0; k < sizeof bits.word / sizeof bits.word[0]; ++k) bits.word[k] = words[k];
        return bits;
    }
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
inline uint64_t count_bits(uint64_t x, size_t valid) noexcept { return bit_count(x & low_bits(valid)); }
template <size_t W>
uint64_t count_bits(const WordArray<W>& x, size_t valid) noexcept {
    uint64_t count = 0;
    for (size_t k = 0; k < W; ++k) count += count_bits(x.word[k], valid > 64 * k ? valid - 64 * k : 0);
    return count;
}

}  // namespace tallygrams::scorer::detail
