// ROUGE-N's hits: for each n and each reference, the n-grams the prediction
// shares with it, each n-gram counted at most as often as it occurs in
// either text (the script's clipped count). n-grams are numbered level by
// level with the core's exact n-gram numbering (metrics/ngram_levels.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/ngram_levels.hpp"
#include "scorer/numbering/id_sequence.hpp"
#include "scorer/rouge155/vocabulary.hpp"

namespace tallygrams::scorer::rouge155 {

namespace details {

// Σ min(count in reference, count in prediction) over gram ids. Prediction
// grams are below `bound`; reference grams at `bound` match nothing.
// `counts` has bound + 1 zeroed slots, and is zeroed again on return.
inline uint64_t clipped_overlap(const WordId* prediction, size_t prediction_count, const WordId* reference,
                                size_t reference_count, uint32_t* counts) noexcept {
    for (size_t i = 0; i < reference_count; ++i) ++counts[reference[i]];
    uint64_t overlap = 0;
    for (size_t i = 0; i < prediction_count; ++i) {
        uint32_t& count = counts[prediction[i]];
        const uint32_t take = count > 0 ? 1 : 0;
        count -= take;
        overlap += take;
    }
    for (size_t i = 0; i < reference_count; ++i) counts[reference[i]] = 0;
    return overlap;
}

}  // namespace details

// hits[(n - 1) * references.size() + r] for n = 1 .. max_n. Prediction words
// are below `distinct`; references' other words are `distinct`.
inline void count_ngram_hits(const IdSequence<WordId>& prediction, std::span<const IdSequence<WordId>> references,
                             WordId distinct, int max_n, uint64_t* hits, ScratchArena& arena) {
    const ArenaScope scope(arena);
    const size_t texts = references.size() + 1;
    const size_t refs = references.size();
    for (size_t k = 0; k < static_cast<size_t>(max_n) * refs; ++k) hits[k] = 0;
    if (max_n < 1 || prediction.count == 0) return;

    GramText<WordId>* grams = arena.allocate<GramText<WordId>>(texts);
    const auto text_at = [&](size_t t) -> const IdSequence<WordId>& { return t == 0 ? prediction : references[t - 1]; };
    for (size_t t = 0; t < texts; ++t) {
        const IdSequence<WordId>& text = text_at(t);
        WordId* copy = arena.allocate<WordId>(text.count + 1);
        for (size_t i = 0; i < text.count; ++i) copy[i] = text.ids[i];
        grams[t] = GramText<WordId>{copy, text.ids, text.count};
    }
    WordId bound = distinct;
    for (int n = 1; n <= max_n && prediction.count >= static_cast<size_t>(n); ++n) {
        if (n > 1) bound = advance_ngram_level<WordId>(static_cast<size_t>(n), std::span(grams, texts), bound, distinct, arena);
        const ArenaScope level(arena);
        uint32_t* counts = arena.allocate_zeroed<uint32_t>(size_t{bound} + 1);
        const size_t prediction_grams = prediction.count - static_cast<size_t>(n) + 1;
        for (size_t r = 0; r < refs; ++r) {
            const size_t count = grams[r + 1].token_count;
            const size_t reference_grams = count >= static_cast<size_t>(n) ? count - static_cast<size_t>(n) + 1 : 0;
            hits[(static_cast<size_t>(n) - 1) * refs + r] =
                details::clipped_overlap(grams[0].grams, prediction_grams, grams[r + 1].grams, reference_grams, counts);
        }
    }
}

}  // namespace tallygrams::scorer::rouge155
