// Length of the longest common subsequence of two numbered token sequences,
// by the bit-parallel method: the shorter sequence lies along the bits of
// machine words, and one pass over the longer sequence updates 64 columns of
// the classic dynamic-programming table per word operation. The result is
// the same number as the table gives, exactly.
//
// Columns are processed one 64-bit strip at a time over all rows, carrying
// each row's addition carry to the next strip in one byte per row, so memory
// stays linear: one word per distinct token plus one byte per row.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "scorer/scratch_arena.hpp"
#include "scorer/token_numbering.hpp"

namespace tallygrams::scorer {

namespace detail {

// One strip of up to 64 columns. `matches[id]` has bit j set when column j of
// this strip holds token `id`; `carries` holds, per row, the carry into this
// strip's addition and receives the carry out of it. Returns the strip's
// final row vector.
template <class Id, bool kCarry>
uint64_t lcs_strip(const Id* rows, size_t row_count, const uint64_t* matches, uint8_t* carries) noexcept {
    uint64_t v = ~uint64_t{0};  // bit j clear: the LCS grew at column j
    for (size_t i = 0; i < row_count; ++i) {
        const uint64_t match = matches[rows[i]];
        const uint64_t u = v & match;
        if constexpr (kCarry) {
            uint64_t sum;
            const bool carry_a = __builtin_add_overflow(v, u, &sum);
            const bool carry_b = __builtin_add_overflow(sum, uint64_t{carries[i]}, &sum);
            carries[i] = static_cast<uint8_t>(carry_a | carry_b);
            v = sum | (v & ~match);
        } else {
            v = (v + u) | (v & ~match);
        }
    }
    return v;
}

}  // namespace detail

// Both texts must hold at least one token. The result does not depend on
// which text is the reference.
template <class Id>
uint64_t lcs_length(const NumberedTokens<Id>& tokens, ScratchArena& arena) {
    const ArenaScope scope(arena);
    // The longer sequence gives the rows, the shorter the columns (bits).
    const bool prediction_is_rows = tokens.reference_count < tokens.prediction_count;
    const Id* rows = prediction_is_rows ? tokens.prediction : tokens.reference;
    const size_t row_count = prediction_is_rows ? tokens.prediction_count : tokens.reference_count;
    const Id* columns = prediction_is_rows ? tokens.reference : tokens.prediction;
    const size_t column_count = prediction_is_rows ? tokens.reference_count : tokens.prediction_count;

    // One mask per id; the absent id's mask stays 0, so it never matches.
    const size_t ids = size_t{tokens.distinct} + 1;
    uint64_t* matches = arena.allocate_zeroed<uint64_t>(ids);
    const Id absent = tokens.absent();
    const size_t strips = (column_count + 63) / 64;
    uint8_t* carries = strips > 1 ? arena.allocate_zeroed<uint8_t>(row_count) : nullptr;

    uint64_t length = 0;
    for (size_t strip = 0; strip < strips; ++strip) {
        const size_t first = strip * 64;
        const size_t width = column_count - first < 64 ? column_count - first : 64;
        for (size_t j = 0; j < width; ++j) matches[columns[first + j]] |= uint64_t{1} << j;
        matches[absent] = 0;  // prediction-only tokens match nothing
        const uint64_t v = strips > 1 ? detail::lcs_strip<Id, true>(rows, row_count, matches, carries)
                                      : detail::lcs_strip<Id, false>(rows, row_count, matches, nullptr);
        const uint64_t valid = width == 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
        length += static_cast<uint64_t>(std::popcount(~v & valid));
        for (size_t j = 0; j < width; ++j) matches[columns[first + j]] = 0;
    }
    return length;
}

}  // namespace tallygrams::scorer
