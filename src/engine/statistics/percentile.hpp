// Percentiles with linear interpolation between order statistics.
//
// The q-th percentile of m ascending values sits at the virtual index
// (m - 1) * q / 100; between two neighbours it is interpolated from the
// nearer one. The arithmetic is spelled out operation by operation so that
// the result matches NumPy's default `percentile` bit for bit: the
// companion's BootstrapAggregator reads its bounds as rouge-score's does,
// with NumPy.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

namespace tallygrams::engine {

// `sorted` ascending, not empty, free of NaN; q in [0, 100].
inline double percentile(std::span<const double> sorted, double q) noexcept {
    const size_t count = sorted.size();
    const double position = static_cast<double>(count - 1) * (q / 100);
    const double below = std::floor(position);
    const auto lower = static_cast<size_t>(below);
    const size_t upper = std::min(lower + 1, count - 1);
    const double fraction = position - below;
    const double a = sorted[lower];
    const double b = sorted[upper];
    const double difference = b - a;
    if (fraction >= 0.5) return b - difference * (1 - fraction);
    return a + difference * fraction;
}

// The percentiles that bound a two-sided interval of the given confidence
// (0 to 1), and its midpoint: 100 * tail, 50, 100 * (1 - tail) with
// tail = (1 - confidence) / 2.
struct IntervalPercentiles {
    double low;
    double mid;
    double high;
};

inline IntervalPercentiles interval_percentiles(double confidence) noexcept {
    const double tail = (1 - confidence) / 2;
    return {100 * tail, 50.0, 100 * (1 - tail)};
}

}  // namespace tallygrams::engine
