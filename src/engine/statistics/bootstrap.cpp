#include "engine/statistics/bootstrap.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "common/arithmetic.hpp"
#include "engine/memory_capacity.hpp"
#include "engine/statistics/exact_sum.hpp"
#include "engine/statistics/lane_sums.hpp"
#include "engine/statistics/percentile.hpp"
#include "engine/statistics/random_stream.hpp"
#include "engine/statistics/resample_counts.hpp"
#include "engine/range_runner.hpp"

namespace tallygrams::engine {
namespace {

// Resamples computed side by side in vector registers.
constexpr size_t kLanes = 8;
// Resamples that share one walk over the columns. More of them read the
// columns from memory fewer times; fewer make more passes to spread.
constexpr size_t kMaxPassResamples = 64;
// Values per piece of the mean computation, and between two looks at the
// cancellation flag (a fraction of a millisecond).
constexpr size_t kMeanPieceValues = size_t{1} << 20;
constexpr size_t kValuesBetweenPolls = size_t{1} << 16;
// Pair counts are int32_t, draws below n are 32-bit, and the exact sums have
// room for 2^31 terms.
constexpr size_t kMaxPairs = ExactSum::kMaxTerms - 1;

// body(i) for every i in [0, count), spread over the pool in ranges. Each
// piece here is a millisecond of work or more, so ranges need no tuning.
template <class Body>
void for_each_index(WorkerPool& pool, size_t count, const Body& body, Interruption* waiter) {
    run_ranges(
        pool, count,
        [&](size_t start, size_t end) {
            for (size_t i = start; i < end; ++i) body(i);
            return end - start;
        },
        waiter);
}

void check_arguments(Columns columns, const BootstrapSettings& settings) {
    if (columns.empty()) return;
    const size_t pairs = columns[0].size();
    for (const std::span<const double>& column : columns) {
        if (column.size() != pairs) throw std::invalid_argument("bootstrap columns differ in length");
    }
    if (pairs == 0) throw std::invalid_argument("bootstrap columns are empty");
    if (pairs > kMaxPairs) {
        throw std::invalid_argument("bootstrap columns hold more than " + std::to_string(kMaxPairs) + " values");
    }
    if (settings.resamples == 0) throw std::invalid_argument("bootstrap needs at least one resample");
    // The resampled means are held as one array of columns x resamples; a
    // product past what an array can hold would wrap to a short one.
    if (settings.resamples > std::vector<double>().max_size() / columns.size()) {
        throw std::invalid_argument("bootstrap resamples times columns exceed what memory can address");
    }
    if (!(settings.confidence >= 0.0 && settings.confidence <= 1.0)) {
        throw std::invalid_argument("bootstrap confidence must lie between 0 and 1");
    }
    if (settings.block_shift > kMaxBlockShift) throw std::invalid_argument("bootstrap block shift too large");
    const size_t count = columns.size();
    ensure_obtainable(bootstrap_memory(count, settings.resamples),
                      "the resampled means of " + std::to_string(count) + (count == 1 ? " column, " : " columns, ") +
                          std::to_string(settings.resamples) + " resamples each,");
}

// The mean of every column; throws std::invalid_argument if a value is not
// finite. Columns are summed in pieces on the pool; exact sums add up in
// any order, so the pieces' order does not matter.
std::optional<std::vector<double>> checked_means(WorkerPool& pool, Columns columns,
                                                 const std::atomic<bool>& cancelled, Interruption* waiter) {
    const size_t pairs = columns[0].size();
    const size_t pieces_per_column = ceil_div(pairs, kMeanPieceValues);
    struct Piece {
        ExactSum sum;
        bool finite = true;
        bool done = false;
    };
    std::vector<Piece> pieces(columns.size() * pieces_per_column);
    for_each_index(pool, pieces.size(), [&](size_t index) {
        const std::span<const double> column = columns[index / pieces_per_column];
        const size_t begin = (index % pieces_per_column) * kMeanPieceValues;
        const size_t end = std::min(pairs, begin + kMeanPieceValues);
        Piece& piece = pieces[index];
        for (size_t stretch = begin; stretch < end; stretch += kValuesBetweenPolls) {
            if (cancelled.load(std::memory_order_relaxed)) return;
            for (size_t i = stretch; i < std::min(end, stretch + kValuesBetweenPolls); ++i) {
                if (!std::isfinite(column[i])) {
                    piece.finite = false;
                    return;
                }
                piece.sum.add(column[i]);
            }
        }
        piece.done = true;
    }, waiter);
    if (std::any_of(pieces.begin(), pieces.end(), [](const Piece& piece) { return !piece.finite; })) {
        throw std::invalid_argument("bootstrap columns hold a value that is not finite");
    }
    if (!std::all_of(pieces.begin(), pieces.end(), [](const Piece& piece) { return piece.done; })) {
        return std::nullopt;
    }
    std::vector<double> means(columns.size());
    for (size_t c = 0; c < columns.size(); ++c) {
        ExactSum sum;
        for (size_t j = 0; j < pieces_per_column; ++j) sum.merge(pieces[c * pieces_per_column + j].sum);
        means[c] = sum.rounded() / static_cast<double>(pairs);
    }
    return means;
}

// One walk over the columns for a run of consecutive resamples: first every
// resample's block totals, then block by block, each resample's counts in
// the block and its weighted sums over the block. A resample's sum of a
// column adds the block sums in block order.
class ResamplePass {
public:
    ResamplePass(Columns columns, const BootstrapSettings& settings, const std::atomic<bool>& cancelled,
                 double* means)
        : columns_(columns),
          layout_(columns[0].size(), settings.block_shift),
          settings_(settings),
          cancelled_(cancelled),
          means_(means) {}

    // Resamples [first, first + count), count at most kMaxPassResamples.
    // Returns false if it stopped for cancellation.
    bool run(size_t first, size_t count) const {
        // Passes that start after a cancellation leave at once.
        if (cancelled_.load(std::memory_order_relaxed)) return false;
        const size_t blocks = layout_.block_count();
        const size_t column_count = columns_.size();
        std::vector<uint64_t> keys(count);
        std::vector<uint32_t> totals(count * blocks);
        for (size_t r = 0; r < count; ++r) {
            keys[r] = resample_key(settings_.seed, first + r);
            if (!draw_block_totals(keys[r], layout_, &totals[r * blocks], cancelled_)) return false;
        }

        std::vector<double> sums(count * column_count, 0.0);
        std::vector<int32_t> counts(std::min(layout_.block_pairs(), layout_.pairs()) * kLanes, 0);
        double block_sums[kLanes];
        for (size_t block = 0; block < blocks; ++block) {
            if (cancelled_.load(std::memory_order_relaxed)) return false;
            const size_t begin = layout_.begin(block);
            const size_t size = layout_.size(block);
            for (size_t lane_first = 0; lane_first < count; lane_first += kLanes) {
                const size_t lanes = std::min(kLanes, count - lane_first);
                bool drawn = false;
                for (size_t lane = 0; lane < lanes; ++lane) {
                    const size_t r = lane_first + lane;
                    const uint32_t total = totals[r * blocks + block];
                    if (total == 0) continue;
                    draw_block_counts(keys[r], layout_, block, total, counts.data() + lane, kLanes);
                    drawn = true;
                }
                // A block no resample drew from adds +0.0 to every sum,
                // which leaves the sums as they are.
                if (!drawn) continue;
                for (size_t c = 0; c < column_count; ++c) {
                    lane_sums<kLanes>(counts.data(), columns_[c].data() + begin, size, block_sums);
                    for (size_t lane = 0; lane < lanes; ++lane) {
                        sums[(lane_first + lane) * column_count + c] += block_sums[lane];
                    }
                }
                std::fill(counts.begin(), counts.begin() + static_cast<ptrdiff_t>(size * kLanes), 0);
            }
        }

        const auto pairs = static_cast<double>(layout_.pairs());
        for (size_t r = 0; r < count; ++r) {
            for (size_t c = 0; c < column_count; ++c) {
                means_[c * settings_.resamples + first + r] = sums[r * column_count + c] / pairs;
            }
        }
        return true;
    }

private:
    Columns columns_;
    BlockLayout layout_;
    const BootstrapSettings& settings_;
    const std::atomic<bool>& cancelled_;
    double* means_;
};

// Enough passes that every worker gets several, so that they finish close
// together; whole lane groups, so no vector lane idles but in the last one.
size_t resamples_per_pass(size_t resamples, size_t workers) {
    const size_t even_share = round_up(ceil_div(resamples, 4 * workers), kLanes);
    return std::clamp(even_share, kLanes, kMaxPassResamples);
}

std::optional<std::vector<double>> draw_resample_means(WorkerPool& pool, Columns columns,
                                                       const BootstrapSettings& settings,
                                                       const std::atomic<bool>& cancelled, Interruption* waiter) {
    const size_t resamples = settings.resamples;
    std::vector<double> means(columns.size() * resamples);
    const ResamplePass pass(columns, settings, cancelled, means.data());
    const size_t per_pass = resamples_per_pass(resamples, pool.worker_count());
    std::atomic<bool> stopped{false};
    for_each_index(pool, ceil_div(resamples, per_pass), [&](size_t index) {
        const size_t first = index * per_pass;
        if (!pass.run(first, std::min(per_pass, resamples - first))) stopped.store(true, std::memory_order_relaxed);
    }, waiter);
    if (stopped.load(std::memory_order_relaxed)) return std::nullopt;
    return means;
}

}  // namespace

size_t bootstrap_memory(size_t columns, size_t resamples) noexcept {
    return memory_product(memory_product(columns, resamples), sizeof(double));
}

std::optional<std::vector<double>> resample_means(WorkerPool& pool, Columns columns,
                                                  const BootstrapSettings& settings,
                                                  const std::atomic<bool>& cancelled, Interruption* waiter) {
    check_arguments(columns, settings);
    if (columns.empty()) return std::vector<double>{};
    if (!checked_means(pool, columns, cancelled, waiter)) return std::nullopt;
    return draw_resample_means(pool, columns, settings, cancelled, waiter);
}

std::optional<std::vector<ColumnSummary>> bootstrap_intervals(WorkerPool& pool, Columns columns,
                                                              const BootstrapSettings& settings,
                                                              const std::atomic<bool>& cancelled, Interruption* waiter) {
    check_arguments(columns, settings);
    if (columns.empty()) return std::vector<ColumnSummary>{};
    const std::optional<std::vector<double>> means = checked_means(pool, columns, cancelled, waiter);
    if (!means) return std::nullopt;
    std::optional<std::vector<double>> resampled = draw_resample_means(pool, columns, settings, cancelled, waiter);
    if (!resampled) return std::nullopt;

    const size_t resamples = settings.resamples;
    const IntervalPercentiles q = interval_percentiles(settings.confidence);
    std::vector<ColumnSummary> summaries(columns.size());
    for_each_index(pool, columns.size(), [&](size_t c) {
        const std::span<double> column(resampled->data() + c * resamples, resamples);
        ColumnSummary& summary = summaries[c];
        summary.mean = (*means)[c];
        if (std::any_of(column.begin(), column.end(), [](double value) { return std::isnan(value); })) {
            summary.low = summary.mid = summary.high = std::nan("");
            return;
        }
        std::sort(column.begin(), column.end());
        summary.low = percentile(column, q.low);
        summary.mid = percentile(column, q.mid);
        summary.high = percentile(column, q.high);
    }, waiter);
    return summaries;
}

}  // namespace tallygrams::engine
