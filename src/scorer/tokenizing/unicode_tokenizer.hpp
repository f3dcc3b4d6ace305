// The tokenizer for every script.
//
// The text is lower-cased exactly as Python's `str.lower()` does it (full
// mappings, and final sigma as CPython decides it). A token is then a
// maximal run of characters whose general category is a letter, mark or
// number (L*, M*, N*), except that each such character of the scripts
// written without spaces (Thai, Lao, Myanmar, Khmer, kana, Han; the ranges
// are listed in generate_unicode_tables.py) is a token of its own.
// Everything else separates tokens. The properties come from tables
// generated at build time from the building interpreter's own `unicodedata`
// and `str.lower()` (details/unicode_record.hpp describes them).
//
// Line breaks are reported in order with the tokens, so that a caller can
// split a text into lines as it goes. That equals splitting the text at '\n'
// first and tokenizing each line alone: nothing lower-cases to or from a
// line break, and since '\n' is neither cased nor case-ignorable the
// final-sigma rule treats it exactly as the edge of the text (the table
// generator checks both).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "common/arithmetic.hpp"
#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/tokenizing/details/ascii_chunk.hpp"
#include "scorer/tokenizing/details/unicode_properties.hpp"
#include "scorer/tokenizing/details/utf8.hpp"

namespace tallygrams::scorer {

namespace unicode {

// Room for the lower case of a text of `size` bytes, plus the slack that the
// ASCII path's whole-chunk stores write past the end.
inline size_t lowered_capacity(size_t size) {
    ensure(size <= (std::numeric_limits<size_t>::max() - ascii_chunk::kBytes) / kLoweringGrowthNumerator,
           "text too long to lower-case");
    return ceil_div(size * kLoweringGrowthNumerator, kLoweringGrowthDenominator) + ascii_chunk::kBytes;
}

// The lower-cased token bytes written so far, and the token being built.
// Separators are not written, so a token is always contiguous.
class TokenWriter {
public:
    explicit TokenWriter(char* out) noexcept : out_(out) {}

    char* out() const noexcept { return out_; }
    size_t written() const noexcept { return written_; }
    void advance(size_t bytes) noexcept { written_ += bytes; }
    bool in_token() const noexcept { return in_token_; }
    void start_at(size_t offset) noexcept {
        token_start_ = offset;
        in_token_ = true;
    }
    void set_in_token(bool in_token) noexcept { in_token_ = in_token; }
    std::string_view token_until(size_t end) const noexcept {
        return {out_ + token_start_, end - token_start_};
    }

    // One code point of lower-cased text, `length` UTF-8 bytes already at
    // out() + written().
    template <class OnToken>
    void add(TokenClass kind, size_t length, OnToken& on_token) {
        switch (kind) {
            case kTokenPart:
                if (!in_token_) start_at(written_);
                written_ += length;
                return;
            case kOwnToken:
                finish(on_token);
                on_token(std::string_view(out_ + written_, length));
                written_ += length;
                return;
            case kSeparator:
                finish(on_token);
                return;
        }
    }

    template <class OnToken>
    void finish(OnToken& on_token) {
        if (in_token_) {
            in_token_ = false;
            on_token(token_until(written_));
        }
    }

private:
    char* out_;
    size_t written_ = 0;
    size_t token_start_ = 0;
    bool in_token_ = false;
};

// Lower-cases and classifies the code point that starts at s[at], which is
// not ASCII; returns its length in the text.
template <class OnToken>
size_t add_code_point(const unsigned char* s, size_t size, size_t at, TokenWriter& writer, OnToken& on_token) {
    const utf8::Decoded d = utf8::decode(s, at, size);
    const CodePointRecord& record = record_of(d.code_point);
    const auto kind = static_cast<TokenClass>(record.flags & kClassMask);
    if (record.lowering == 0 && !(record.flags & kMultiLowering)) {
        // Its own lower case. Only token bytes are copied, and those were
        // decoded as well-formed.
        if (kind != kSeparator) std::memcpy(writer.out() + writer.written(), s + at, d.length);
        writer.add(kind, d.length, on_token);
    } else if (!(record.flags & kMultiLowering)) {
        char32_t lowered = d.code_point + static_cast<char32_t>(record.lowering);
        if (d.code_point == kCapitalSigma) lowered = is_final_sigma(s, size, at) ? kFinalSigma : kSmallSigma;
        writer.add(kind, utf8::encode(lowered, writer.out() + writer.written()), on_token);
    } else {
        const MultiLowering& multi = kMultiLowerings[record.lowering];
        for (size_t i = 0; i < multi.length; ++i) {
            writer.add(multi.classes[i], utf8::encode(multi.code_points[i], writer.out() + writer.written()),
                       on_token);
        }
    }
    return d.length;
}

}  // namespace unicode

// Calls on_token(std::string_view) for every token of `text`, lower-cased,
// and on_newline() for every '\n', in text order. The views point into
// memory from `arena` and stay valid until it is rewound. `text` should be
// valid UTF-8; a malformed byte is read as U+FFFD, which separates.
template <class OnToken, class OnNewline>
void for_each_unicode_token(std::string_view text, ScratchArena& arena, OnToken&& on_token, OnNewline&& on_newline) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    unicode::TokenWriter writer(arena.allocate<char>(unicode::lowered_capacity(size)));
    size_t at = 0;
    while (at < size) {
        if (s[at] >= 0x80) {
            at += unicode::add_code_point(s, size, at, writer, on_token);
            continue;
        }
        // A run of ASCII, up to 64 bytes: every start and end of a token and
        // every line break is a bit in one of the chunk's masks.
        const size_t written = writer.written();
        char* out = writer.out() + written;
        const ascii_chunk::Chunk chunk = at + ascii_chunk::kBytes <= size
                                             ? ascii_chunk::scan(s + at, out)
                                             : ascii_chunk::scan_tail(s + at, size - at, out);
        // A token still open at the chunk's end is carried into what follows.
        const uint64_t inside = chunk.length == 64 ? ~uint64_t{0} : (uint64_t{1} << chunk.length) - 1;  // no shift by 64
        const uint64_t token_before = (chunk.token_mask << 1) | (writer.in_token() ? 1u : 0u);
        const uint64_t starts = chunk.token_mask & ~token_before;
        const uint64_t ends = ~chunk.token_mask & token_before & inside;
        for (uint64_t events = starts | ends | chunk.newline_mask; events != 0; events &= events - 1) {
            const auto position = static_cast<size_t>(std::countr_zero(events));
            const uint64_t bit = uint64_t{1} << position;
            if (starts & bit) {
                writer.start_at(written + position);
                continue;
            }
            if (ends & bit) on_token(writer.token_until(written + position));
            if (chunk.newline_mask & bit) on_newline();
        }
        writer.set_in_token(((chunk.token_mask >> (chunk.length - 1)) & 1) != 0);
        writer.advance(chunk.length);
        at += chunk.length;
    }
    writer.finish(on_token);
}

}  // namespace tallygrams::scorer
