// The three counts of a pair, unigram overlap, bigram overlap and LCS
// length, in one pass over each text when the shorter text has at most 256
// tokens (four words of bits).
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

#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/bit_count.hpp"
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

// The lowest set bit of a W-word bit set (0 if none), W words at a time.
template <size_t W>
inline void lowest_bit(const uint64_t (&bits)[W], uint64_t (&lowest)[W]) noexcept {
    uint64_t none_below = ~uint64_t{0};  // all ones while no lower word had a bit
    for (size_t k = 0; k < W; ++k) {
        lowest[k] = (bits[k] & (uint64_t{0} - bits[k])) & none_below;
        none_below &= uint64_t{0} - static_cast<uint64_t>(bits[k] == 0);
    }
}

// W words of match bits per id; `columns` is the shorter text.
template <class Id, size_t W>
TALLYGRAMS_SCALAR_WORDS PairCounts fused_counts(const Id* columns, size_t column_count, const Id* rows,
                                                size_t row_count, size_t ids, Id absent, ScratchArena& arena) {
    const ArenaScope scope(arena);
    uint64_t* const matches = arena.allocate_zeroed<uint64_t>(ids * W);
    for (size_t j = 0; j < column_count; ++j) matches[size_t{columns[j]} * W + j / 64] |= uint64_t{1} << (j % 64);
    for (size_t k = 0; k < W; ++k) matches[size_t{absent} * W + k] = 0;  // matches nothing, whichever text holds it

    uint64_t v[W], unigrams[W], bigrams[W], previous[W];
    for (size_t k = 0; k < W; ++k) {
        v[k] = ~uint64_t{0};
        unigrams[k] = 0;
        bigrams[k] = 0;
        previous[k] = 0;
    }
    for (size_t i = 0; i < row_count; ++i) {
        uint64_t match[W];
        for (size_t k = 0; k < W; ++k) match[k] = matches[size_t{rows[i]} * W + k];

        // The LCS row; the additions in one unbroken carry chain.
        uint64_t masked[W], sum[W];
        for (size_t k = 0; k < W; ++k) masked[k] = v[k] & match[k];
        uint8_t carry = 0;
        for (size_t k = 0; k < W; ++k) carry = add_with_carry(carry, v[k], masked[k], sum[k]);
        for (size_t k = 0; k < W; ++k) v[k] = sum[k] | (v[k] ^ masked[k]);

        uint64_t free_columns[W], taken[W];
        for (size_t k = 0; k < W; ++k) free_columns[k] = match[k] & ~unigrams[k];
        lowest_bit(free_columns, taken);
        for (size_t k = 0; k < W; ++k) unigrams[k] |= taken[k];

        // Columns j whose bigram (j-1, j) is this row's: the previous row's
        // columns moved up by one, within and across words.
        for (size_t k = 0; k < W; ++k) {
            const uint64_t moved = (previous[k] << 1) | (k > 0 ? previous[k - 1] >> 63 : 0);
            free_columns[k] = moved & match[k] & ~bigrams[k];
        }
        lowest_bit(free_columns, taken);
        for (size_t k = 0; k < W; ++k) {
            bigrams[k] |= taken[k];
            previous[k] = match[k];
        }
    }
    PairCounts counts;
    for (size_t k = 0; k < W; ++k) {
        const size_t bits = column_count > 64 * k ? column_count - 64 * k : 0;
        const uint64_t valid = bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
        counts.lcs += static_cast<uint64_t>(bit_count(~v[k] & valid));
        counts.unigrams += static_cast<uint64_t>(bit_count(unigrams[k]));
        counts.bigrams += static_cast<uint64_t>(bit_count(bigrams[k]));
    }
    return counts;
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
// for it (no tokens; for bigrams, fewer than two). Pairs whose shorter text
// has more than 256 tokens take the metrics one at a time.
template <class Id>
PairCounts pair_counts(const NumberedTokens<Id>& tokens, ScratchArena& arena, CountsWanted wanted = {}) {
    const size_t n_r = tokens.reference_count;
    const size_t n_p = tokens.prediction_count;
    if (n_r == 0 || n_p == 0) return PairCounts{};
    PairCounts counts;
    if (std::min(n_r, n_p) <= detail::kFusedColumns) {
        const bool prediction_is_rows = n_r < n_p;
        const Id* rows = prediction_is_rows ? tokens.prediction : tokens.reference;
        const Id* columns = prediction_is_rows ? tokens.reference : tokens.prediction;
        const size_t row_count = prediction_is_rows ? n_p : n_r;
        const size_t column_count = prediction_is_rows ? n_r : n_p;
        const size_t ids = size_t{tokens.distinct} + 1;
        switch (ceil_div(column_count, 64)) {
            case 1:
                return detail::fused_counts<Id, 1>(columns, column_count, rows, row_count, ids, tokens.absent(), arena);
            case 2:
                return detail::fused_counts<Id, 2>(columns, column_count, rows, row_count, ids, tokens.absent(), arena);
            case 3:
                return detail::fused_counts<Id, 3>(columns, column_count, rows, row_count, ids, tokens.absent(), arena);
            default:
                return detail::fused_counts<Id, 4>(columns, column_count, rows, row_count, ids, tokens.absent(), arena);
        }
    }
    if (wanted.unigrams) counts.unigrams = unigram_overlap(tokens, arena);
    if (wanted.bigrams && n_r >= 2 && n_p >= 2) counts.bigrams = bigram_overlap(tokens, arena);
    if (wanted.lcs) counts.lcs = lcs_length(tokens, arena);
    return counts;
}

}  // namespace tallygrams::scorer
