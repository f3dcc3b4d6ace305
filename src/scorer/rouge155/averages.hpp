// The order in which the script visits an evaluation's pairs when it sums
// them, and its sums for -t 2.
//
// The script keys pair i (from 0) as the text "<i+1>.<system>", and sums and
// resamples the pairs in the order of those keys sorted as strings: 1, 10,
// 100, ..., 11, 12, ..., 2, 20, ... Floating-point sums depend on their
// order, and the bootstrap draws positions in this order, so both follow it.
#pragma once

#include <cstddef>
#include <vector>

#include "scorer/rouge155/pair_figures.hpp"

namespace tallygrams::scorer::rouge155 {

// Pair indices (from 0) in the order of their keys' text.
inline std::vector<size_t> script_order(size_t pairs) {
    std::vector<size_t> order;
    order.reserve(pairs);
    size_t key = 1;
    for (size_t k = 0; k < pairs; ++k) {
        order.push_back(key - 1);
        if (key <= pairs / 10) {
            key *= 10;  // 1 -> 10: a key is followed by its longer extensions
        } else {
            while (key % 10 == 9 || key + 1 > pairs) key /= 10;
            key += 1;
        }
    }
    return order;
}

// -t 2: the reference counts, prediction counts and hits of one measure
// summed over the pairs in script order. `figures` holds one measure's
// figures of pair i at figures[i * stride].
struct CountTotals {
    double reference = 0;
    double prediction = 0;
    double hits = 0;
};

inline CountTotals count_totals(const PairFigures* figures, size_t stride, const std::vector<size_t>& order) {
    CountTotals totals;
    for (const size_t i : order) {
        const PairFigures& f = figures[i * stride];
        totals.reference += f.reference;
        totals.prediction += f.prediction;
        totals.hits += f.hits;
    }
    return totals;
}

}  // namespace tallygrams::scorer::rouge155
