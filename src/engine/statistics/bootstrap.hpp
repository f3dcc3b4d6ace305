// Percentile-bootstrap confidence intervals of the means of score columns.
//
// Each resample draws n pairs out of n with replacement; every column's
// mean over those pairs is one resampled mean, and the interval is read from
// the percentiles of R such means. One draw serves all columns, so the
// columns of one resample describe the same pairs. How the draws are made,
// and why the result cannot depend on the number of workers, is explained
// in README.md beside this file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/interruption.hpp"
#include "engine/pool/worker_pool.hpp"
#include "engine/statistics/resample_blocks.hpp"

namespace tallygrams::engine {

struct BootstrapSettings {
    // How many resamples (R), at least 1.
    size_t resamples = 1000;
    uint64_t seed = 0;
    // The interval's coverage, from 0 (the median alone) to 1 (the smallest
    // and largest resampled mean).
    double confidence = 0.95;
    // log2 of the pairs per block, at most kMaxBlockShift. It takes part in
    // turning the seed into draws: keep the default for reproducible results.
    unsigned block_shift = kDefaultBlockShift;
};

// The pairs are the rows of equally long columns of finite values.
using Columns = std::span<const std::span<const double>>;

struct ColumnSummary {
    // The column's mean: its correctly rounded sum divided by n.
    double mean;
    // The resampled means' percentiles 100 * tail, 50 and 100 * (1 - tail),
    // tail = (1 - confidence) / 2, interpolated linearly between order
    // statistics. All three are NaN if a resampled mean is NaN, which only
    // values near the limits of double can cause.
    double low;
    double mid;
    double high;
};

// One summary per column, in order; std::nullopt if `cancelled` was set
// before the run finished (it is polled every few milliseconds of work on
// each worker). No columns give no summaries. Throws std::invalid_argument
// for columns of different lengths, empty columns or columns of 2^31 values
// or more, a value that is not finite, no resamples, a confidence outside
// [0, 1] or a block shift beyond its maximum, and MemoryRequestRefused
// (memory_capacity.hpp) when the resampled means need more memory than the
// process can get; all before any work. The pool stays usable whatever
// happens. Must not be called from one of the pool's workers.
// `waiter`, if given, is polled by the calling thread while it waits for the
// pool (interruption.hpp); it is how `cancelled` gets set from that thread.
std::optional<std::vector<ColumnSummary>> bootstrap_intervals(WorkerPool& pool, Columns columns,
                                                              const BootstrapSettings& settings,
                                                              const std::atomic<bool>& cancelled,
                                                              Interruption* waiter = nullptr);

// The bytes of working memory a run over `columns` columns with `resamples`
// resamples needs (saturating): the resampled means, the bulk of it.
size_t bootstrap_memory(size_t columns, size_t resamples) noexcept;

// The R resampled means of every column, column after column: resample r's
// mean of column c at [c * R + r]. Same arguments and failures as
// bootstrap_intervals; the confidence is not used.
std::optional<std::vector<double>> resample_means(WorkerPool& pool, Columns columns,
                                                  const BootstrapSettings& settings,
                                                  const std::atomic<bool>& cancelled,
                                                  Interruption* waiter = nullptr);

}  // namespace tallygrams::engine
