// The one entry into the scoring core: two UTF-8 texts in, nine numbers out.
// Pure and reentrant: no global state, no I/O, no error result.
#pragma once

#include <string_view>

#include "scorer/lcs.hpp"
#include "scorer/ngram_overlap.hpp"
#include "scorer/score_arithmetic.hpp"
#include "scorer/tokenizer.hpp"

namespace tallygrams::scorer {

// Both texts must be valid UTF-8. Swapping them swaps precision and recall.
inline PairScores score_pair(std::string_view reference, std::string_view prediction) {
    const TokenizedText ref = tokenize(reference);
    const TokenizedText pred = tokenize(prediction);
    const uint64_t n_r = ref.token_count();
    const uint64_t n_p = pred.token_count();

    PairScores scores;
    if (n_r >= 1 && n_p >= 1) {
        scores.rouge1 = score_from_counts(unigram_overlap(ref, pred), n_p, n_r);
    }
    if (n_r >= 2 && n_p >= 2) {
        scores.rouge2 = score_from_counts(bigram_overlap(ref, pred), n_p - 1, n_r - 1);
    }
    if (n_r >= 1 && n_p >= 1) {
        scores.rougeL = score_from_counts(lcs_length(ref, pred), n_p, n_r);
    }
    return scores;
}

}  // namespace tallygrams::scorer
