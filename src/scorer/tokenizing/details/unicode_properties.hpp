// Lookups into the generated Unicode tables, and the one context-dependent
// lower-case mapping: CPython's final sigma.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scorer/tokenizing/details/unicode_record.hpp"
#include "scorer/tokenizing/details/unicode_tables.hpp"
#include "scorer/tokenizing/details/utf8.hpp"

namespace tallygrams::scorer::unicode {

inline constexpr char32_t kCapitalSigma = 0x03A3;
inline constexpr char32_t kSmallSigma = 0x03C3;
inline constexpr char32_t kFinalSigma = 0x03C2;

// `cp` must be at most U+10FFFF (utf8::decode never yields more).
inline const CodePointRecord& record_of(char32_t cp) noexcept {
    constexpr char32_t kInBlock = (char32_t{1} << kBlockShift) - 1;
    const size_t block = kBlockOf[cp >> kBlockShift];
    return kRecords[kRecordIndex[(block << kBlockShift) | (cp & kInBlock)]];
}

// Whether the U+03A3 at s[at, at + 2) lower-cases to final sigma, as
// `str.lower()` decides it: a cased letter before it and none after it,
// looking past case-ignorable characters on both sides. The scans stop at
// the first character that is not case-ignorable, so over a whole text each
// run of case-ignorable characters is crossed at most twice.
inline bool is_final_sigma(const unsigned char* s, size_t size, size_t at) noexcept {
    bool cased_before = false;
    for (size_t i = at; i > 0;) {
        const utf8::Decoded before = utf8::decode_before(s, i);
        const uint8_t flags = record_of(before.code_point).flags;
        if (!(flags & kCaseIgnorable)) {
            cased_before = (flags & kCased) != 0;
            break;
        }
        i -= before.length;
    }
    if (!cased_before) return false;
    for (size_t i = at + 2; i < size;) {
        const utf8::Decoded after = utf8::decode(s, i, size);
        const uint8_t flags = record_of(after.code_point).flags;
        if (!(flags & kCaseIgnorable)) return (flags & kCased) == 0;
        i += after.length;
    }
    return true;
}

}  // namespace tallygrams::scorer::unicode
