// UTF-8 validation for text read in place from another library's buffers.
//
// A byte sequence is valid when it splits into the well-formed sequences of
// the Unicode Standard, chapter 3, table 3-7 ("Well-Formed UTF-8 Byte
// Sequences"): no overlong forms, no surrogates (U+D800..U+DFFF), nothing
// above U+10FFFF, no stray or missing continuation bytes.
//
// Text to be scored is mostly ASCII, so ASCII is skipped inline in blocks of
// 32 bytes (SSE2) or 8 (one 64-bit word). From the first other byte on,
// is_valid_utf8 checks 16 bytes at a time with three table lookups per
// block (Keiser and Lemire, "Validating UTF-8 in less than one instruction
// per byte", Software: Practice and Experience 51(5), 2021) where the
// processor has SSSE3, found out at run time since the build targets plain
// x86-64; elsewhere it decodes character by character. valid_utf8_prefix
// always decodes, to tell where the first error is.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tallygrams::arrow {

namespace detail {

constexpr bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// Length of the well-formed sequence that starts at `p` with a non-ASCII
// byte, or 0 when the sequence there is ill-formed or cut off by the end.
inline size_t multibyte_sequence_length(const unsigned char* p, size_t available) noexcept {
    const unsigned lead = p[0];
    if (lead < 0xC2) return 0;  // a continuation byte, or C0/C1 (overlong)
    if (lead < 0xE0) return available >= 2 && is_continuation(p[1]) ? 2 : 0;
    if (lead < 0xF0) {
        if (available < 3) return 0;
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;   // E0 80..9F is overlong
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;  // ED A0..BF are surrogates
        return p[1] >= low && p[1] <= high && is_continuation(p[2]) ? 3 : 0;
    }
    if (lead < 0xF5) {
        if (available < 4) return 0;
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;   // F0 80..8F is overlong
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;  // F4 90.. is above U+10FFFF
        return p[1] >= low && p[1] <= high && is_continuation(p[2]) && is_continuation(p[3]) ? 4 : 0;
    }
    return 0;  // F5..FF never occur
}

// Index of the first byte at or after `i` that is not ASCII, or `size`.
inline size_t skip_ascii(const unsigned char* p, size_t i, size_t size) noexcept {
#if defined(__SSE2__)
    for (; size - i >= 32; i += 32) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
        if (_mm_movemask_epi8(_mm_or_si128(low, high)) != 0) {
            const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(low)) |
                              static_cast<uint32_t>(_mm_movemask_epi8(high)) << 16;
            return i + static_cast<size_t>(std::countr_zero(mask));
        }
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        for (; size - i >= 8; i += 8) {
            uint64_t word;
            std::memcpy(&word, p + i, sizeof word);
            if (const uint64_t high_bits = word & 0x8080808080808080u; high_bits != 0) {
                return i + static_cast<size_t>(std::countr_zero(high_bits)) / 8;
            }
        }
    }
    while (i < size && p[i] < 0x80) ++i;
    return i;
}

// The index of the first byte of the first ill-formed sequence at or after
// `i`, where a sequence starts, or `size`.
inline size_t scalar_valid_prefix(const unsigned char* p, size_t i, size_t size) noexcept {
    for (;;) {
        i = skip_ascii(p, i, size);
        if (i == size) return size;
        // A run of text in another script is decoded without going back to
        // the block scan after every character.
        do {
            const size_t length = multibyte_sequence_length(p + i, size - i);
            if (length == 0) return i;
            i += length;
        } while (i < size && p[i] >= 0x80);
    }
}

// Whether the `size` bytes at `p` are valid UTF-8, the byte before them (if
// any) being ASCII. Chooses the block check or decoding (utf8_validation.cpp).
bool valid_utf8_after_ascii(const unsigned char* p, size_t size) noexcept;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TALLYGRAMS_UTF8_BLOCK_CHECK 1
// The processor can run valid_utf8_blocks.
bool have_block_check() noexcept;
// The block check, for processors with SSSE3 only.
bool valid_utf8_blocks(const unsigned char* p, size_t size) noexcept;
#endif

}  // namespace detail

// Length of the longest prefix of `text` that is valid UTF-8 and ends at a
// character boundary: text.size() for valid text, otherwise the index of the
// first byte of the first ill-formed sequence.
inline size_t valid_utf8_prefix(std::string_view text) noexcept {
    return detail::scalar_valid_prefix(reinterpret_cast<const unsigned char*>(text.data()), 0, text.size());
}

inline bool is_valid_utf8(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t first_other = detail::skip_ascii(p, 0, text.size());
    return first_other == text.size() || detail::valid_utf8_after_ascii(p + first_other, text.size() - first_other);
}

}  // namespace tallygrams::arrow
