// Where tokens start and end, as offsets, from the token masks of a
// normalised text (token_walk.hpp), a chunk of blocks at a time.
//
// Within a block, the edges of a mask are the bits where a byte differs in
// kind from the byte before it: token starts and ends, alternating. Listing
// them with one bit scan per edge costs a loop exit per block, and the
// number of edges per block is as irregular as the text, so that exit
// mispredicts about once a block. With AVX2, each byte of the edge word
// instead indexes a table of the positions of its set bits: eight offsets
// are written at once, and the output advances by the byte's bit count, so
// the listing has no data-dependent branch at all (the technique of
// D. Lemire's "Parsing gigabytes of JSON per second", VLDB Journal 28,
// 2019, section 3.1's flattening of bit sets, with a table in place of bit
// scans).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "scorer/details/cpu_features.hpp"

#if defined(TALLYGRAMS_X86_KERNELS)
#include <immintrin.h>
#endif

namespace tallygrams::scorer::detail {

// Edges of a block's mask; `inside` is 1 when the byte before the block
// belongs to a token.
inline uint64_t edges_of(uint64_t mask, uint64_t inside) noexcept { return mask ^ ((mask << 1) | inside); }

// For every byte value, the positions of its set bits in increasing order,
// one per byte of the word, lowest byte first; the rest are 0.
inline constexpr std::array<uint64_t, 256> kBitPositions = [] {
    std::array<uint64_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        unsigned written = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((value >> bit) & 1) table[value] |= uint64_t{bit} << (8 * written++);
        }
    }
    return table;
}();

// The offsets of the edges of `blocks` consecutive masks, counted from the
// first block's first byte, into `out`; returns how many. `inside` carries
// across calls. `out` needs room for 64 offsets per block, plus
// kEdgeSlack that the AVX2 kernel may write past the last offset.
inline constexpr size_t kEdgeSlack = 8;

inline size_t edge_offsets_baseline(const uint64_t* masks, size_t blocks, uint64_t& inside, uint32_t* out) noexcept {
    uint32_t* next = out;
    for (size_t b = 0; b < blocks; ++b) {
        const uint64_t mask = masks[b];
        uint64_t edges = edges_of(mask, inside);
        inside = mask >> 63;
        const auto base = static_cast<uint32_t>(64 * b);
        for (; edges != 0; edges &= edges - 1) *next++ = base + static_cast<uint32_t>(std::countr_zero(edges));
    }
    return static_cast<size_t>(next - out);
}

#if defined(TALLYGRAMS_X86_KERNELS)
__attribute__((target("avx2,popcnt"))) inline size_t edge_offsets_avx2(const uint64_t* masks, size_t blocks,
                                                                      uint64_t& inside, uint32_t* out) noexcept {
    uint32_t* next = out;
    __m256i base = _mm256_setzero_si256();
    const __m256i step = _mm256_set1_epi32(8);
    for (size_t b = 0; b < blocks; ++b) {
        const uint64_t mask = masks[b];
        const uint64_t edges = edges_of(mask, inside);
        inside = mask >> 63;
        for (unsigned k = 0; k < 8; ++k) {
            const auto byte = static_cast<unsigned>((edges >> (8 * k)) & 0xFF);
            const __m128i positions = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kBitPositions[byte]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(next), _mm256_add_epi32(_mm256_cvtepu8_epi32(positions), base));
            next += __builtin_popcount(byte);
            base = _mm256_add_epi32(base, step);
        }
    }
    return static_cast<size_t>(next - out);
}
#endif

// The kernels above as types, so that a loop compiled for one instruction
// set can take its kernel as a template argument.
struct BaselineEdges {
    static size_t offsets(const uint64_t* masks, size_t blocks, uint64_t& inside, uint32_t* out) noexcept {
        return edge_offsets_baseline(masks, blocks, inside, out);
    }
};
#if defined(TALLYGRAMS_X86_KERNELS)
struct Avx2Edges {
    __attribute__((target("avx2,popcnt"))) static size_t offsets(const uint64_t* masks, size_t blocks,
                                                                 uint64_t& inside, uint32_t* out) noexcept {
        return edge_offsets_avx2(masks, blocks, inside, out);
    }
};
#endif

}  // namespace tallygrams::scorer::detail
