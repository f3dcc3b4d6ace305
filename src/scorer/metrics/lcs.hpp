// Length of the longest common subsequence of two numbered token sequences,
// by the bit-parallel method: the shorter sequence lies along the bits of
// machine words, and one pass over the longer sequence updates 64 columns of
// the classic dynamic-programming table per word operation. The result is
// the same number as the table gives, exactly.
//
// Row vector v has bit j clear where the table's value grows at column j,
// so the LCS length is the number of clear bits after the last row. Per row,
// with m the columns holding the row's token:
//     v = (v + (v & m)) | (v & ~m)
// where + is one addition across all words of v, carries included.
//
// The method is that of L. Allison and T. I. Dix, "A bit-string
// longest-common-subsequence algorithm", Information Processing Letters 23
// (1986), in the form with one addition and three logical operations per
// word given by M. Crochemore, C. S. Iliopoulos, Y. J. Pinzon and J. F. Reid,
// "A fast and practical bit-vector algorithm for the longest common
// subsequence problem", Information Processing Letters 80 (2001), and
// H. Hyyro, "Bit-parallel LCS-length computation revisited", AWOCA 2004.
//
// Columns are handled in groups of up to four words, all words of a group in
// registers during one pass over the rows. Between groups, each row's carry
// is kept in one byte, so memory stays linear: four words per distinct token
// plus one byte per row. A StopSignal is checked before each group's pass
// but the first, and between blocks of rows within every pass.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/arithmetic.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/details/word_array.hpp"
#include "scorer/numbering/token_numbering.hpp"
#include "scorer/stop_signal.hpp"

namespace tallygrams::scorer {

namespace detail {

inline constexpr size_t kGroupWords = 4;

// One pass over the rows for a group of W words. `matches` holds W words per
// id. With kCarries, `carries[i]` is the carry into this group's addition at
// row i and receives the carry out of it. Returns the number of clear bits of
// the final row vector within the group's `width` columns. `poll()` runs
// between blocks of kPollRows rows.
inline constexpr size_t kPollRows = 4096;

template <class Id, size_t W, bool kCarries, class Poll>
TALLYGRAMS_SCALAR_WORDS uint64_t lcs_group(const Id* rows, size_t row_count, const uint64_t* matches,
                                           uint8_t* carries, size_t width, Poll& poll) {
    using Row = Words<W>;
    Row v = all_bits<Row>();
    for (size_t block = 0; block < row_count; block += kPollRows) {
        if (block > 0) poll();
        const size_t block_end = row_count - block > kPollRows ? block + kPollRows : row_count;
        for (size_t i = block; i < block_end; ++i) {
            const Row masked = v & load_bits<Row>(matches + size_t{rows[i]} * W);
            Row sum = v;
            const uint8_t carry = add_carrying(sum, masked, kCarries ? carries[i] : 0);
            if constexpr (kCarries) carries[i] = carry;
            // v & ~match, written as v ^ (v & match) to reuse the masked word.
            v = sum | (v ^ masked);
        }
    }
    return count_bits(~v, width);
}

template <class Id, bool kCarries, class Poll>
uint64_t lcs_group_of_width(size_t words, const Id* rows, size_t row_count, const uint64_t* matches,
                            uint8_t* carries, size_t width, Poll& poll) {
    switch (words) {
        case 1:
            return lcs_group<Id, 1, kCarries>(rows, row_count, matches, carries, width, poll);
        case 2:
            return lcs_group<Id, 2, kCarries>(rows, row_count, matches, carries, width, poll);
        case 3:
            return lcs_group<Id, 3, kCarries>(rows, row_count, matches, carries, width, poll);
        default:
            return lcs_group<Id, 4, kCarries>(rows, row_count, matches, carries, width, poll);
    }
}

}  // namespace detail

// Both texts must hold at least one token. The result does not depend on
// which text is the reference.
//
// A row whose token has no column in a group, and no carry coming in,
// leaves that group's row vector as it was and carries nothing out:
// v + (v & 0) + 0 = v. When texts share little (a long reference against
// an unrelated prediction, say), most rows are such, and a group's pass
// then goes over the others only. Listing them costs about as much per row
// as one word of a pass, so whether to list is decided per group, from a
// sample of every eighth row and the group's width in words; ordinary text,
// where nearly every row takes part, stops sampling after one group.
//
// `stop` is checked between blocks of kPollRows rows of every pass, so that
// a caller can abandon a long pair part-way (stop_signal.hpp).
template <class Id>
uint64_t lcs_length(const NumberedTokens<Id>& tokens, ScratchArena& arena, StopSignal stop = {}) {
    const auto poll = [&stop] { stop.check(); };
    const ArenaScope scope(arena);
    // The longer sequence gives the rows, the shorter the columns (bits).
    const bool prediction_is_rows = tokens.reference_count < tokens.prediction_count;
    const Id* rows = prediction_is_rows ? tokens.prediction : tokens.reference;
    const size_t row_count = prediction_is_rows ? tokens.prediction_count : tokens.reference_count;
    const Id* columns = prediction_is_rows ? tokens.reference : tokens.prediction;
    const size_t column_count = prediction_is_rows ? tokens.reference_count : tokens.prediction_count;

    constexpr size_t kGroupColumns = 64 * detail::kGroupWords;
    const size_t total_words = ceil_div(column_count, 64);
    const size_t words = total_words < detail::kGroupWords ? total_words : detail::kGroupWords;
    const size_t groups = ceil_div(column_count, kGroupColumns);
    const size_t ids = size_t{tokens.distinct} + 1;

    // `words` match words per id; the absent id's stay 0, so it never matches.
    const Id absent = tokens.absent();
    // One allocation for the match words and, behind them, the carries and
    // (if rows may be skipped) each id's latest group: a long pair's
    // working memory lives on the heap, and every request costs.
    constexpr size_t kSkipMinimumRows = 512;
    bool may_skip = row_count >= kSkipMinimumRows;
    const size_t match_words = ids * words;
    const size_t carry_words = groups > 1 ? ceil_div(row_count, 8) : 0;
    const size_t group_words_needed = may_skip ? ceil_div(ids * sizeof(Id), 8) : 0;
    uint64_t* matches = arena.allocate<uint64_t>(match_words + carry_words + group_words_needed);
    std::fill_n(matches, match_words + carry_words, uint64_t{0});
    uint8_t* carries = groups > 1 ? reinterpret_cast<uint8_t*>(matches + match_words) : nullptr;
    Id* group_of = nullptr;  // the latest group whose columns hold each id
    if (may_skip) {
        group_of = reinterpret_cast<Id*>(matches + match_words + carry_words);
        std::fill_n(group_of, ids, ~Id{0});
    }

    constexpr size_t kSampleStride = 8;
    // Per row of a pass: cycles of overhead beside its words, and cycles
    // to list it.
    constexpr size_t kRowCost = 2;
    constexpr size_t kListCost = 3;
    Id* active_ids = nullptr;
    uint8_t* active_carries = nullptr;
    size_t* active_rows = nullptr;

    uint64_t length = 0;
    for (size_t group = 0; group < groups; ++group) {
        if (group > 0) stop.check();  // one group's pass is linear in the rows
        const size_t first = group * kGroupColumns;
        const size_t width = column_count - first < kGroupColumns ? column_count - first : kGroupColumns;
        const size_t group_words = ceil_div(width, 64);
        // A narrower last group keeps the same stride; its top words stay 0.
        for (size_t j = 0; j < width; ++j) {
            matches[size_t{columns[first + j]} * words + j / 64] |= uint64_t{1} << (j % 64);
        }
        for (size_t k = 0; k < words; ++k) matches[size_t{absent} * words + k] = 0;

        const auto stamp = static_cast<Id>(group);
        bool listing = false;
        if (may_skip) {
            for (size_t j = 0; j < width; ++j) group_of[columns[first + j]] = stamp;
            group_of[absent] = ~Id{0};
            size_t sampled = 0;
            for (size_t i = 0; i < row_count; i += kSampleStride) {
                const bool carry = carries != nullptr && carries[i] != 0;
                sampled += static_cast<size_t>((group_of[rows[i]] == stamp) | carry);
            }
            const size_t taking_part = sampled * kSampleStride;
            const size_t per_row = kRowCost + group_words;
            listing = taking_part * per_row + row_count * kListCost < row_count * per_row;
            // Texts that share most of their words keep doing so: after a
            // group in which nearly every row takes part, stop sampling.
            if (10 * taking_part > 9 * row_count) may_skip = false;
        }

        if (listing) {
            if (active_ids == nullptr) {  // the first listing pass
                active_ids = arena.allocate<Id>(row_count);
                active_carries = arena.allocate<uint8_t>(row_count);
                active_rows = arena.allocate<size_t>(row_count);
            }
            // Lists the rows that take part, branch-free; the others' carries
            // out are 0.
            size_t listed = 0;
            for (size_t i = 0; i < row_count; ++i) {
                const Id id = rows[i];
                const uint8_t carry = carries != nullptr ? carries[i] : 0;
                active_ids[listed] = id;
                active_carries[listed] = carry;
                active_rows[listed] = i;
                listed += static_cast<size_t>((group_of[id] == stamp) | (carry != 0));
                if (carries != nullptr) carries[i] = 0;
            }
            if (groups > 1) {
                length += detail::lcs_group_of_width<Id, true>(words, active_ids, listed, matches, active_carries, width, poll);
                for (size_t j = 0; j < listed; ++j) carries[active_rows[j]] = active_carries[j];
            } else {
                length += detail::lcs_group_of_width<Id, false>(group_words, active_ids, listed, matches, nullptr, width, poll);
            }
        } else if (groups > 1) {
            length += detail::lcs_group_of_width<Id, true>(words, rows, row_count, matches, carries, width, poll);
        } else {
            length += detail::lcs_group_of_width<Id, false>(group_words, rows, row_count, matches, nullptr, width, poll);
        }
        if (group + 1 < groups) {  // the next group starts from clean masks: each bit came from one column
            for (size_t j = 0; j < width; ++j) matches[size_t{columns[first + j]} * words + j / 64] = 0;
        }
    }
    return length;
}

}  // namespace tallygrams::scorer
