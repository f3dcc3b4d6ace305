// One pair's figures for one measure, from the counts against each of its
// references, combined as the script combines them.
//
// With -f A the hits and the counts of every reference are summed, the
// prediction's count once per reference. With -f B the reference with the
// highest score wins, the first among equals; the score compared is the
// script's own per-reference value: the rounded recall for n-grams and
// skip-bigrams, the unrounded recall for ROUGE-L and ROUGE-W.
//
// Recall and precision are hits over the reference's and the prediction's
// count (ROUGE-W takes their w-th root: its counts are weights), rounded to
// five decimals; F is the weighted harmonic mean of the rounded two,
// P R / ((1 - alpha) P + alpha R), rounded again. A zero count gives 0.
#pragma once

#include <cmath>
#include <cstddef>

#include "scorer/rouge155/options.hpp"
#include "scorer/rouge155/printed_numbers.hpp"

namespace tallygrams::scorer::rouge155 {

struct ReferenceCounts {
    double reference = 0;   // the reference's count (ROUGE-W: its weight)
    double prediction = 0;  // the prediction's count (ROUGE-W: its weight)
    double hits = 0;
    double score = 0;       // what -f B compares
};

struct PairFigures {
    double reference = 0;
    double prediction = 0;
    double hits = 0;
    double recall = 0;  // as printed: a multiple of 0.00001
    double precision = 0;
    double f = 0;
};

// `root`: the w-th root ROUGE-W takes of its ratios, or 0 for none.
inline PairFigures combine_references(const ReferenceCounts* counts, size_t references, Formula formula,
                                      double alpha, double root_of = 0) {
    PairFigures out;
    if (formula == Formula::average) {
        for (size_t r = 0; r < references; ++r) {
            out.hits += counts[r].hits;
            out.reference += counts[r].reference;
            out.prediction += counts[r].prediction;
        }
    } else {
        double best = -1;
        for (size_t r = 0; r < references; ++r) {
            if (counts[r].score > best) {
                best = counts[r].score;
                out.hits = counts[r].hits;
                out.reference = counts[r].reference;
                out.prediction = counts[r].prediction;
            }
        }
    }
    const auto ratio = [&](double total) {
        if (total == 0) return 0.0;
        const double value = out.hits / total;
        return fixed5(root_of != 0 ? std::pow(value, 1 / root_of) : value);
    };
    out.recall = ratio(out.reference);
    out.precision = ratio(out.prediction);
    const double denominator = (1 - alpha) * out.precision + alpha * out.recall;
    out.f = denominator > 0 ? fixed5((out.precision * out.recall) / denominator) : 0;
    return out;
}

}  // namespace tallygrams::scorer::rouge155
