// The built-in tokenizers as TokenSequences: the ASCII tokenizer of
// token_walk.hpp (a token is a run of ASCII letters and digits, lower-cased),
// and an adapter for any tokenizer that reports tokens and line breaks
// through callbacks. Each takes a per-token transform (tokenized_text.hpp).
//
// Line breaks always separate tokens, so tokenizing a whole text and cutting
// its tokens at every '\n' gives the same sentences as splitting the text
// into lines and tokenizing each: the summary-level metric's sentences come
// from the one pass. Empty lines become empty sentences, which no metric
// counts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>
#include <type_traits>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/tokenizing/token_walk.hpp"
#include "scorer/tokenizing/tokenized_text.hpp"

namespace tallygrams::scorer {

namespace detail {

template <class Transform>
void add_normalized_tokens(const NormalizedText& normalized, TokenSequenceBuilder& builder, Transform& transform) {
    for_each_token(normalized, [&](size_t start, size_t length) {
        builder.add_transformed(std::string_view(normalized.bytes + start, length), transform);
    });
}

}  // namespace detail

// The tokens of `text` (valid UTF-8), with a sentence end at every '\n' when
// `mark_lines` is set. Token texts point into the normalised text, or into
// the store for what the transform writes.
template <class Transform = KeepToken>
TokenSequence tokenize_ascii(std::string_view text, ScratchArena& arena, bool mark_lines, Transform transform = {}) {
    const NormalizedText normalized = normalize(text, arena);
    const size_t newlines = mark_lines ? static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) : 0;
    // Normalising keeps every byte in place except for one character, U+212A
    // KELVIN SIGN, whose three bytes become one "k". When the lengths agree,
    // a line break's offset in the text is its offset in the normalised text,
    // and the token walk is cut there; otherwise each line is normalised on
    // its own.
    if (newlines > 0 && normalized.length != text.size()) {
        TokenSequenceBuilder builder(arena, count_tokens(normalized), newlines + 1);
        size_t line_start = 0;
        for (;;) {
            const size_t line_end = std::min(text.find('\n', line_start), text.size());
            detail::add_normalized_tokens(normalize(text.substr(line_start, line_end - line_start), arena), builder,
                                          transform);
            if (line_end == text.size()) break;
            builder.end_sentence();
            line_start = line_end + 1;
        }
        return builder.finish();
    }

    // The token count is known (a transform only ever drops tokens), so the
    // arrays are filled through plain locals, which the compiler keeps in
    // registers.
    TokenStore store(arena);
    auto* const tokens = arena.allocate<std::string_view>(count_tokens(normalized));
    auto* const ends = arena.allocate<size_t>(newlines + 1);
    std::string_view* __restrict out = tokens;
    size_t* __restrict end = ends;
    if (newlines == 0) {  // the common case, in a loop of its own that keeps `out` in a register
        for_each_token_text(normalized, [&](const char* start, size_t length) __attribute__((always_inline)) {
            const std::string_view token = transform(std::string_view(start, length), store);
            *out = token;
            // The walk never makes an empty token; only a transform can.
            if constexpr (std::is_same_v<Transform, KeepToken>) {
                ++out;
            } else {
                out += token.empty() ? 0 : 1;
            }
        });
        const auto count = static_cast<size_t>(out - tokens);
        *end++ = count;
        return TokenSequence{tokens, count, ends, 1};
    }
    // A line break at offset k of the text is at normalized.bytes + k.
    const char* next_newline = normalized.bytes + text.find('\n');
    for_each_token_text(normalized, [&](const char* start, size_t length) {
        while (next_newline < start) [[unlikely]] {
            *end++ = static_cast<size_t>(out - tokens);
            const size_t found = text.find('\n', static_cast<size_t>(next_newline - normalized.bytes) + 1);
            next_newline = found == std::string_view::npos ? normalized.bytes + normalized.padded_length
                                                           : normalized.bytes + found;
        }
        const std::string_view token = transform(std::string_view(start, length), store);
        *out = token;
        out += token.empty() ? 0 : 1;
    });
    size_t next_newline_offset = static_cast<size_t>(next_newline - normalized.bytes);
    for (; next_newline_offset < text.size(); next_newline_offset = text.find('\n', next_newline_offset + 1)) {
        *end++ = static_cast<size_t>(out - tokens);
    }
    const auto count = static_cast<size_t>(out - tokens);
    *end++ = count;
    return TokenSequence{tokens, count, ends, static_cast<size_t>(end - ends)};
}

// Sentences split by the caller (for instance by a sentence splitter), each
// tokenized on its own.
template <class Transform = KeepToken>
TokenSequence tokenize_ascii_sentences(std::span<const std::string_view> sentences, ScratchArena& arena,
                                       Transform transform = {}) {
    TokenSequenceBuilder builder(arena, 0, sentences.size());
    for (size_t k = 0; k < sentences.size(); ++k) {
        if (k > 0) builder.end_sentence();
        detail::add_normalized_tokens(normalize(sentences[k], arena), builder, transform);
    }
    return builder.finish();
}

// A text for a configuration: tokenized once, with its lines as sentences
// when the summary-level metric needs them.
template <class Transform = KeepToken>
TokenizedText tokenize_ascii_text(std::string_view text, ScratchArena& arena, bool with_sentences,
                                  Transform transform = {}) {
    const TokenSequence tokens = tokenize_ascii(text, arena, with_sentences, transform);
    return with_sentences ? TokenizedText::from_lines(tokens) : TokenizedText::whole_only(tokens);
}

// Any tokenizer that reports its tokens and line breaks through callbacks:
//     for_each(on_token /* (std::string_view) */, on_newline /* () */)
// Its token views need not be padded; each is copied into the store before
// the transform sees it. The tokenizer for every script plugs in this way
// (unicode_tokenized_text.hpp).
template <class ForEach, class Transform = KeepToken>
TokenSequence collect_tokens(ForEach&& for_each, ScratchArena& arena, bool mark_lines, Transform transform = {}) {
    TokenSequenceBuilder builder(arena);
    for_each([&](std::string_view token) { builder.add_transformed(builder.store().copy(token), transform); },
             [&] {
                 if (mark_lines) builder.end_sentence();
             });
    return builder.finish();
}

}  // namespace tallygrams::scorer
