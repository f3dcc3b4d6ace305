// Scoring prepared pairs (prepared_text.hpp) without the interpreter lock.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "boundary/py_err.hpp"
#include "scorer/configurable_scorer.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "tallygrams_scorer/pair_results.hpp"
#include "tallygrams_scorer/prepared_text.hpp"
#include "tallygrams_scorer/scorer_options.hpp"

namespace tallygrams::companion {

// The pairs of a call, ready to score: reference texts grouped by pair.
struct PreparedPairs {
    PreparedStore store;
    std::vector<PreparedText> references;
    std::vector<size_t> first_reference;  // pair i's references: [first_reference[i], first_reference[i + 1])
    std::vector<PreparedText> predictions;
};

// One prediction against its references: config.size() Scores to `out`, and
// per metric whether rouge-score's zero is the integers 0.
inline void score_prepared_pair(const ScorerOptions& options, const TextRules& rules, const PreparedStore& store,
                                std::span<const PreparedText> references, const PreparedText& prediction,
                                scorer::Score* out, bool* integer_zeros) {
    scorer::ScratchArena arena;
    auto* tokenized = arena.allocate<scorer::TokenizedText>(references.size());
    for (size_t r = 0; r < references.size(); ++r) tokenized[r] = tokenize_prepared(rules, store, references[r], arena);
    const scorer::TokenizedText predicted = tokenize_prepared(rules, store, prediction, arena);
    scorer::score_tokenized(options.config, std::span<const scorer::TokenizedText>(tokenized, references.size()),
                            predicted, out, arena, integer_zeros);
}

// Every pair, with the lock released, on the pool when there are several;
// Ctrl-C stops it, and the error is then KeyboardInterrupt.
boundary::Result<PairResults> score_prepared(const ScorerOptions& options, const PreparedPairs& pairs);

}  // namespace tallygrams::companion
