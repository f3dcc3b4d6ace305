// The per-token steps of the numbering table's fast path, once per
// instruction set: finding token edges, taking a token's first 16 bytes,
// hashing them, and comparing them with a slot. TokenNumbering's loops are
// written once against these and compiled twice: with the baseline kernel
// for any processor and any hash, and with the AES kernel, inside functions
// compiled for AVX2 and AES, when the hash is the AES form (token_hash.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "scorer/details/cpu_features.hpp"
#include "scorer/numbering/details/number_slot.hpp"
#include "scorer/numbering/token_hash.hpp"
#include "scorer/tokenizing/token_edges.hpp"

#if defined(TALLYGRAMS_X86_KERNELS)
#include <immintrin.h>
#endif

namespace tallygrams::scorer::detail {

// A slot compared with a token of at most 16 bytes gives four bits: the
// first and second words of the key equal, the length equal, the slot
// empty (its id word 0, which the compare sees as the fourth word of the
// expected value). The token is in the slot when exactly the first three
// are set (7: an empty slot never has the length of a token), and the
// slot is empty when the fourth is (8 and above), so the home slot settles
// the token when the bits are 7 or more: one compare, which no compiler
// can turn back into two branches.
inline constexpr unsigned kSlotHolds = 7;
inline bool slot_settles(unsigned bits) noexcept { return bits >= kSlotHolds; }
inline unsigned slot_empty(unsigned bits) noexcept { return bits >> 3; }

struct BaselineNumberKernel {
    using Edges = BaselineEdges;
    using Key = ShortKey;

    static Key key_of(const char* text, size_t length) noexcept { return short_key(text, length); }

    template <class Hash>
    static uint64_t hash(const Hash& hash, const Key& key, const char* text, size_t length) noexcept {
        return hash(text, length, key);
    }

    // The slot against a token of at most 16 bytes, as the four bits above.
    static unsigned compare(const NumberSlot& slot, const Key& key, size_t length) noexcept {
        return static_cast<unsigned>(slot.low == key.low) | static_cast<unsigned>(slot.high == key.high) << 1 |
               static_cast<unsigned>(slot.length == length) << 2 | static_cast<unsigned>(slot.id_plus_one == 0) << 3;
    }

    static void fill(NumberSlot& slot, const Key& key, size_t length, uint64_t id_plus_one) noexcept {
        slot = NumberSlot{key.low, key.high, length, id_plus_one};
    }
};

#if defined(TALLYGRAMS_X86_KERNELS)
// kKeepFirst[n] keeps the first n bytes of 16: one aligned load by length.
alignas(16) inline constexpr auto kKeepFirst = [] {
    std::array<std::array<unsigned char, 16>, 17> masks{};
    for (size_t n = 0; n <= 16; ++n) {
        for (size_t i = 0; i < n; ++i) masks[n][i] = 0xFF;
    }
    return masks;
}();

// Only for a TokenHash whose uses_aes() holds, which implies AVX2 and AES.
struct AesNumberKernel {
    using Edges = Avx2Edges;
    using Key = __m128i;

    // Only for tokens of 1 to 16 bytes, which is all the fast path takes.
    __attribute__((target("avx2"))) static Key key_of(const char* text, size_t length) noexcept {
        const auto* keep = reinterpret_cast<const __m128i*>(kKeepFirst[length].data());
        return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text)), _mm_loadu_si128(keep));
    }

    __attribute__((target("aes"))) static uint64_t hash(const TokenHash& hash, Key key, const char*,
                                                        size_t length) noexcept {
        return hash.short_aes(key, length);
    }

    // All four words of the slot in one compare.
    __attribute__((target("avx2"))) static unsigned compare(const NumberSlot& slot, Key key, size_t length) noexcept {
        const __m256i expected =
            _mm256_inserti128_si256(_mm256_castsi128_si256(key), _mm_cvtsi64_si128(static_cast<long long>(length)), 1);
        const __m256i equal = _mm256_cmpeq_epi64(_mm256_load_si256(reinterpret_cast<const __m256i*>(&slot)), expected);
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(equal)));
    }

    // One 32-byte store, which a later 32-byte load of the slot can take
    // its value from while it is still on its way to memory.
    __attribute__((target("avx2"))) static void fill(NumberSlot& slot, Key key, size_t length,
                                                     uint64_t id_plus_one) noexcept {
        const __m128i tail = _mm_set_epi64x(static_cast<long long>(id_plus_one), static_cast<long long>(length));
        _mm256_store_si256(reinterpret_cast<__m256i*>(&slot),
                           _mm256_inserti128_si256(_mm256_castsi128_si256(key), tail, 1));
    }
};
#endif

}  // namespace tallygrams::scorer::detail
