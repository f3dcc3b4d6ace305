// The summary-level LCS of C.-Y. Lin, "ROUGE: A Package for Automatic
// Evaluation of Summaries", Text Summarization Branches Out (ACL workshop,
// 2004), section 3.2: for each reference sentence, the union of its LCS with
// every prediction sentence; the hits are the tokens of those unions, each
// token counted at most as often as it occurs in the prediction (and in the
// reference, which a union of reference positions never exceeds).
//
// Which LCS a pair of sentences contributes matters when several exist, so
// the one chosen is the one read back from the dynamic-programming table
// t[i][j] (reference prefix i, prediction prefix j) by the walk from the
// bottom-right corner that rouge-score uses: on equal tokens take both; else
// step left when t[i][j-1] > t[i-1][j], otherwise up.
//
// The table's rows come from the bit-parallel recurrence of lcs.hpp, the
// prediction along the bits: row i has bit j clear where the row grows at
// column j, so t[i][j] is the number of clear bits below bit j. The walk
// needs little of the table. The value at its position changes only on a
// match (by one), so on a mismatch "left" is exactly "t[i-1][j] is below
// the current value". And once it steps left in a row it keeps stepping left
// until tokens are equal, since t[i-1][j] only falls as j does; so each step
// settles a whole row: go up, or take the match at the last column up to j
// that holds the row's token (the highest set bit of its match mask there).
//
// Predictions whose sentences fit in four words together are scored against
// a reference sentence in one pass (details/summary_lcs_packed.hpp); wider
// ones one sentence at a time (details/summary_lcs_sentence.hpp).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/arithmetic.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/details/summary_lcs_packed.hpp"
#include "scorer/metrics/details/summary_lcs_sentence.hpp"
#include "scorer/numbering/id_sequence.hpp"
#include "scorer/stop_signal.hpp"

namespace tallygrams::scorer {

namespace detail {

// One prediction sentence at a time, against every reference sentence.
template <class Id>
void mark_unions_by_sentence(const IdSequence<Id>& reference, const IdSequence<Id>& prediction, size_t ids,
                             uint64_t* marks, ScratchArena& arena, size_t row_budget_words, StopSignal stop) {
    const ArenaScope scope(arena);
    size_t longest_reference = 0;
    for (size_t s = 0; s < reference.sentence_count; ++s) {
        longest_reference = std::max(longest_reference, reference.sentence_ends[s] - reference.sentence_start(s));
    }
    bool any_short = false;
    bool any_long = false;
    for (size_t s = 0; s < prediction.sentence_count; ++s) {
        const size_t n = prediction.sentence_ends[s] - prediction.sentence_start(s);
        any_short |= n > 0 && n <= 64;
        any_long |= n > 64;
    }

    uint64_t* short_masks = any_short ? arena.allocate_zeroed<uint64_t>(ids) : nullptr;
    uint64_t* rows = any_short ? arena.allocate<uint64_t>(longest_reference + 1) : nullptr;
    uint64_t* group_masks = any_long ? arena.allocate_zeroed<uint64_t>(ids * detail::kGroupWords) : nullptr;

    for (size_t ps = 0; ps < prediction.sentence_count; ++ps) {
        stop.check();  // each sentence's work is linear in the reference
        const size_t c_start = prediction.sentence_start(ps);
        const size_t n = prediction.sentence_ends[ps] - c_start;
        if (n == 0) continue;
        const Id* c = prediction.ids + c_start;
        if (n <= 64) {
            for (size_t j = 0; j < n; ++j) short_masks[c[j]] |= uint64_t{1} << j;
        }
        for (size_t rs = 0; rs < reference.sentence_count; ++rs) {
            const size_t r_start = reference.sentence_start(rs);
            const size_t m = reference.sentence_ends[rs] - r_start;
            if (m == 0) continue;
            if (n <= 64) {
                detail::mark_lcs_short(reference.ids + r_start, m, n, short_masks, rows, marks, r_start);
            } else {
                detail::mark_lcs_long(reference.ids + r_start, m, c, n, group_masks, marks, r_start, arena,
                                      row_budget_words, stop);
            }
        }
        if (n <= 64) {
            for (size_t j = 0; j < n; ++j) short_masks[c[j]] = 0;
        }
    }
}

// Each marked token is a hit while the prediction still has one like it.
template <class Id>
uint64_t count_hits(const IdSequence<Id>& reference, const IdSequence<Id>& prediction, size_t ids,
                    const uint64_t* marks, ScratchArena& arena) {
    const ArenaScope scope(arena);
    Id* remaining = arena.allocate_zeroed<Id>(ids);
    for (size_t j = 0; j < prediction.count; ++j) ++remaining[prediction.ids[j]];
    uint64_t hits = 0;
    for (size_t w = 0; w * 64 < reference.count; ++w) {
        for (uint64_t bits = marks[w]; bits != 0; bits &= bits - 1) {
            Id& count = remaining[reference.ids[64 * w + static_cast<size_t>(std::countr_zero(bits))]];
            const Id take = count > 0 ? 1 : 0;
            count -= take;
            hits += take;
        }
    }
    return hits;
}

}  // namespace detail

// Words of marks that mark_summary_lcs needs for `reference`.
template <class Id>
size_t summary_lcs_mark_words(const IdSequence<Id>& reference) noexcept {
    return ceil_div(reference.count, 64) + 1;
}

// Sets bit p of `marks` (zeroed, summary_lcs_mark_words long) for every
// reference position p on the union of its sentence's LCS with the
// prediction's sentences: the positions whose tokens summary_lcs_hits
// counts, before any clipping. For callers that clip them their own way.
// `stop` as for summary_lcs_hits.
template <class Id>
void mark_summary_lcs(const IdSequence<Id>& reference, const IdSequence<Id>& prediction, Id distinct,
                      uint64_t* marks, ScratchArena& arena, size_t packed_words = detail::kPackedWords,
                      size_t row_budget_words = detail::kRowBudgetWords, StopSignal stop = {}) {
    const ArenaScope scope(arena);
    const size_t ids = size_t{distinct} + 1;
    const size_t width = detail::packed_width(prediction);
    if (width <= 64 * packed_words) {
        if (width > 0) detail::mark_unions_packed(ceil_div(width, 64), reference, prediction, ids, marks, arena, stop);
    } else {
        detail::mark_unions_by_sentence(reference, prediction, ids, marks, arena, row_budget_words, stop);
    }
}

// The hits of the summary-level LCS. Prediction ids lie below `distinct`;
// reference tokens the prediction lacks are `distinct` (absent). Empty
// sentences are skipped: they add nothing to any union.
// `packed_words` and `row_budget_words` bound the packed path and the rows
// kept per sentence pair; tests lower them to reach every path. `stop` is
// checked between blocks of rows (stop_signal.hpp).
template <class Id>
uint64_t summary_lcs_hits(const IdSequence<Id>& reference, const IdSequence<Id>& prediction, Id distinct,
                          ScratchArena& arena, size_t packed_words = detail::kPackedWords,
                          size_t row_budget_words = detail::kRowBudgetWords, StopSignal stop = {}) {
    const ArenaScope scope(arena);
    uint64_t* marks = arena.allocate_zeroed<uint64_t>(summary_lcs_mark_words(reference));
    mark_summary_lcs(reference, prediction, distinct, marks, arena, packed_words, row_budget_words, stop);
    return detail::count_hits(reference, prediction, size_t{distinct} + 1, marks, arena);
}

}  // namespace tallygrams::scorer
