#include "tallygrams_scorer/pair_scoring.hpp"

#include "boundary/run_interruptible.hpp"
#include "engine/pool/global_pool.hpp"
#include "engine/range_runner.hpp"

namespace tallygrams::companion {

boundary::Result<PairResults> score_prepared(const ScorerOptions& options, const PreparedPairs& pairs) {
    const size_t n = pairs.predictions.size();
    PairResults results(n, options.config.size());
    const TextRules rules = options.rules();
    boundary::Result<size_t> done = boundary::run_interruptible([&](engine::Interruption& interruption) {
        return engine::run_ranges(engine::global_pool(), n, [&](size_t start, size_t end) {
            for (size_t i = start; i < end; ++i) {
                if (interruption.stopped()) return i - start;
                const size_t first = pairs.first_reference[i];
                const std::span<const PreparedText> references(pairs.references.data() + first,
                                                               pairs.first_reference[i + 1] - first);
                score_prepared_pair(options, rules, pairs.store, references, pairs.predictions[i],
                                    results.scores_of(i), results.zeros_of(i));
            }
            return end - start;
        }, &interruption);
    });
    if (!done) return std::move(done).take_error();
    return results;
}

}  // namespace tallygrams::companion
