// The three counts of a pair, unigram overlap, bigram overlap and LCS
// length, in one pass over each text when the shorter text has at most 128
// tokens (two words of bits), or 256 against a longer text of at most 2048.
//
// The shorter text lies along the bits of W words, as in the bit-parallel
// LCS (lcs.hpp): match[id] has bit j set where column j holds token `id`.
// The longer text then runs the LCS rows, and the same match words give the
// clipped overlaps without a single counter. For a row token `id`, the
// columns still free to be matched are match[id] & ~taken; the row takes
// the lowest of them, if any, into `taken`. Each column is taken at most
// once and a row takes at most one column, so per distinct token the number
// taken is the smaller of its two counts: the clipped overlap, read off at
// the end as the number of bits in `taken`. Bigrams are the same with the
// columns where the previous row's token sits just before `id`:
// (match[previous] << 1) & match[id].
//
// Per row that is a handful of word operations beside the LCS update, whose
// chain of three dependent operations leaves most of the processor idle
// anyway; no counting table to clear, and no limit on the vocabulary.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "scorer/details/cpu_features.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/bit_count.hpp"
#include "scorer/metrics/details/word_array.hpp"
#include "scorer/metrics/lcs.hpp"
#include "scorer/metrics/ngram_overlap.hpp"
#include "scorer/numbering/token_numbering.hpp"

namespace tallygrams::scorer {

struct PairCounts {
    uint64_t unigrams = 0;  // clipped unigram overlap
    uint64_t bigrams = 0;   // clipped bigram overlap
    uint64_t lcs = 0;       // LCS length
};

namespace detail {

inline constexpr size_t kFusedColumns = 64 * kGroupWords;

// Whether the one pass pays: always for up to two words of columns; for
// three or four only while the rows are few, since a row costs about
// twenty instructions per word, while the metrics one at a time cost little
// per row beyond the LCS, which skips the rows that match nothing.
inline bool takes_one_pass(size_t columns, size_t rows) noexcept {
    return columns <= 128 || (columns <= kFusedColumns && rows <= 2048);
}

// W words of match bits per id; `columns` is the shorter text.
template <class Id, size_t W>
[[gnu::always_inline]] inline PairCounts fused_counts(const Id* columns, size_t column_count, const Id* rows,
                                                      size_t row_count, size_t ids, Id absent, ScratchArena& arena) {
    using Bits = Words<W>;
    const ArenaScope scope(arena);
    uint64_t* const matches = arena.allocate_zeroed<uint64_t>(ids * W);
    for (size_t j = 0; j < column_count; ++j) matches[size_t{columns[j]} * W + j / 64] |= uint64_t{1} << (j % 64);
    for (size_t k = 0; k < W; ++k) matches[size_t{absent} * W + k] = 0;  // matches nothing, whichever text holds it

    Bits v = all_bits<Bits>();
    Bits unigrams{}, bigrams{}, previous{};
    for (size_t i = 0; i < row_count; ++i) {
        const Bits match = load_bits<Bits>(matches + size_t{rows[i]} * W);
        const Bits masked = v & match;
        v = (v + masked) | (v ^ masked);  // the LCS row
        unigrams = unigrams | lowest_bit(match & ~unigrams);
        // Columns j whose bigram (j-1, j) is this row's.
        bigrams = bigrams | lowest_bit(shifted_up(previous) & match & ~bigrams);
        previous = match;
    }
    return PairCounts{count_bits(unigrams, column_count), count_bits(bigrams, column_count),
                      count_bits(~v, column_count)};
}

template <class Id, size_t W>
TALLYGRAMS_SCALAR_WORDS PairCounts fused_counts_baseline(const Id* columns, size_t column_count, const Id* rows,
                                                         size_t row_count, size_t ids, Id absent, ScratchArena& arena) {
    return fused_counts<Id, W>(columns, column_count, rows, row_count, ids, absent, arena);
}

// With BMI's and-not and lowest-bit instructions and a popcount, the row
// takes about a third fewer instructions.
#if defined(TALLYGRAMS_X86_KERNELS)
template <class Id, size_t W>
__attribute__((target("bmi,bmi2,popcnt"))) TALLYGRAMS_SCALAR_WORDS PairCounts
fused_counts_bmi(const Id* columns, size_t column_count, const Id* rows, size_t row_count, size_t ids, Id absent,
                 ScratchArena& arena) {
    return fused_counts<Id, W>(columns, column_count, rows, row_count, ids, absent, arena);
}
#endif

template <class Id, size_t W>
PairCounts fused_counts_here(const Id* columns, size_t column_count, const Id* rows, size_t row_count, size_t ids,
                             Id absent, ScratchArena& arena) {
#if defined(TALLYGRAMS_X86_KERNELS)
    if (cpu_has_bmi2() && cpu_has_popcnt()) {
        return fused_counts_bmi<Id, W>(columns, column_count, rows, row_count, ids, absent, arena);
    }
#endif
    return fused_counts_baseline<Id, W>(columns, column_count, rows, row_count, ids, absent, arena);
}

}  // namespace detail

// Which of the counts a caller needs; the one-pass form gives all three
// anyway, the metrics one at a time only those asked for.
struct CountsWanted {
    bool unigrams = true;
    bool bigrams = true;
    bool lcs = true;
};

// The counts of numbered tokens; each is 0 when either text is too short
// for it (no tokens; for bigrams, fewer than two). Pairs too large for the
// one pass (takes_one_pass) take the metrics one at a time.
// `stop` is checked inside the LCS of a pair too large for the one pass,
// whose work grows with the product of the texts' lengths.
template <class Id>
PairCounts pair_counts(const NumberedTokens<Id>& tokens, ScratchArena& arena, CountsWanted wanted = {},
                       StopSignal stop = {}) {
    const size_t n_r = tokens.reference_count;
    const size_t n_p = tokens.prediction_count;
    if (n_r == 0 || n_p == 0) return PairCounts{};
    PairCounts counts;
    if (detail::takes_one_pass(std::min(n_r, n_p), std::max(n_r, n_p))) {
        const bool prediction_is_rows = n_r < n_p;
        const Id* rows = prediction_is_rows ? tokens.prediction : tokens.reference;
        const Id* columns = prediction_is_rows ? tokens.reference : tokens.prediction;
        const size_t row_count = prediction_is_rows ? n_p : n_r;
        const size_t column_count = prediction_is_rows ? n_r : n_p;
        const size_t ids = size_t{tokens.distinct} + 1;
        switch (ceil_div(column_count, 64)) {
            case 1:
                return detail::fused_counts_here<Id, 1>(columns, column_count, rows, row_count, ids, tokens.absent(), arena);
            case 2:
                return detail::fused_counts_here<Id, 2>(columns, column_count, rows, row_count, ids, tokens.absent(), arena);
            case 3:
                return detail::fused_counts_here<Id, 3>(columns, column_count, rows, row_count, ids, tokens.absent(), arena);
            default:
                return detail::fused_counts_here<Id, 4>(columns, column_count, rows, row_count, ids, tokens.absent(), arena);
        }
    }
    if (wanted.unigrams) counts.unigrams = unigram_overlap(tokens, arena);
    if (wanted.bigrams && n_r >= 2 && n_p >= 2) counts.bigrams = bigram_overlap(tokens, arena);
    if (wanted.lcs) counts.lcs = lcs_length(tokens, arena, stop);
    return counts;
}

}  // namespace tallygrams::scorer
