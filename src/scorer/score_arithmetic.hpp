// Precision, recall and F-measure from counts, shared by all three metrics.
#pragma once

#include <cstdint>

namespace tallygrams::scorer {

struct Score {
    double precision = 0.0;
    double recall = 0.0;
    double fmeasure = 0.0;
};

// Nine floats, flat: value k is column k of a batch's column output.
struct PairScores {
    Score rouge1;
    Score rouge2;
    Score rougeL;
};
static_assert(sizeof(PairScores) == 9 * sizeof(double));

// `overlap` never exceeds either total, and both totals are at least 1
// whenever `overlap` is.
inline Score score_from_counts(uint64_t overlap, uint64_t prediction_total, uint64_t reference_total) noexcept {
    if (overlap == 0) return Score{};
    const double matched = static_cast<double>(overlap);
    const double precision = matched / static_cast<double>(prediction_total);
    const double recall = matched / static_cast<double>(reference_total);
    // Written as R * (P + P) / (P + R): doubling is exact, so this equals
    // 2PR / (P + R) bit for bit and is symmetric in P and R.
    const double fmeasure = (recall * (precision + precision)) / (precision + recall);
    return Score{precision, recall, fmeasure};
}

}  // namespace tallygrams::scorer
