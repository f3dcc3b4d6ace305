// UTF-8 decoding and encoding for the tokenizer for every script.
//
// Texts come from Python `str` and are valid UTF-8, but nothing here relies
// on it: a byte that does not start a well-formed sequence (Unicode, table
// 3-7) decodes as U+FFFD REPLACEMENT CHARACTER of length one, so malformed
// input is read safely and behaves as Python's errors="replace" decoding
// would (U+FFFD separates tokens and is neither cased nor case-ignorable).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallygrams::scorer::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
    char32_t code_point;
    uint32_t length;  // bytes
};

inline bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// The code point that starts at s[at]; at < size.
inline Decoded decode(const unsigned char* s, size_t at, size_t size) noexcept {
    const unsigned char lead = s[at];
    const size_t left = size - at;
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (left >= 2 && is_continuation(s[at + 1])) {
            return {static_cast<char32_t>(((lead & 0x1Fu) << 6) | (s[at + 1] & 0x3Fu)), 2};
        }
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        if (left >= 3 && is_continuation(s[at + 1]) && is_continuation(s[at + 2])) {
            const char32_t cp = ((lead & 0x0Fu) << 12) | ((s[at + 1] & 0x3Fu) << 6) | (s[at + 2] & 0x3Fu);
            // Not overlong, not a surrogate.
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) return {cp, 3};
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        if (left >= 4 && is_continuation(s[at + 1]) && is_continuation(s[at + 2]) && is_continuation(s[at + 3])) {
            const char32_t cp = ((lead & 0x07u) << 18) | ((s[at + 1] & 0x3Fu) << 12) | ((s[at + 2] & 0x3Fu) << 6) |
                                (s[at + 3] & 0x3Fu);
            if (cp >= 0x10000 && cp <= 0x10FFFF) return {cp, 4};
        }
    }
    return {kReplacement, 1};
}

// The code point that ends just before s[at]; at > 0. Agrees with a forward
// walk by `decode` from the start of the text: a well-formed sequence never
// contains the first byte of another, so the nearest byte that is not a
// continuation byte starts the sequence if any sequence ends at `at`, and
// otherwise s[at - 1] was decoded on its own as U+FFFD.
inline Decoded decode_before(const unsigned char* s, size_t at) noexcept {
    size_t start = at - 1;
    while (start > 0 && at - start < 4 && is_continuation(s[start])) --start;
    const Decoded d = decode(s, start, at);
    if (start + d.length == at) return d;
    return {kReplacement, 1};
}

// Writes `cp` (a Unicode scalar value) as UTF-8; returns the bytes written.
inline size_t encode(char32_t cp, char* out) noexcept {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace tallygrams::scorer::utf8
