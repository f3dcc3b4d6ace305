// The default scorer, one of the scoring core's two entries (the other,
// configurable_scorer.hpp, takes every rouge-score configuration): two
// UTF-8 texts in, the nine numbers of rouge1, rouge2 and rougeL out.
// Reentrant, with no I/O and no error result. Its one piece of global state,
// the token hash's seed (drawn once per process), decides no score. A
// broken invariant inside unwinds as an InternalFailure for the caller to
// report.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/pair_counts.hpp"
#include "scorer/numbering/token_numbering.hpp"
#include "scorer/score_arithmetic.hpp"

namespace tallygrams::scorer {

namespace detail {

// The three scores of numbered tokens.
template <class Id>
PairScores score_numbered_tokens(const NumberedTokens<Id>& tokens, ScratchArena& arena) {
    const uint64_t n_r = tokens.reference_count;
    const uint64_t n_p = tokens.prediction_count;
    PairScores scores;
    if (n_r == 0 || n_p == 0) return scores;
    const PairCounts counts = pair_counts(tokens, arena);
    scores.rouge1 = score_from_counts(counts.unigrams, n_p, n_r);
    if (n_r >= 2 && n_p >= 2) scores.rouge2 = score_from_counts(counts.bigrams, n_p - 1, n_r - 1);
    scores.rougeL = score_from_counts(counts.lcs, n_p, n_r);
    return scores;
}

// `hash` is for tests, which show that no score depends on it.
template <class Id, class Hash = TokenHash>
PairScores score_numbered(std::string_view reference, std::string_view prediction, const Hash& hash = Hash()) {
    ScratchArena arena;
    return score_numbered_tokens(number_tokens<Id>(reference, prediction, arena, hash), arena);
}

}  // namespace detail

// Both texts must be valid UTF-8. Swapping them swaps precision and recall.
inline PairScores score_pair(std::string_view reference, std::string_view prediction) {
    // 32-bit ids and offsets whenever both texts are shorter than 4 GiB.
    constexpr size_t kNarrowLimit = std::numeric_limits<uint32_t>::max() - 64;
    if (reference.size() < kNarrowLimit && prediction.size() < kNarrowLimit) {
        return detail::score_numbered<uint32_t>(reference, prediction);
    }
    return detail::score_numbered<uint64_t>(reference, prediction);
}

}  // namespace tallygrams::scorer
