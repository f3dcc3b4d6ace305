#include "engine/statistics/paired_tests.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <string>

#include "common/arithmetic.hpp"
#include "engine/memory_capacity.hpp"
#include "engine/range_runner.hpp"
#include "engine/statistics/exact_sum.hpp"
#include "engine/statistics/percentile.hpp"
#include "engine/statistics/randomization_rounds.hpp"
#include "engine/statistics/signed_block_sums.hpp"

namespace tallygrams::engine {

NonFiniteValue::NonFiniteValue(bool in_system_, size_t column_, size_t row_, double value_)
    : std::invalid_argument("a paired test's scores hold a value that is not finite"),
      in_system(in_system_),
      column(column_),
      row(row_),
      value(value_) {}

namespace {

// Rows per piece of the difference pass, and between two looks at the
// cancellation flag.
constexpr size_t kPieceRows = size_t{1} << 16;
constexpr size_t kMaxPairs = ExactSum::kMaxTerms - 1;
constexpr size_t kNoRow = std::numeric_limits<size_t>::max();

void check_arguments(Columns baseline, Columns system, const PairedTestSettings& settings) {
    if (baseline.size() != system.size()) throw std::invalid_argument("the two sides have different columns");
    if (baseline.empty()) return;
    const size_t pairs = baseline[0].size();
    for (Columns side : {baseline, system}) {
        for (const std::span<const double>& column : side) {
            if (column.size() != pairs) throw std::invalid_argument("the columns differ in length");
        }
    }
    if (pairs == 0) throw std::invalid_argument("the columns are empty");
    if (pairs > kMaxPairs) throw std::invalid_argument("the columns hold more than " + std::to_string(kMaxPairs) + " rows");
    if (settings.samples == 0 || settings.interval_resamples == 0) {
        throw std::invalid_argument("a paired test needs at least one sample");
    }
    const size_t most = std::max(settings.samples, settings.interval_resamples);
    if (most > std::vector<double>().max_size() / baseline.size()) {
        throw std::invalid_argument("samples times columns exceed what memory can address");
    }
    if (!(settings.confidence >= 0.0 && settings.confidence <= 1.0)) {
        throw std::invalid_argument("the confidence must lie between 0 and 1");
    }
    // The bootstrap refuses its own resamples before it starts; the rounds'
    // means, which come after it, are refused here, before any work.
    if (settings.test == PairedTest::randomization) {
        const size_t count = baseline.size();
        ensure_obtainable(memory_product(memory_product(count, settings.samples), sizeof(double)),
                          "the randomization rounds' means of " + std::to_string(count) +
                              (count == 1 ? " column, " : " columns, ") + std::to_string(settings.samples) +
                              " rounds each,");
    }
}

// The per-row differences system - baseline, and what the tests need to
// know of the two sides.
struct Differences {
    std::vector<std::vector<double>> columns;
    std::vector<double> baseline_means;
    std::vector<double> system_means;
    // The mean of |difference|, which bounds the rounding of the rounds' sums.
    std::vector<double> mean_magnitudes;
};

struct Piece {
    ExactSum baseline;
    ExactSum system;
    double magnitude = 0.0;
    size_t bad_row = kNoRow;
    bool bad_in_system = false;
    bool overflow = false;
    bool done = false;
};

void difference_piece(Columns baseline, Columns system, size_t column, size_t begin, size_t end, double* out,
                      Piece& piece) {
    const double* b = baseline[column].data();
    const double* s = system[column].data();
    for (size_t i = begin; i < end; ++i) {
        if (!std::isfinite(b[i]) || !std::isfinite(s[i])) {
            piece.bad_row = i;
            piece.bad_in_system = std::isfinite(b[i]);
            return;
        }
        const double d = s[i] - b[i];
        if (!std::isfinite(d)) {
            piece.overflow = true;
            return;
        }
        out[i] = d;
        piece.baseline.add(b[i]);
        piece.system.add(s[i]);
        piece.magnitude += std::fabs(d);
    }
    piece.done = true;
}

std::optional<Differences> differences(WorkerPool& pool, Columns baseline, Columns system,
                                       const std::atomic<bool>& cancelled, Interruption* waiter) {
    const size_t pairs = baseline[0].size();
    const size_t column_count = baseline.size();
    const size_t per_column = ceil_div(pairs, kPieceRows);
    Differences result;
    result.columns.assign(column_count, std::vector<double>(pairs));
    std::vector<Piece> pieces(column_count * per_column);
    run_ranges(
        pool, pieces.size(),
        [&](size_t start, size_t end) {
            for (size_t index = start; index < end; ++index) {
                if (cancelled.load(std::memory_order_relaxed)) break;
                const size_t column = index / per_column;
                const size_t begin = (index % per_column) * kPieceRows;
                difference_piece(baseline, system, column, begin, std::min(pairs, begin + kPieceRows),
                                 result.columns[column].data(), pieces[index]);
            }
            return end - start;
        },
        waiter);
    // Pieces run in any order; the first bad value in column, then row
    // order is the one reported, whichever worker met it.
    for (size_t index = 0; index < pieces.size(); ++index) {
        const Piece& piece = pieces[index];
        if (piece.bad_row != kNoRow) {
            const size_t column = index / per_column;
            const double value = (piece.bad_in_system ? system : baseline)[column][piece.bad_row];
            throw NonFiniteValue(piece.bad_in_system, column, piece.bad_row, value);
        }
        if (piece.overflow) throw std::invalid_argument("the difference of two scores overflows");
    }
    if (!std::all_of(pieces.begin(), pieces.end(), [](const Piece& piece) { return piece.done; })) return std::nullopt;
    const auto n = static_cast<double>(pairs);
    for (size_t column = 0; column < column_count; ++column) {
        ExactSum b;
        ExactSum s;
        double magnitude = 0.0;
        for (size_t j = 0; j < per_column; ++j) {
            const Piece& piece = pieces[column * per_column + j];
            b.merge(piece.baseline);
            s.merge(piece.system);
            magnitude += piece.magnitude;
        }
        result.baseline_means.push_back(b.rounded() / n);
        result.system_means.push_back(s.rounded() / n);
        result.mean_magnitudes.push_back(magnitude / n);
    }
    return result;
}

std::vector<std::span<const double>> spans_of(const Differences& d) {
    return {d.columns.begin(), d.columns.end()};
}

// The percentile interval of the resampled differences (sorted in place);
// NaN if one of them is.
void set_interval(std::span<double> resampled, double confidence, ColumnComparison& out) {
    if (std::any_of(resampled.begin(), resampled.end(), [](double value) { return std::isnan(value); })) {
        out.low = out.high = std::nan("");
        return;
    }
    std::sort(resampled.begin(), resampled.end());
    const IntervalPercentiles q = interval_percentiles(confidence);
    out.low = percentile(resampled, q.low);
    out.high = percentile(resampled, q.high);
}

double p_value(size_t extreme, size_t samples) {
    return static_cast<double>(extreme + 1) / (static_cast<double>(samples) + 1.0);
}

// Paired bootstrap p-value: the resampled differences shifted to mean zero,
// the null hypothesis, and compared with the observed one.
double bootstrap_p_value(std::span<const double> resampled, double observed) {
    ExactSum total;
    for (double value : resampled) {
        if (std::isnan(value)) return std::nan("");
        total.add(value);
    }
    const double center = total.rounded() / static_cast<double>(resampled.size());
    const double threshold = std::fabs(observed);
    const auto extreme = static_cast<size_t>(std::count_if(resampled.begin(), resampled.end(), [&](double value) {
        return std::fabs(value - center) >= threshold;
    }));
    return p_value(extreme, resampled.size());
}

// Randomisation p-value. A round whose difference equals the observed one in
// exact arithmetic must count, but both were rounded, and in different
// orders; `slack` bounds those roundings (README.md), so such rounds count
// whatever the order of additions. Rounds within it but truly smaller also
// count, which can only make the test more conservative, by far less than
// one round in practice.
double randomization_p_value(std::span<const double> rounds, double observed, double slack) {
    const double threshold = std::fabs(observed) - slack;
    size_t extreme = 0;
    for (double value : rounds) {
        if (std::isnan(value)) return std::nan("");
        extreme += std::fabs(value) >= threshold ? 1 : 0;
    }
    return p_value(extreme, rounds.size());
}

// A bound on |computed - exact| of a round's mean and of the observed
// difference: each lane adds up to 512 terms, two additions join the lanes,
// one per block joins the blocks, and each difference and mean was rounded
// once or twice. Eight times the unit roundoff covers the constant factors.
double rounding_slack(size_t pairs, double mean_magnitude, double baseline_mean, double system_mean) {
    const double additions = static_cast<double>(kSignBlockRows / kSignLanes + 2 + ceil_div(pairs, kSignBlockRows) + 4);
    constexpr double unit = std::numeric_limits<double>::epsilon() / 2;
    return 8 * unit * (additions * mean_magnitude + std::fabs(baseline_mean) + std::fabs(system_mean));
}

std::optional<std::vector<double>> paired_resamples(WorkerPool& pool, const Differences& d, size_t resamples,
                                                    const PairedTestSettings& settings,
                                                    const std::atomic<bool>& cancelled, Interruption* waiter) {
    BootstrapSettings bootstrap;
    bootstrap.resamples = resamples;
    bootstrap.seed = settings.seed;
    bootstrap.confidence = settings.confidence;
    const std::vector<std::span<const double>> columns = spans_of(d);
    return resample_means(pool, columns, bootstrap, cancelled, waiter);
}

}  // namespace

std::optional<std::vector<ColumnComparison>> compare_columns(WorkerPool& pool, Columns baseline, Columns system,
                                                             const PairedTestSettings& settings,
                                                             const std::atomic<bool>& cancelled,
                                                             Interruption* waiter) {
    check_arguments(baseline, system, settings);
    if (baseline.empty()) return std::vector<ColumnComparison>{};
    std::optional<Differences> d = differences(pool, baseline, system, cancelled, waiter);
    if (!d) return std::nullopt;
    const size_t pairs = baseline[0].size();
    const size_t column_count = baseline.size();
    std::vector<ColumnComparison> result(column_count);
    for (size_t c = 0; c < column_count; ++c) {
        result[c].baseline = d->baseline_means[c];
        result[c].system = d->system_means[c];
        result[c].difference = d->system_means[c] - d->baseline_means[c];
    }

    const bool randomization = settings.test == PairedTest::randomization;
    const size_t resamples = randomization ? settings.interval_resamples : settings.samples;
    std::optional<std::vector<double>> resampled = paired_resamples(pool, *d, resamples, settings, cancelled, waiter);
    if (!resampled) return std::nullopt;
    std::optional<std::vector<double>> rounds;
    if (randomization) {
        rounds = randomization_means(pool, spans_of(*d), settings.samples, settings.seed, cancelled, waiter);
        if (!rounds) return std::nullopt;
    }
    for (size_t c = 0; c < column_count; ++c) {
        ColumnComparison& out = result[c];
        const std::span<double> column(resampled->data() + c * resamples, resamples);
        if (randomization) {
            const std::span<const double> column_rounds(rounds->data() + c * settings.samples, settings.samples);
            const double slack = rounding_slack(pairs, d->mean_magnitudes[c], out.baseline, out.system);
            out.p_value = randomization_p_value(column_rounds, out.difference, slack);
        } else {
            out.p_value = bootstrap_p_value(column, out.difference);
        }
        set_interval(column, settings.confidence, out);
    }
    return result;
}

}  // namespace tallygrams::engine
