// Tokenizing one text into an owned, normalised buffer plus the byte range
// of every token, on top of the production walk. The scorer itself numbers
// tokens straight from the walk (token_numbering.hpp); tests use this form
// to look at the walk's tokens one by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/tokenizing/token_walk.hpp"

namespace tallygrams::reference {

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
        return (static_cast<unsigned char>(normalized_[offset]) & 0xC0) != 0x80;
    }

    std::unique_ptr<char[]> normalized_;
    size_t normalized_length_ = 0;
    std::vector<TokenSpan> spans_;
};

// `text` must be valid UTF-8; it is only borrowed.
inline TokenizedText tokenize(std::string_view text) {
    scorer::ScratchArena arena;
    const scorer::NormalizedText normalized = scorer::normalize(text, arena);
    auto owned = std::make_unique_for_overwrite<char[]>(normalized.length + 1);
    std::memcpy(owned.get(), normalized.bytes, normalized.length);
    std::vector<TokenSpan> spans;
    spans.reserve(normalized.length / 4 + 1);
    scorer::for_each_token(normalized, [&](size_t start, size_t length) { spans.push_back({start, start + length}); });
    return TokenizedText(std::move(owned), normalized.length, std::move(spans));
}

}  // namespace tallygrams::reference
