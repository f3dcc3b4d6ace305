#include "engine/statistics/script_resampling.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/internal_failure.hpp"
#include "engine/range_runner.hpp"
#include "engine/statistics/perl_random.hpp"

namespace tallygrams::engine {

namespace {

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
    // values[c * resamples + i]: resample i's value of column c.
    std::vector<double> values(columns * resamples);
    const size_t done = run_ranges(pool, resamples, [&](size_t start, size_t end) {
        std::vector<double> sums(columns);
        for (size_t i = start; i < end; ++i) {
            if (interruption != nullptr && interruption->stopped()) return i - start;
            std::fill(sums.begin(), sums.end(), 0.0);
            PerlRandom random(static_cast<uint32_t>(i));
            for (size_t k = 0; k < pairs; ++k) {
                const double* row = rows + random.below(pairs) * columns;
                for (size_t c = 0; c < columns; ++c) sums[c] += row[c];
            }
            finish_resample(sums.data(), pairs, columns, settings);
            for (size_t c = 0; c < columns; ++c) values[c * resamples + i] = sums[c];
        }
        return end - start;
    }, interruption);
    if (done != resamples) return std::nullopt;

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
        std::sort(sorted, sorted + resamples, [](double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); });
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
