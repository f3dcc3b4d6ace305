#include "engine/rouge155/evaluation.hpp"

#include <algorithm>
#include <memory>

#include "common/arithmetic.hpp"
#include "common/internal_failure.hpp"
#include "engine/memory_capacity.hpp"
#include "engine/range_runner.hpp"
#include "engine/statistics/script_resampling.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/rouge155/averages.hpp"
#include "scorer/rouge155/score_pair.hpp"
#include "scorer/rouge155/vocabulary.hpp"

namespace tallygrams::engine {

namespace rouge155 = scorer::rouge155;

namespace {

// Pairs share a vocabulary in runs of this many text bytes at most, which
// bounds the memory of its table's fallback.
constexpr size_t kRunBytes = size_t{1} << 20;

// One stem cache per thread, kept for the thread's life: an evaluation stems
// the same few thousand words over and over, and the runs of pairs that
// share a vocabulary are short.
rouge155::ScriptStemCache& thread_stem_cache() {
    thread_local std::unique_ptr<rouge155::ScriptStemCache> cache;
    if (!cache) cache = std::make_unique<rouge155::ScriptStemCache>();
    return *cache;
}

size_t pair_bytes(const Rouge155Pairs& pairs, size_t i) {
    size_t bytes = pairs.predictions[i].size();
    for (size_t r = pairs.first_reference[i]; r < pairs.first_reference[i + 1]; ++r) bytes += pairs.references[r].size();
    return bytes;
}

// Scores pairs [start, end) into `figures`; returns how many it scored.
size_t score_range(const rouge155::Options& options, std::span<const rouge155::Measure> measures,
                   const Rouge155Pairs& pairs, size_t start, size_t end, rouge155::PairFigures* figures,
                   Interruption* interruption) {
    // A long pair's LCS tables look at the interruption's flag too, so that
    // Ctrl-C does not wait for the rest of the pair.
    rouge155::PairScorer scorer(options, measures,
                                interruption != nullptr ? scorer::StopSignal(interruption->flag()) : scorer::StopSignal());
    scorer::ScratchArena pair_arena;
    size_t i = start;
    while (i < end) {
        // A run: pairs while their bytes fit, at least one.
        size_t run_end = i;
        size_t texts = 0;
        size_t bytes = 0;
        while (run_end < end && (run_end == i || bytes + pair_bytes(pairs, run_end) <= kRunBytes)) {
            const size_t b = pair_bytes(pairs, run_end);
            bytes += b;
            texts += 1 + pairs.first_reference[run_end + 1] - pairs.first_reference[run_end];
            ++run_end;
        }
        scorer::ScratchArena run_arena;
        // Every token is followed by a separator or ends its text, and a cut
        // adds at most one per reading of a text.
        rouge155::Vocabulary vocabulary(options, bytes / 2 + 2 * texts + 1, run_arena,
                                        options.stem ? &thread_stem_cache() : nullptr);
        for (; i < run_end; ++i) {
            if (interruption != nullptr && interruption->stopped()) return i - start;
            const size_t first = pairs.first_reference[i];
            const std::span<const std::string_view> references(pairs.references.data() + first,
                                                                pairs.first_reference[i + 1] - first);
            try {
                scorer.score(pairs.predictions[i], references, vocabulary, pair_arena, figures + i * measures.size());
            } catch (const scorer::PairAbandoned&) {
                return i - start;
            }
        }
    }
    return end - start;
}

}  // namespace

size_t rouge155_memory(const rouge155::Options& options, size_t pairs) {
    const size_t m = rouge155::measures_of(options).size();
    const auto sum = [](size_t a, size_t b) { return a > SIZE_MAX - b ? SIZE_MAX : a + b; };
    size_t bytes = memory_product(memory_product(pairs, m), sizeof(rouge155::PairFigures));
    if (options.units != rouge155::Units::counts) {
        // The rows, and the bootstrap's padded copy of them.
        bytes = sum(bytes, memory_product(memory_product(pairs, 2 * 3 * m), sizeof(double)));
        bytes = sum(bytes, memory_product(memory_product(options.resamples, 3 * m), sizeof(double)));
    }
    return bytes;
}

std::optional<Rouge155Evaluation> evaluate_rouge155(WorkerPool& pool, const rouge155::Options& options,
                                                    const Rouge155Pairs& pairs, Interruption* interruption) {
    const size_t n = pairs.predictions.size();
    ensure(pairs.first_reference.size() == n + 1, "pairs without their reference ranges");
    Rouge155Evaluation evaluation;
    evaluation.measures = rouge155::measures_of(options);
    const size_t m = evaluation.measures.size();
    evaluation.figures.resize(n * m);
    // The pool splits work into many small pieces; pairs go in chunks of at
    // least kChunkPairs, so that a vocabulary serves many pairs.
    constexpr size_t kChunkPairs = 128;
    const size_t chunks = std::max<size_t>(1, std::min(ceil_div(n, kChunkPairs), 8 * pool.worker_count()));
    const size_t chunk_pairs = ceil_div(n, chunks);
    const size_t scored = run_ranges(pool, chunks, [&](size_t first_chunk, size_t end_chunk) {
        const size_t start = std::min(n, first_chunk * chunk_pairs);
        const size_t end = std::min(n, end_chunk * chunk_pairs);
        const size_t done = score_range(options, evaluation.measures, pairs, start, end, evaluation.figures.data(),
                                        interruption);
        return done == end - start ? end_chunk - first_chunk : 0;
    }, interruption);
    if (scored != chunks) return std::nullopt;

    const std::vector<size_t> order = rouge155::script_order(n);
    evaluation.summaries.resize(m);
    if (options.units == rouge155::Units::counts) {
        for (size_t k = 0; k < m; ++k) {
            const rouge155::CountTotals t = rouge155::count_totals(evaluation.figures.data() + k, m, order);
            evaluation.summaries[k].totals[0] = t.reference;
            evaluation.summaries[k].totals[1] = t.prediction;
            evaluation.summaries[k].totals[2] = t.hits;
        }
        return evaluation;
    }
    const bool counts = options.units == rouge155::Units::tokens;
    std::vector<double> rows(n * 3 * m);
    for (size_t k = 0; k < n; ++k) {
        for (size_t j = 0; j < m; ++j) {
            const rouge155::PairFigures& f = evaluation.figures[order[k] * m + j];
            double* row = rows.data() + k * 3 * m + 3 * j;
            row[0] = counts ? f.reference : f.recall;
            row[1] = counts ? f.prediction : f.precision;
            row[2] = counts ? f.hits : f.f;
        }
    }
    ScriptResampling settings;
    settings.resamples = options.resamples;
    settings.confidence = options.confidence;
    settings.counts = counts;
    settings.alpha = options.alpha;
    const auto intervals = resample_like_the_script(pool, rows.data(), n, 3 * m, settings, interruption);
    if (!intervals) return std::nullopt;
    for (size_t j = 0; j < m; ++j) {
        for (int v = 0; v < 3; ++v) {
            const ScriptInterval& interval = (*intervals)[3 * j + static_cast<size_t>(v)];
            evaluation.summaries[j].average[v] = interval.average;
            evaluation.summaries[j].low[v] = interval.low;
            evaluation.summaries[j].high[v] = interval.high;
        }
    }
    return evaluation;
}

}  // namespace tallygrams::engine
