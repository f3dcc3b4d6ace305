// ROUGE-W's weighted LCS of one reference sentence with one prediction
// sentence, as the script computes it, and the reference positions it marks.
//
// C.-Y. Lin, "ROUGE: A Package for Automatic Evaluation of Summaries"
// (2004), section 3.3: a run of k consecutive matches weighs f(k) = k^w, and
// the table c[i][j] of reference prefix i and prediction prefix j grows by
// f(k + 1) - f(k) when a match extends a run of k. The script fills the
// table as the paper's figure does, which is not a maximum: equal tokens
// always take the diagonal, even when the cell above or to the left holds
// more; otherwise the cell takes the one above when it is at least the one
// to the left, else the one to the left, which is their maximum. Its walk
// back from the bottom-right corner follows those choices, and every
// diagonal step marks a reference position. The weights are added in the
// script's order, (c[i-1][j-1] + f(k+1)) - f(k), so that every comparison
// falls as in the script.
//
// Where the tokens differ, the walk's choice is kept as one bit per cell
// (up or left); where they are equal it is the diagonal, read back from the
// tokens themselves.
//
// A row whose token occurs nowhere in the prediction sentence holds the
// running maximum of the row above, which never decreases; so does every
// such row after it, whose cells all take the one above. Those rows are
// neither computed nor stored: the walk goes straight up through them.
//
// The table grows with the product of the two lengths, so `stop` is looked
// at every kRowsBetweenStopChecks rows (scorer/stop_signal.hpp).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/arithmetic.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/rouge155/vocabulary.hpp"
#include "scorer/stop_signal.hpp"

namespace tallygrams::scorer::rouge155 {

inline constexpr size_t kRowsBetweenStopChecks = 64;

// `power[k]` is k^w for k = 0 .. min(m, n) + 1; `in_prediction[word]` tells
// whether `word` occurs in c. Marks bit offset + i of `marks` for each
// reference position i on the walk.
inline void mark_weighted_lcs(const WordId* r, size_t m, const WordId* c, size_t n, const double* power,
                              const uint8_t* in_prediction, uint64_t* marks, size_t offset, ScratchArena& arena,
                              StopSignal stop = {}) {
    if (m == 0 || n == 0) return;
    bool any_match = false;
    for (size_t i = 0; i < m && !any_match; ++i) any_match = in_prediction[r[i]] != 0;
    if (!any_match) return;

    const ArenaScope scope(arena);
    const size_t row_words = ceil_div(n, 64);
    uint64_t* up = arena.allocate<uint64_t>(m * row_words);  // bit j - 1 of row i - 1: cell (i, j) took the one above
    uint8_t* straight_up = arena.allocate<uint8_t>(m);       // row i - 1: every cell took the one above
    double* previous = arena.allocate_zeroed<double>(n + 1);
    double* current = arena.allocate_zeroed<double>(n + 1);
    uint32_t* previous_run = arena.allocate_zeroed<uint32_t>(n + 1);
    uint32_t* current_run = arena.allocate_zeroed<uint32_t>(n + 1);
    bool settled = true;  // the row above never decreases and holds no run
    for (size_t i = 1; i <= m; ++i) {
        if (i % kRowsBetweenStopChecks == 0) stop.check();
        const WordId token = r[i - 1];
        uint64_t* bits = up + (i - 1) * row_words;
        const bool matches = in_prediction[token] != 0;
        straight_up[i - 1] = static_cast<uint8_t>(!matches && settled);
        if (!matches && settled) continue;
        uint64_t word = 0;
        double left = 0;
        for (size_t j = 1; j <= n; ++j) {
            const double above = previous[j];
            const bool take_above = above >= left;
            double value = std::max(above, left);
            uint32_t run = 0;
            if (token == c[j - 1]) {
                const uint32_t k = previous_run[j - 1];
                value = (previous[j - 1] + power[k + 1]) - power[k];
                run = k + 1;
            }
            current[j] = value;
            current_run[j] = run;
            left = value;
            word |= static_cast<uint64_t>(take_above) << ((j - 1) & 63);
            if ((j & 63) == 0 || j == n) {
                bits[(j - 1) >> 6] = word;
                word = 0;
            }
        }
        std::swap(previous, current);
        std::swap(previous_run, current_run);
        settled = !matches;
    }
    size_t i = m;
    size_t j = n;
    while (i > 0 && j > 0) {
        if (straight_up[i - 1]) {
            --i;
        } else if (r[i - 1] == c[j - 1]) {
            const size_t position = offset + i - 1;
            marks[position / 64] |= uint64_t{1} << (position % 64);
            --i;
            --j;
        } else if ((up[(i - 1) * row_words + (j - 1) / 64] >> ((j - 1) % 64)) & 1) {
            --i;
        } else {
            --j;
        }
    }
}

}  // namespace tallygrams::scorer::rouge155
