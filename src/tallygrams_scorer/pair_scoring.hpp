// Scoring prepared pairs (prepared_text.hpp) without the interpreter lock.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "boundary/py_err.hpp"
#include "scorer/configurable_scorer.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/stop_signal.hpp"
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
// per metric whether rouge-score's zero is the integers 0. False, with `out`
// unfinished, if `stop` (the run's interruption flag) abandoned the pair
// part-way: a long pair is given up within milliseconds of Ctrl-C.
inline bool score_prepared_pair(const ScorerOptions& options, const TextRules& rules, const PreparedStore& store,
                                std::span<const PreparedText> references, const PreparedText& prediction,
                                scorer::Score* out, bool* integer_zeros, scorer::StopSignal stop) {
    scorer::ScratchArena arena;
    auto* tokenized = arena.allocate<scorer::TokenizedText>(references.size());
    for (size_t r = 0; r < references.size(); ++r) tokenized[r] = tokenize_prepared(rules, store, references[r], arena);
    const scorer::TokenizedText predicted = tokenize_prepared(rules, store, prediction, arena);
    try {
        scorer::score_tokenized(options.config, std::span<const scorer::TokenizedText>(tokenized, references.size()),
                                predicted, out, arena, integer_zeros, stop);
    } catch (const scorer::PairAbandoned&) {
        return false;
    }
    return true;
}

// Every pair, with the lock released, on the pool unless it is one quick
// pair; pair i's results go to row first_row + i of `results`. Ctrl-C stops
// it, even inside a long pair, and the error is then KeyboardInterrupt.
boundary::Status score_prepared(const ScorerOptions& options, const PreparedPairs& pairs, PairResults& results,
                                size_t first_row = 0);

}  // namespace tallygrams::companion
