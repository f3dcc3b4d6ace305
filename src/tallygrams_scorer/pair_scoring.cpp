#include "tallygrams_scorer/pair_scoring.hpp"

#include <algorithm>

#include "boundary/pool_access.hpp"
#include "boundary/run_interruptible.hpp"
#include "engine/range_runner.hpp"

namespace tallygrams::companion {
namespace {

// The most tokens a prepared text can give: its bytes for the built-in
// tokenizers (a token takes at least one), its tokens for the caller's.
size_t token_bound(const PreparedStore& store, const PreparedText& text) {
    if (!text.python_tokens) return text.text.size() + 1;
    const size_t sentence_tokens = text.end_count == 0 ? 0 : store.ends[text.first_end + text.end_count - 1];
    return std::max(text.token_count, sentence_tokens) + 1;
}

// A lone pair whose texts' token counts multiply to no more than this
// (two texts of 2,000 tokens, or fewer) is over within a millisecond or so
// in any metric.
constexpr size_t kQuickPairProduct = size_t{1} << 22;

// Whether the pairs are no more than one quick pair: scored on the calling
// thread, it skips the hand-over to the pool, which would cost more than
// the pair itself, and is too short for Ctrl-C to need seeing inside it.
// Other pairs go to the pool, the calling thread free to poll for Ctrl-C
// meanwhile.
bool lone_quick_pair(const PreparedPairs& pairs) {
    if (pairs.predictions.empty()) return true;
    if (pairs.predictions.size() > 1) return false;
    size_t references = 0;
    for (const PreparedText& text : pairs.references) references += token_bound(pairs.store, text);
    const size_t prediction = token_bound(pairs.store, pairs.predictions[0]);
    return references <= kQuickPairProduct / prediction;
}

}  // namespace

boundary::Status score_prepared(const ScorerOptions& options, const PreparedPairs& pairs, PairResults& results,
                                size_t first_row) {
    const size_t n = pairs.predictions.size();
    const TextRules rules = options.rules();
    const bool quick = lone_quick_pair(pairs);
    engine::WorkerPool* pool = nullptr;
    if (!quick) {
        boundary::Result<engine::WorkerPool*> obtained = boundary::worker_pool();
        if (!obtained) return std::move(obtained).take_error();
        pool = obtained.value();
    }
    boundary::Result<size_t> done = boundary::run_interruptible([&](engine::Interruption& interruption) {
        const auto leaf = [&](size_t start, size_t end) {
            for (size_t i = start; i < end; ++i) {
                if (interruption.stopped()) return i - start;
                const size_t first = pairs.first_reference[i];
                const std::span<const PreparedText> references(pairs.references.data() + first,
                                                               pairs.first_reference[i + 1] - first);
                if (!score_prepared_pair(options, rules, pairs.store, references, pairs.predictions[i],
                                         results.scores_of(first_row + i), results.zeros_of(first_row + i),
                                         scorer::StopSignal(interruption.flag()))) {
                    return i - start;
                }
            }
            return end - start;
        };
        return quick ? leaf(0, n) : engine::run_ranges(*pool, n, leaf, &interruption);
    });
    if (!done) return std::move(done).take_error();
    return boundary::Unit{};
}

}  // namespace tallygrams::companion
