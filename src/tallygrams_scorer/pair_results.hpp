// What scoring a pair writes, and the dict of Scores it becomes.
#pragma once

#include <cstddef>
#include <vector>

#include "boundary/py_err.hpp"
#include "scorer/rouge_types.hpp"
#include "scorer/score_arithmetic.hpp"
#include "tallygrams_scorer/module_state.hpp"
#include "tallygrams_scorer/scorer_options.hpp"

namespace tallygrams::companion {

// One Score per metric of the configuration, for each of `pairs` pairs, and
// per metric whether rouge-score gives its zero as the integers 0.
struct PairResults {
    explicit PairResults(size_t pairs, size_t metrics)
        : metrics(metrics), scores(pairs * metrics), integer_zeros(pairs * metrics) {}

    size_t pairs() const noexcept { return metrics == 0 ? 0 : scores.size() / metrics; }
    scorer::Score* scores_of(size_t pair) noexcept { return scores.data() + pair * metrics; }
    bool* zeros_of(size_t pair) noexcept { return reinterpret_cast<bool*>(integer_zeros.data() + pair * metrics); }

    size_t metrics;
    std::vector<scorer::Score> scores;
    std::vector<unsigned char> integer_zeros;
};

// {key: Score} for pair `pair`, keys in the options' order.
boundary::Result<boundary::PyRef> pair_result_dict(const ModuleState& state, const ScorerOptions& options,
                                                   PairResults& results, size_t pair);

}  // namespace tallygrams::companion
