// One text as the native scorer takes it, once Python has done its part: the
// text's UTF-8 for the built-in tokenizers, NLTK's sentences if rougeLsum's
// sentences come from NLTK, or the token strings of the caller's own
// tokenizer. Views point into Python objects that the call keeps alive (str
// objects, which cannot change) or, for the caller's tokens, into copies of
// their UTF-8, so everything here can be read without the interpreter lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "boundary/py_ref.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/stemming/stemming.hpp"
#include "scorer/tokenizing/tokenized_text.hpp"
#include "scorer/tokenizing/tokenizers.hpp"
#include "scorer/tokenizing/unicode_tokenized_text.hpp"
#include "tallygrams_scorer/scorer_options.hpp"
#include "tallygrams_scorer/thread_stem_cache.hpp"

namespace tallygrams::companion {

struct PreparedText {
    std::string_view text;
    // Sentences split in Python (NLTK), for the built-in tokenizers:
    // `sentence_count` views from `first_sentence`.
    bool split = false;
    size_t first_sentence = 0;
    size_t sentence_count = 0;
    // The caller's tokenizer: the whole text's tokens, and, for rougeLsum,
    // each sentence's tokens one after another with sentence k ending at
    // ends[first_end + k] tokens from `first_sentence_token`.
    bool python_tokens = false;
    size_t first_token = 0;
    size_t token_count = 0;
    size_t first_sentence_token = 0;
    size_t first_end = 0;
    size_t end_count = 0;
};

// Bytes copied out of Python objects, in blocks that never move, so that
// views into them stay valid as more are added.
class CopiedBytes {
public:
    std::string_view copy(std::string_view bytes) {
        if (bytes.empty()) return {};
        if (bytes.size() > room_) {
            // A token longer than a block gets a block of its own.
            const size_t size = std::max(bytes.size(), kBlockBytes);
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
            next_ = blocks_.back().get();
            room_ = size;
        }
        char* at = next_;
        std::memcpy(at, bytes.data(), bytes.size());
        next_ += bytes.size();
        room_ -= bytes.size();
        return {at, bytes.size()};
    }

private:
    static constexpr size_t kBlockBytes = size_t{1} << 16;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    size_t room_ = 0;
};

// The views and sentence ends of all the texts of a call, and the Python
// objects they point into (released, with the lock held, with the store).
// The caller's tokens are copied rather than kept: millions of small str
// objects would take seconds to release when Ctrl-C stops a batch, and
// would hold more memory than their text.
struct PreparedStore {
    std::vector<std::string_view> views;
    std::vector<size_t> ends;
    std::vector<boundary::PyRef> kept;
    CopiedBytes token_bytes;
};

namespace detail {

template <class Transform>
scorer::TokenSequence tokenize_builtin(const TextRules& rules, std::string_view text, bool mark_lines,
                                       scorer::ScratchArena& arena, Transform transform) {
    if (rules.tokenizer == TokenizerKind::unicode) return scorer::tokenize_unicode(text, arena, mark_lines, transform);
    return scorer::tokenize_ascii(text, arena, mark_lines, transform);
}

template <class Transform>
scorer::TokenizedText tokenize_builtin_text(const TextRules& rules, const PreparedStore& store,
                                            const PreparedText& text, scorer::ScratchArena& arena,
                                            Transform transform) {
    const bool whole = rules.whole;
    const bool sentences = rules.sentences;
    if (!text.split) {
        // Lines are the sentences: one pass gives both.
        const scorer::TokenSequence tokens = tokenize_builtin(rules, text.text, sentences, arena, transform);
        return sentences ? scorer::TokenizedText::from_lines(tokens) : scorer::TokenizedText::whole_only(tokens);
    }
    scorer::TokenizedText result;
    if (whole) {
        result.whole = tokenize_builtin(rules, text.text, false, arena, transform);
        result.has_whole = true;
    }
    scorer::TokenSequenceBuilder builder(arena, 0, text.sentence_count);
    for (size_t k = 0; k < text.sentence_count; ++k) {
        if (k > 0) builder.end_sentence();
        const scorer::TokenSequence sentence =
            tokenize_builtin(rules, store.views[text.first_sentence + k], false, arena, transform);
        for (size_t i = 0; i < sentence.token_count; ++i) builder.add(sentence.tokens[i]);
    }
    result.sentences = builder.finish();
    result.has_sentences = true;
    return result;
}

inline scorer::TokenizedText python_tokens_text(const TextRules& rules, const PreparedStore& store,
                                                const PreparedText& text, scorer::ScratchArena& arena) {
    scorer::TokenizedText result;
    if (rules.whole) {
        scorer::TokenSequenceBuilder builder(arena, text.token_count, 1);
        for (size_t i = 0; i < text.token_count; ++i) builder.add_copy(store.views[text.first_token + i]);
        result.whole = builder.finish();
        result.has_whole = true;
    }
    if (rules.sentences) {
        const size_t total = text.end_count == 0 ? 0 : store.ends[text.first_end + text.end_count - 1];
        scorer::TokenSequenceBuilder builder(arena, total, text.end_count);
        size_t token = 0;
        for (size_t k = 0; k < text.end_count; ++k) {
            if (k > 0) builder.end_sentence();
            for (; token < store.ends[text.first_end + k]; ++token) {
                builder.add_copy(store.views[text.first_sentence_token + token]);
            }
        }
        result.sentences = builder.finish();
        result.has_sentences = true;
    }
    return result;
}

}  // namespace detail

// The text tokenized as the rules say, in `arena`.
inline scorer::TokenizedText tokenize_prepared(const TextRules& rules, const PreparedStore& store,
                                               const PreparedText& text, scorer::ScratchArena& arena) {
    if (text.python_tokens) return detail::python_tokens_text(rules, store, text, arena);
    if (rules.stem) {
        return detail::tokenize_builtin_text(rules, store, text, arena, scorer::CachedStemLongTokens{thread_stem_cache()});
    }
    return detail::tokenize_builtin_text(rules, store, text, arena, scorer::KeepToken{});
}

}  // namespace tallygrams::companion
