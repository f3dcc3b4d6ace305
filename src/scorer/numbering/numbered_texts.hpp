// Numbering the tokens of a prediction and its references, from token texts
// to small integers, so that every metric compares integers. The
// prediction's distinct tokens are numbered once, and each reference is only
// looked up: a reference token the prediction lacks can match nothing in any
// metric, so all of those share one extra number, `absent`. The prediction
// is thus numbered once however many references it is scored against.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string_view>
#include <utility>

#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/numbering/id_sequence.hpp"
#include "scorer/numbering/token_numbering.hpp"
#include "scorer/tokenizing/tokenized_text.hpp"

namespace tallygrams::scorer {

template <class Id>
struct NumberedText {
    IdSequence<Id> whole;
    IdSequence<Id> sentences;
};

template <class Id>
struct NumberedTexts {
    NumberedText<Id> prediction;
    const NumberedText<Id>* references = nullptr;
    size_t reference_count = 0;
    Id distinct = 0;  // prediction ids are 0 .. distinct-1
    Id absent() const noexcept { return distinct; }
};

namespace detail {

// Token texts to ids. An empty token (only a caller's own tokenizer makes
// one) cannot go through the text table, so it gets the number after the
// table's last once the prediction is done.
template <class Id>
class PredictionVocabulary {
public:
    PredictionVocabulary(size_t max_tokens, ScratchArena& arena) : numbering_(max_tokens, arena) {}

    void number(const TokenSequence& tokens, Id* __restrict out) {
        saw_empty_ |= numbering_.number_each(tokens.tokens, tokens.token_count, out, kEmptyMark);
    }

    // Ends numbering; returns the number of distinct prediction tokens.
    // `numbered` are the arrays number() filled, each once.
    Id finish(std::span<const std::pair<Id*, size_t>> numbered) {
        const Id distinct = numbering_.distinct();
        empty_id_ = distinct;
        if (!saw_empty_) return distinct;
        for (const auto& [ids, count] : numbered) {
            for (size_t i = 0; i < count; ++i) {
                if (ids[i] == kEmptyMark) ids[i] = empty_id_;
            }
        }
        return distinct + 1;
    }

    void look_up(const TokenSequence& tokens, Id absent, Id* __restrict out) const {
        numbering_.find_each(tokens.tokens, tokens.token_count, absent, saw_empty_ ? empty_id_ : absent, out);
    }

private:
    static constexpr Id kEmptyMark = std::numeric_limits<Id>::max();

    TokenNumbering<Id> numbering_;
    bool saw_empty_ = false;
    Id empty_id_ = 0;
};

}  // namespace detail

// Numbers the whole-text tokens (`whole`) and the sentence tokens
// (`sentences`) of every text; each text must carry the parts asked for.
// The id arrays live in the arena's current scope; the numbering table is
// given back before returning.
template <class Id>
NumberedTexts<Id> number_texts(std::span<const TokenizedText> references, const TokenizedText& prediction,
                               bool whole, bool sentences, ScratchArena& arena) {
    // Where a text's ids go. Sentences that are the whole text's tokens
    // share its array.
    struct Slots {
        Id* whole = nullptr;
        Id* sentences = nullptr;
        bool separate_sentences = false;
    };
    const auto slots_for = [&](const TokenizedText& text) {
        ensure(!whole || text.has_whole, "a text lacks the whole-text tokens a metric needs");
        ensure(!sentences || text.has_sentences, "a text lacks the sentences a metric needs");
        Slots slots;
        if (whole) slots.whole = arena.allocate<Id>(text.whole.token_count);
        slots.separate_sentences = sentences && !(whole && text.whole.same_tokens_as(text.sentences));
        if (sentences) {
            slots.sentences = slots.separate_sentences ? arena.allocate<Id>(text.sentences.token_count) : slots.whole;
        }
        return slots;
    };
    const auto numbered_text = [&](const TokenizedText& text, const Slots& slots) {
        NumberedText<Id> numbered;
        if (whole) {
            numbered.whole = {slots.whole, text.whole.token_count, text.whole.sentence_ends, text.whole.sentence_count};
        }
        if (sentences) {
            numbered.sentences = {slots.sentences, text.sentences.token_count, text.sentences.sentence_ends,
                                  text.sentences.sentence_count};
        }
        return numbered;
    };

    const Slots prediction_slots = slots_for(prediction);
    auto* reference_slots = arena.allocate<Slots>(references.size());
    for (size_t r = 0; r < references.size(); ++r) reference_slots[r] = slots_for(references[r]);
    auto* reference_texts = arena.allocate<NumberedText<Id>>(references.size());

    const ArenaScope working(arena);
    const size_t prediction_tokens = (whole ? prediction.whole.token_count : 0) +
                                     (prediction_slots.separate_sentences ? prediction.sentences.token_count : 0);
    detail::PredictionVocabulary<Id> vocabulary(prediction_tokens, arena);
    std::pair<Id*, size_t> filled[2];
    size_t filled_count = 0;
    if (whole) {
        vocabulary.number(prediction.whole, prediction_slots.whole);
        filled[filled_count++] = {prediction_slots.whole, prediction.whole.token_count};
    }
    if (prediction_slots.separate_sentences) {
        vocabulary.number(prediction.sentences, prediction_slots.sentences);
        filled[filled_count++] = {prediction_slots.sentences, prediction.sentences.token_count};
    }

    NumberedTexts<Id> numbered;
    numbered.distinct = vocabulary.finish(std::span(filled, filled_count));
    numbered.prediction = numbered_text(prediction, prediction_slots);
    for (size_t r = 0; r < references.size(); ++r) {
        const Slots& slots = reference_slots[r];
        if (whole) vocabulary.look_up(references[r].whole, numbered.absent(), slots.whole);
        if (slots.separate_sentences) vocabulary.look_up(references[r].sentences, numbered.absent(), slots.sentences);
        reference_texts[r] = numbered_text(references[r], slots);
    }
    numbered.references = reference_texts;
    numbered.reference_count = references.size();
    return numbered;
}

}  // namespace tallygrams::scorer
