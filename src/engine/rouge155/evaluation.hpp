// A whole evaluation of the ROUGE-1.5.5 script's semantics: every pair
// scored on the pool (scorer/rouge155/), then averaged as the script
// averages, with its bootstrap (statistics/script_resampling.hpp).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/interruption.hpp"
#include "engine/pool/worker_pool.hpp"
#include "scorer/rouge155/options.hpp"
#include "scorer/rouge155/pair_figures.hpp"
#include "scorer/rouge155/report.hpp"

namespace tallygrams::engine {

// Borrowed texts: pair i is predictions[i] against
// references[first_reference[i] .. first_reference[i + 1]), at least one.
struct Rouge155Pairs {
    std::span<const std::string_view> predictions;
    std::span<const std::string_view> references;
    std::span<const size_t> first_reference;  // predictions.size() + 1 entries
};

struct Rouge155Evaluation {
    std::vector<scorer::rouge155::Measure> measures;
    // Pair i's figures for measure k at [i * measures.size() + k].
    std::vector<scorer::rouge155::PairFigures> figures;
    std::vector<scorer::rouge155::MeasureSummary> summaries;  // one per measure
};

// The memory that evaluate_rouge155 asks for beyond the texts, in bytes
// (SIZE_MAX where that overflows): every pair's figures, the rows the
// bootstrap reads, and each resample's values. A caller compares it with
// what the process can get (memory_capacity.hpp) before the work begins.
size_t rouge155_memory(const scorer::rouge155::Options& options, size_t pairs);

// std::nullopt if `interruption` stopped the run. Must not be called from one
// of the pool's workers.
std::optional<Rouge155Evaluation> evaluate_rouge155(WorkerPool& pool, const scorer::rouge155::Options& options,
                                                    const Rouge155Pairs& pairs, Interruption* interruption = nullptr);

}  // namespace tallygrams::engine
