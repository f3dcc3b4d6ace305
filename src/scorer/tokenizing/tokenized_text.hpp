// Tokenized text, whatever produced the tokens: the built-in tokenizers, a
// stemmer applied on top of them, or token strings a caller hands in. Token
// texts are views that obey the padding rule of token_store.hpp; the arrays
// and the texts live in the arena the text was built in.
//
// A text carries up to two token sequences. `whole` is the text tokenized in
// one go (n-gram metrics and whole-text LCS). `sentences` is the text cut into
// sentences, each tokenized on its own (summary-level LCS). When sentences are
// the text's lines and the tokenizer never lets a token span a line break,
// both are the same sequence, and the text is tokenized once. A caller whose
// sentences are not lines (a sentence splitter, a tokenizer of its own that
// must see each sentence) builds the two separately.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/tokenizing/token_store.hpp"

namespace tallygrams::scorer {

// Tokens in order, grouped into sentences: sentence k holds the tokens from
// the previous sentence's end (0 for the first) up to sentence_ends[k]. A
// sentence may be empty; a sequence used only as a whole has one sentence.
struct TokenSequence {
    const std::string_view* tokens = nullptr;
    size_t token_count = 0;
    const size_t* sentence_ends = nullptr;
    size_t sentence_count = 0;

    std::string_view token(size_t i) const noexcept { return tokens[i]; }
    bool same_tokens_as(const TokenSequence& other) const noexcept {
        return tokens == other.tokens && token_count == other.token_count;
    }
};

struct TokenizedText {
    TokenSequence whole;
    TokenSequence sentences;
    bool has_whole = false;
    bool has_sentences = false;

    // A text whose sentences are its lines, tokenized once.
    static TokenizedText from_lines(const TokenSequence& lines) noexcept { return {lines, lines, true, true}; }
    static TokenizedText whole_only(const TokenSequence& whole) noexcept { return {whole, {}, true, false}; }
    static TokenizedText sentences_only(const TokenSequence& sentences) noexcept {
        return {{}, sentences, false, true};
    }
};

// The per-token transform hook of the built-in tokenizers. A transform is
// called as transform(token, store) and returns the text to use instead:
// `token` itself or a part of it, or text it wrote into store.room() and kept
// with store.commit(). An empty result drops the token, as the default
// tokenizer's final filter does. The Porter stemmer plugs in this way
// (stemming.hpp).
struct KeepToken {
    std::string_view operator()(std::string_view token, TokenStore&) const noexcept { return token; }
};

// Builds a TokenSequence one token at a time, for tokenizers that do not know
// their token count in advance. Arrays grow by doubling in the arena; what a
// growth leaves behind is given back with the arena scope.
class TokenSequenceBuilder {
public:
    // `expected_tokens` and `expected_sentences` size the first arrays; exact
    // values mean no growth at all.
    explicit TokenSequenceBuilder(ScratchArena& arena, size_t expected_tokens = 0, size_t expected_sentences = 0)
        : arena_(&arena), store_(arena) {
        reserve_tokens(std::max<size_t>(expected_tokens, 8));
        reserve_ends(std::max<size_t>(expected_sentences, 1) + 1);
    }

    // A token whose text already obeys the padding rule.
    void add(std::string_view padded_token) {
        if (token_count_ == token_capacity_) [[unlikely]] reserve_tokens(2 * token_capacity_);
        tokens_[token_count_++] = padded_token;
    }

    // A token from anywhere: its text is copied into the store.
    void add_copy(std::string_view token) { add(store_.copy(token)); }

    // A padded token put through a transform; dropped if the result is empty.
    template <class Transform>
    void add_transformed(std::string_view padded_token, Transform& transform) {
        const std::string_view result = transform(padded_token, store_);
        if (!result.empty()) add(result);
    }

    void end_sentence() {
        if (end_count_ == end_capacity_) [[unlikely]] reserve_ends(2 * end_capacity_);
        ends_[end_count_++] = token_count_;
    }

    TokenStore& store() noexcept { return store_; }
    size_t token_count() const noexcept { return token_count_; }

    // Closes the last sentence. The builder must not be used afterwards.
    TokenSequence finish() {
        end_sentence();
        return TokenSequence{tokens_, token_count_, ends_, end_count_};
    }

private:
    void reserve_tokens(size_t capacity) {
        auto* grown = arena_->allocate<std::string_view>(capacity);
        if (token_count_ > 0) std::memcpy(static_cast<void*>(grown), tokens_, token_count_ * sizeof(std::string_view));
        tokens_ = grown;
        token_capacity_ = capacity;
    }
    void reserve_ends(size_t capacity) {
        auto* grown = arena_->allocate<size_t>(capacity);
        if (end_count_ > 0) std::memcpy(grown, ends_, end_count_ * sizeof(size_t));
        ends_ = grown;
        end_capacity_ = capacity;
    }

    ScratchArena* arena_;
    TokenStore store_;
    std::string_view* tokens_ = nullptr;
    size_t token_count_ = 0;
    size_t token_capacity_ = 0;
    size_t* ends_ = nullptr;
    size_t end_count_ = 0;
    size_t end_capacity_ = 0;
};

}  // namespace tallygrams::scorer
