// The ASCII fast path of the tokenizer for every script: up to 64 bytes at a
// time, lower-cased 16 at a time in vector steps, with bit masks of the
// bytes that belong to tokens and of the line breaks. For ASCII,
// `str.lower()` only maps 'A'-'Z' and a token byte is a letter or digit (the
// table generator checks both).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tallygrams::scorer::ascii_chunk {

inline constexpr size_t kBytes = 64;

struct Chunk {
    uint32_t length;        // leading ASCII bytes, 0 to 64; the masks cover only these
    uint64_t token_mask;    // bit i: byte i is a letter or digit
    uint64_t newline_mask;  // bit i: byte i is '\n'
};

// Reads in[0, 64) and writes their lower case to out[0, 64), 16 bytes at a
// time up to the 16 that hold the first non-ASCII byte; bytes from that one
// on are written too, but are not part of the chunk.
inline Chunk scan(const unsigned char* in, char* out) noexcept {
    Chunk chunk{0, 0, 0};
#if defined(__SSE2__)
    for (uint32_t step = 0; step < kBytes; step += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + step));
        // Unsigned range tests as signed compares after a shift by 128;
        // bytes of 0x80 and above fall outside every range.
        const __m128i upper = _mm_cmplt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(128 - 'A'))),
                                             _mm_set1_epi8(static_cast<char>(-128 + 26)));
        const __m128i lower = _mm_cmplt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(128 - 'a'))),
                                             _mm_set1_epi8(static_cast<char>(-128 + 26)));
        const __m128i digit = _mm_cmplt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(128 - '0'))),
                                             _mm_set1_epi8(static_cast<char>(-128 + 10)));
        const __m128i newline = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + step),
                         _mm_or_si128(bytes, _mm_and_si128(upper, _mm_set1_epi8(0x20))));
        const auto non_ascii = static_cast<uint32_t>(_mm_movemask_epi8(bytes));
        const uint32_t length = non_ascii == 0 ? 16u : static_cast<uint32_t>(std::countr_zero(non_ascii));
        const uint32_t inside = (uint32_t{1} << length) - 1;
        const auto token = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(upper, lower), digit)));
        const auto lines = static_cast<uint32_t>(_mm_movemask_epi8(newline));
        chunk.token_mask |= static_cast<uint64_t>(token & inside) << step;
        chunk.newline_mask |= static_cast<uint64_t>(lines & inside) << step;
        chunk.length += length;
        if (length < 16) break;
    }
#else
    for (; chunk.length < kBytes && in[chunk.length] < 0x80; ++chunk.length) {
        const unsigned char b = in[chunk.length];
        const bool upper = b >= 'A' && b <= 'Z';
        const bool token = upper || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9');
        out[chunk.length] = static_cast<char>(upper ? b + 32 : b);
        chunk.token_mask |= static_cast<uint64_t>(token) << chunk.length;
        chunk.newline_mask |= static_cast<uint64_t>(b == '\n') << chunk.length;
    }
#endif
    return chunk;
}

// The same for the last bytes of a text, fewer than 64: they are copied into
// a block padded with non-ASCII bytes, so the chunk ends with the text.
inline Chunk scan_tail(const unsigned char* in, size_t size, char* out) noexcept {
    unsigned char block[kBytes];
    std::memset(block, 0xFF, sizeof block);
    std::memcpy(block, in, size);
    return scan(block, out);
}

}  // namespace tallygrams::scorer::ascii_chunk
