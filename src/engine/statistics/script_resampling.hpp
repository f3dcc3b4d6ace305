// The bootstrap of the ROUGE-1.5.5 script, which is where its printed
// averages and intervals come from. README.md beside this file lists its
// steps; its results depend on nothing but the values, and equal the
// script's to the last bit.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "engine/interruption.hpp"
#include "engine/pool/worker_pool.hpp"

namespace tallygrams::engine {

struct ScriptResampling {
    size_t resamples = 1000;   // at least 1
    double confidence = 95;    // in percent, 0 to 100
    // false: the rows hold values to average (-t 0). true: each group of
    // three columns holds a measure's reference count, prediction count and
    // hits, and a resample's recall, precision and F are computed from its
    // sums (-t 1), with this alpha.
    bool counts = false;
    double alpha = 0.5;
};

struct ScriptInterval {
    double average;  // the mean of the resampled values
    double low;
    double high;
};

// `rows` holds `pairs` rows of `columns` values, in the script's order of
// pairs (rouge155/averages.hpp); with `counts`, `columns` is a multiple of 3.
// One interval per column, or std::nullopt if `interruption` stopped the run.
// Must not be called from one of the pool's workers.
std::optional<std::vector<ScriptInterval>> resample_like_the_script(WorkerPool& pool, const double* rows, size_t pairs,
                                                                    size_t columns, const ScriptResampling& settings,
                                                                    Interruption* interruption = nullptr);

}  // namespace tallygrams::engine
