// Tokenizer: a token is a maximal run of ASCII letters and digits, letters
// folded to lower case. Everything else separates tokens.
//
// The text is normalised once into a buffer holding only 'a'-'z', '0'-'9' and
// spaces; tokens are byte ranges into that buffer and are never copied.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scorer/internal_failure.hpp"

namespace tallygrams::scorer {

struct TokenSpan {
    uint64_t start;
    uint64_t end;  // exclusive
};

class TokenizedText {
public:
    TokenizedText() = default;
    TokenizedText(std::unique_ptr<char[]> normalized, size_t normalized_length, std::vector<TokenSpan> spans)
        : normalized_(std::move(normalized)), normalized_length_(normalized_length), spans_(std::move(spans)) {}

    size_t token_count() const noexcept { return spans_.size(); }
    std::string_view normalized() const noexcept { return {normalized_.get(), normalized_length_}; }
    const std::vector<TokenSpan>& spans() const noexcept { return spans_; }

    // The text of token i. The range is checked on every read: a span that
    // points outside the buffer, or into the middle of a character, would be
    // a broken invariant rather than a reason to read stray memory.
    std::string_view token(size_t i) const {
        ensure(i < spans_.size(), "token index out of range");
        const TokenSpan span = spans_[i];
        ensure(span.start <= span.end && span.end <= normalized_length_ && is_char_boundary(span.start) &&
                   is_char_boundary(span.end),
               "token span is not a valid range of the normalized text");
        return {normalized_.get() + span.start, static_cast<size_t>(span.end - span.start)};
    }

private:
    bool is_char_boundary(uint64_t offset) const noexcept {
        if (offset == normalized_length_) return true;
        const auto byte = static_cast<unsigned char>(normalized_[offset]);
        return (byte & 0xC0) != 0x80;
    }

    std::unique_ptr<char[]> normalized_;
    size_t normalized_length_ = 0;
    std::vector<TokenSpan> spans_;
};

namespace detail {

// Byte map of the tokenizer walk: upper-case ASCII letters fold, lower-case
// letters and digits stay, every other byte (including each byte of a
// multi-byte character) becomes a space.
constexpr std::array<char, 256> make_token_byte_map() {
    std::array<char, 256> map{};
    for (int b = 0; b < 256; ++b) {
        char mapped = ' ';
        if (b >= 'A' && b <= 'Z') mapped = static_cast<char>(b + 0x20);
        if ((b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) mapped = static_cast<char>(b);
        map[static_cast<size_t>(b)] = mapped;
    }
    return map;
}

inline constexpr std::array<char, 256> token_byte_map = make_token_byte_map();

inline bool has_high_byte(std::string_view text) noexcept {
    constexpr uint64_t high_bits = 0x8080808080808080ULL;
    const char* p = text.data();
    size_t n = text.size();
    // 64 bytes per step for long texts: OR eight words, test once.
    while (n >= 64) {
        uint64_t acc = 0;
        for (int k = 0; k < 8; ++k) {
            uint64_t word;
            std::memcpy(&word, p + 8 * k, 8);
            acc |= word;
        }
        if (acc & high_bits) return true;
        p += 64;
        n -= 64;
    }
    while (n >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & high_bits) return true;
        p += 8;
        n -= 8;
    }
    for (; n > 0; --n, ++p) {
        if (static_cast<unsigned char>(*p) & 0x80) return true;
    }
    return false;
}

// Lower-case copy of a text that holds non-ASCII characters. Only two
// characters have a lower-case form containing an ASCII letter or digit:
// U+0130 (-> "i" U+0307) and U+212A KELVIN SIGN (-> "k"). Every other
// non-ASCII character maps to non-ASCII characters, which separate tokens
// whatever they are, so copying them unchanged yields the same tokens as a
// full Unicode lower-casing. ASCII letters are folded later by the walk.
struct LowerCaseCopy {
    std::unique_ptr<char[]> bytes;
    size_t length = 0;
    std::string_view view() const noexcept { return {bytes.get(), length}; }
};

inline bool is_dotted_capital_i(std::string_view text, size_t i) noexcept {
    return static_cast<unsigned char>(text[i]) == 0xC4 && i + 1 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) == 0xB0;
}

inline bool is_kelvin_sign(std::string_view text, size_t i) noexcept {
    return static_cast<unsigned char>(text[i]) == 0xE2 && i + 2 < text.size() &&
           static_cast<unsigned char>(text[i + 1]) == 0x84 && static_cast<unsigned char>(text[i + 2]) == 0xAA;
}

inline LowerCaseCopy lower_case_for_tokens(std::string_view text) {
    // Exact size first, so the copy is allocated once: U+0130 grows by one
    // byte, U+212A shrinks by two.
    size_t length = text.size();
    for (size_t i = 0; i < text.size(); ++i) {
        if (is_dotted_capital_i(text, i)) ++length;
        if (is_kelvin_sign(text, i)) length -= 2;
    }
    LowerCaseCopy copy{std::make_unique_for_overwrite<char[]>(length == 0 ? 1 : length), length};
    char* out = copy.bytes.get();
    for (size_t i = 0; i < text.size(); ++i) {
        if (is_dotted_capital_i(text, i)) {
            std::memcpy(out, "i\xCC\x87", 3);  // U+0130 -> U+0069 U+0307
            out += 3;
            i += 1;
        } else if (is_kelvin_sign(text, i)) {
            *out++ = 'k';  // U+212A -> U+006B
            i += 2;
        } else {
            *out++ = text[i];
        }
    }
    return copy;
}

inline TokenizedText tokenize_working_text(std::string_view working) {
    const size_t length = working.size();
    auto normalized = std::make_unique_for_overwrite<char[]>(length == 0 ? 1 : length);
    std::vector<TokenSpan> spans;
    spans.reserve(length / 4 + 1);

    uint64_t start = 0;
    bool in_token = false;
    for (size_t i = 0; i < length; ++i) {
        const char mapped = token_byte_map[static_cast<unsigned char>(working[i])];
        normalized[i] = mapped;
        if (mapped != ' ') {
            in_token = true;
        } else {
            if (in_token) {
                spans.push_back({start, i});
                in_token = false;
            }
            start = i + 1;
        }
    }
    if (in_token) spans.push_back({start, length});
    return TokenizedText(std::move(normalized), length, std::move(spans));
}

}  // namespace detail

// `text` must be valid UTF-8; it is only borrowed.
inline TokenizedText tokenize(std::string_view text) {
    if (!detail::has_high_byte(text)) {
        // Pure ASCII, the common case: no lower-case copy, one pass.
        return detail::tokenize_working_text(text);
    }
    const detail::LowerCaseCopy working = detail::lower_case_for_tokens(text);
    return detail::tokenize_working_text(working.view());
}

}  // namespace tallygrams::scorer
