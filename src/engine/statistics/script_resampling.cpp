#include "engine/statistics/script_resampling.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "common/internal_failure.hpp"
#include "engine/range_runner.hpp"
#include "engine/statistics/perl_random.hpp"
#include "scorer/details/cpu_features.hpp"

namespace tallygrams::engine {

namespace {

// Resample sums, adding drawn rows in draw order. Rows are padded to a
// multiple of four columns, so that the sums of one draw are a few
// four-lane vector additions; two resamples are drawn side by side, as each
// generator's next state waits on its last. With `Vectors` known, the sums
// stay in registers; 0 means any width, the sums then living in memory.
using Lanes = double __attribute__((vector_size(32)));

// Adds the four doubles at `from` to `lanes` (through memcpy: rows need not
// be aligned).
[[gnu::always_inline]] inline void add_lanes(Lanes& lanes, const double* from) noexcept {
    Lanes v;
    std::memcpy(&v, from, sizeof v);
    lanes += v;
}

template <size_t Vectors>
[[gnu::always_inline]] inline void sum_resample_pair(const double* rows, size_t pairs, size_t stride, uint32_t seed,
                                                     bool both, double* first, double* second) {
    constexpr size_t kHeld = Vectors == 0 ? 1 : Vectors;
    Lanes a[kHeld] = {};
    Lanes b[kHeld] = {};
    const size_t vectors = Vectors == 0 ? stride / 4 : Vectors;
    if constexpr (Vectors == 0) {
        std::fill(first, first + stride, 0.0);
        std::fill(second, second + stride, 0.0);
    }
    PerlRandom ra(seed);
    PerlRandom rb(seed + 1);
    for (size_t k = 0; k < pairs; ++k) {
        const double* x = rows + ra.below(pairs) * stride;
        const double* y = rows + (both ? rb.below(pairs) : 0) * stride;
        for (size_t v = 0; v < vectors; ++v) {
            if constexpr (Vectors == 0) {
                Lanes sa;
                Lanes sb;
                std::memcpy(&sa, first + 4 * v, sizeof sa);
                std::memcpy(&sb, second + 4 * v, sizeof sb);
                add_lanes(sa, x + 4 * v);
                add_lanes(sb, y + 4 * v);
                std::memcpy(first + 4 * v, &sa, sizeof sa);
                std::memcpy(second + 4 * v, &sb, sizeof sb);
            } else {
                add_lanes(a[v], x + 4 * v);
                add_lanes(b[v], y + 4 * v);
            }
        }
    }
    if constexpr (Vectors != 0) {
        for (size_t v = 0; v < Vectors; ++v) {
            std::memcpy(first + 4 * v, &a[v], sizeof a[v]);
            std::memcpy(second + 4 * v, &b[v], sizeof b[v]);
        }
    }
}

template <size_t... Widths>
[[gnu::always_inline]] inline void sum_resamples(const double* rows, size_t pairs, size_t stride, uint32_t seed,
                                                 bool both, double* first, double* second,
                                                 std::index_sequence<Widths...>) {
    const size_t vectors = stride / 4;
    if (!((vectors == Widths + 1 && (sum_resample_pair<Widths + 1>(rows, pairs, stride, seed, both, first, second), true)) ||
          ...)) {
        sum_resample_pair<0>(rows, pairs, stride, seed, both, first, second);
    }
}

void sum_resamples_baseline(const double* rows, size_t pairs, size_t stride, uint32_t seed, bool both, double* first,
                            double* second) {
    sum_resamples(rows, pairs, stride, seed, both, first, second, std::make_index_sequence<8>());
}

#if defined(TALLYGRAMS_X86_KERNELS)
__attribute__((target("avx2"))) void sum_resamples_avx2(const double* rows, size_t pairs, size_t stride,
                                                         uint32_t seed, bool both, double* first, double* second) {
    sum_resamples(rows, pairs, stride, seed, both, first, second, std::make_index_sequence<8>());
}
#endif

// Resample `seed`'s sums into `first` and, if `both`, resample seed + 1's
// into `second`; each `stride` long.
void sum_two_resamples(const double* rows, size_t pairs, size_t stride, uint32_t seed, bool both, double* first,
                       double* second) {
#if defined(TALLYGRAMS_X86_KERNELS)
    if (scorer::cpu_has_avx2()) return sum_resamples_avx2(rows, pairs, stride, seed, both, first, second);
#endif
    sum_resamples_baseline(rows, pairs, stride, seed, both, first, second);
}

// Turns a resample's sums into the values it contributes, in place.
void finish_resample(double* sums, size_t pairs, size_t columns, const ScriptResampling& settings) {
    if (!settings.counts) {
        if (pairs == 0) return;  // the sums are 0, and so are the means
        for (size_t c = 0; c < columns; ++c) sums[c] /= static_cast<double>(pairs);
        return;
    }
    const double alpha = settings.alpha;
    for (size_t c = 0; c + 2 < columns; c += 3) {
        const double reference = sums[c];
        const double prediction = sums[c + 1];
        const double hits = sums[c + 2];
        const double recall = reference > 0 ? hits / reference : 0;
        const double precision = prediction > 0 ? hits / prediction : 0;
        const double denominator = (1 - alpha) * precision + alpha * recall;
        sums[c] = recall;
        sums[c + 1] = precision;
        sums[c + 2] = denominator > 0 ? (recall * precision) / denominator : 0;
    }
}

// Element `index` of an ascending array as Perl reads it: past either end,
// undefined, which is 0 in arithmetic; a negative index counts from the end.
double perl_element(const double* sorted, size_t size, int64_t index) noexcept {
    if (index < 0) index += static_cast<int64_t>(size);
    if (index < 0 || index >= static_cast<int64_t>(size)) return 0;
    return sorted[index];
}

}  // namespace

std::optional<std::vector<ScriptInterval>> resample_like_the_script(WorkerPool& pool, const double* rows, size_t pairs,
                                                                    size_t columns, const ScriptResampling& settings,
                                                                    Interruption* interruption) {
    const size_t resamples = settings.resamples;
    ensure(resamples >= 1 && (!settings.counts || columns % 3 == 0), "bad settings for the script's bootstrap");
    // The rows again, each padded with zeros to a multiple of four values.
    const size_t stride = (columns + 3) / 4 * 4;
    std::vector<double> padded(std::max<size_t>(pairs, 1) * stride, 0.0);
    for (size_t k = 0; k < pairs; ++k) std::copy(rows + k * columns, rows + (k + 1) * columns, &padded[k * stride]);
    // values[c * resamples + i]: resample i's value of column c.
    std::vector<double> values(columns * resamples);
    const size_t done = run_ranges(pool, (resamples + 1) / 2, [&](size_t start, size_t end) {
        std::vector<double> sums(2 * stride);
        for (size_t p = start; p < end; ++p) {
            if (interruption != nullptr && interruption->stopped()) return p - start;
            const size_t i = 2 * p;
            const bool both = i + 1 < resamples;
            sum_two_resamples(padded.data(), pairs, stride, static_cast<uint32_t>(i), both, sums.data(),
                              sums.data() + stride);
            for (size_t r = 0; r < (both ? 2u : 1u); ++r) {
                double* own = sums.data() + r * stride;
                finish_resample(own, pairs, columns, settings);
                for (size_t c = 0; c < columns; ++c) values[c * resamples + i + r] = own[c];
            }
        }
        return end - start;
    }, interruption);
    if (done != (resamples + 1) / 2) return std::nullopt;

    // The interval's ends interpolate between neighbouring order statistics,
    // both with the fraction the upper end's indices leave over.
    const auto r = static_cast<double>(resamples);
    const double delta = r * ((100 - settings.confidence) / 2.0) / 100.0;
    const auto upper_a = static_cast<int64_t>(r - delta - 1);
    const auto lower_a = static_cast<int64_t>(delta);
    const double fraction = r - delta - 1 - static_cast<double>(upper_a);

    std::vector<ScriptInterval> intervals(columns);
    for (size_t c = 0; c < columns; ++c) {
        double* sorted = values.data() + c * resamples;
        // Not-a-number (an overflowing ROUGE-W weight) sorts last.
        if (std::any_of(sorted, sorted + resamples, [](double v) { return std::isnan(v); })) {
            std::sort(sorted, sorted + resamples,
                      [](double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); });
        } else {
            std::sort(sorted, sorted + resamples);
        }
        double sum = 0;
        for (size_t i = 0; i < resamples; ++i) sum += sorted[i];
        const auto at = [&](int64_t index) { return perl_element(sorted, resamples, index); };
        intervals[c].average = sum / r;
        intervals[c].low = at(lower_a) + (at(lower_a + 1) - at(lower_a)) * fraction;
        intervals[c].high = at(upper_a) + (at(upper_a + 1) - at(upper_a)) * fraction;
    }
    return intervals;
}

}  // namespace tallygrams::engine
