// Is one system's score really higher than another's on the same inputs?
// Two paired significance tests of the difference of two systems' mean
// scores, column by column, built on the bootstrap's seeded draws:
//
// * the paired bootstrap (P. Koehn, "Statistical significance tests for
//   machine translation evaluation", EMNLP 2004): every resample draws n rows
//   with replacement, one draw for both systems and every column, and takes
//   the difference of the means over them;
// * approximate randomisation (randomization_rounds.hpp): every round swaps
//   each row's two scores with probability 1/2.
//
// Row i of `baseline` and of `system` must score the same input. The p-values
// and the tie rule are set out in README.md beside this file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/interruption.hpp"
#include "engine/pool/worker_pool.hpp"
#include "engine/statistics/bootstrap.hpp"

namespace tallygrams::engine {

enum class PairedTest { bootstrap, randomization };

struct PairedTestSettings {
    PairedTest test = PairedTest::bootstrap;
    // Resamples of the bootstrap or rounds of the randomisation, at least 1.
    size_t samples = 1000;
    uint64_t seed = 0;
    // Coverage of the interval of the difference, from 0 to 1.
    double confidence = 0.95;
    // With the randomisation test, the interval comes from a paired
    // bootstrap of this many resamples with the same seed: the interval the
    // bootstrap test gives by default.
    size_t interval_resamples = 1000;
};

struct ColumnComparison {
    // Each system's mean: its correctly rounded sum divided by n.
    double baseline;
    double system;
    // system - baseline, and its percentile-bootstrap interval.
    double difference;
    double low;
    double high;
    // Two-sided, from 1 / (samples + 1) to 1. The interval and the p-value
    // are NaN only if resampled sums overflow (values near the limits of
    // double).
    double p_value;
};

// A value that is not finite, and where: the first such row of the first
// such column, the baseline's before the system's.
class NonFiniteValue : public std::invalid_argument {
public:
    NonFiniteValue(bool in_system, size_t column, size_t row, double value);
    bool in_system;
    size_t column;
    size_t row;
    double value;
};

// One comparison per column, in order; std::nullopt if `cancelled` was set
// before the end (polled every few milliseconds of work on each worker).
// Throws NonFiniteValue for a NaN or infinite score and std::invalid_argument
// for sides with different columns or rows, no rows, more than 2^31 - 1 rows,
// no samples, a confidence outside [0, 1], or differences that overflow. The
// same seed gives the same result on any number of workers. Must not be
// called from one of the pool's workers; `waiter` as for bootstrap_intervals.
std::optional<std::vector<ColumnComparison>> compare_columns(WorkerPool& pool, Columns baseline, Columns system,
                                                             const PairedTestSettings& settings,
                                                             const std::atomic<bool>& cancelled,
                                                             Interruption* waiter = nullptr);

}  // namespace tallygrams::engine
