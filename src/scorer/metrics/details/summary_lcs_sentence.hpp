// One sentence pair at a time: the summary-level LCS's rows and walk for a
// prediction sentence on its own (summary_lcs.hpp describes both), for
// predictions too wide to pack (summary_lcs_packed.hpp). A sentence of up to
// 64 tokens keeps every row in one word; a longer one keeps its rows in
// blocks, recomputing the block the walk enters.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/arithmetic.hpp"
#include "common/bits.hpp"
#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/bit_count.hpp"
#include "scorer/metrics/lcs.hpp"
#include "scorer/stop_signal.hpp"

namespace tallygrams::scorer {

namespace detail {

// Kept rows of one sentence pair beyond which the rows are kept in blocks.
inline constexpr size_t kRowBudgetWords = size_t{1} << 16;

// One word of one row of lcs.hpp's recurrence, v = (v + (v & m)) | (v & ~m),
// taking and returning the carry between words.
inline uint8_t row_word_step(uint8_t carry, uint64_t& v, uint64_t match) noexcept {
    uint64_t sum;
    carry = add_with_carry(carry, v, v & match, sum);
    v = sum | (v & ~match);
    return carry;
}

// t[i][j] from row i: the clear bits below bit j.
inline uint64_t lcs_prefix(const uint64_t* row, size_t j) noexcept {
    uint64_t total = 0;
    size_t k = 0;
    for (; 64 * (k + 1) <= j; ++k) total += static_cast<uint64_t>(bit_count(~row[k]));
    if (j % 64 != 0) total += static_cast<uint64_t>(bit_count(~row[k] & low_bits(j % 64)));
    return total;
}

// Marks, in `marks` from bit `offset`, the positions of reference sentence
// `r` on the chosen LCS with prediction sentence `c`. `length` is t[m][n];
// `above(i, j)` gives t[i-1][j].
template <class Id, class Above>
void walk_back(const Id* r, size_t m, const Id* c, size_t n, uint64_t length, Above&& above, uint64_t* marks,
               size_t offset) {
    size_t i = m;
    size_t j = n;
    // The walk's value t[i][j] is `length` throughout; at 0 no match is left.
    // It is 0 on the table's edges, so the walk stops inside it.
    while (length > 0 && i > 0 && j > 0) {
        if (r[i - 1] == c[j - 1]) {
            const size_t position = offset + i - 1;
            marks[position / 64] |= uint64_t{1} << (position % 64);
            --i;
            --j;
            --length;
        } else if (above(i, j) < length) {
            --j;
        } else {
            --i;
        }
    }
    ensure(length == 0, "the LCS walk left the table before taking every match");
}

// A prediction sentence of at most 64 tokens. `masks[id]` has bit j set
// where c[j] == id; `rows` has room for m + 1 words.
//
// The walk settles a whole row per step. Once it steps left in row i, it
// keeps stepping left until tokens are equal, since t[i-1][j] only falls as
// j does. So in row i at column j it either goes up, or takes the match at
// the last column up to j holding row i's token: the highest set bit of
// that token's mask below bit j. It takes it when column j itself matches
// or t[i-1][j] is below the walk's value.
template <class Id>
void mark_lcs_short(const Id* r, size_t m, size_t n, const uint64_t* masks, uint64_t* rows, uint64_t* marks,
                    size_t offset) {
    uint64_t v = ~uint64_t{0};
    rows[0] = v;
    for (size_t i = 0; i < m; ++i) {
        v = (v + (v & masks[r[i]])) | (v & ~masks[r[i]]);  // what leaves the top bit is beyond the sentence
        rows[i + 1] = v;
    }
    uint64_t length = bit_count(~v & low_bits(n));
    size_t j = n;
    bool lost = false;
    // Branch-free: which way the walk goes is as unpredictable as the text.
    for (size_t i = m; i > 0 && j > 0 && length > 0; --i) {
        const uint64_t candidates = masks[r[i - 1]] & low_bits(j);
        const bool here = (candidates >> (j - 1)) & 1;
        const bool take = here | (bit_count(~rows[i - 1] & low_bits(j)) < length);
        lost |= take & (candidates == 0);
        const size_t column = static_cast<size_t>(std::bit_width(candidates));  // 1-based
        const size_t position = offset + i - 1;
        marks[position / 64] |= uint64_t{take} << (position % 64);
        j = take ? column - 1 : j;
        length -= take;
        if (lost) break;
    }
    ensure(!lost && length == 0, "the LCS walk found no match where the table has one");
}

// A longer prediction sentence. `group_masks` holds kGroupWords zeroed words
// per id and is zeroed again on return, unless `stop` abandons the pair.
template <class Id>
void mark_lcs_long(const Id* r, size_t m, const Id* c, size_t n, uint64_t* group_masks, uint64_t* marks,
                   size_t offset, ScratchArena& arena, size_t row_budget_words, StopSignal stop = {}) {
    const ArenaScope scope(arena);
    const size_t words = ceil_div(n, 64);
    const size_t block_rows =
        (m + 1) * words <= row_budget_words ? m : static_cast<size_t>(std::sqrt(static_cast<double>(m))) + 1;
    const size_t blocks = ceil_div(m, block_rows);
    uint64_t* checkpoints = blocks > 1 ? arena.allocate<uint64_t>(blocks * words) : nullptr;  // row q*block_rows
    uint64_t* block = arena.allocate<uint64_t>((block_rows + 1) * words);
    uint8_t* carries = arena.allocate<uint8_t>(block_rows + 1);

    // Rows q*block_rows + 1 .. (the block's end) into `block`, whose first
    // row must hold row q*block_rows: one group of columns at a time, the
    // carry of each row handed from group to group.
    const auto compute_block = [&](size_t q) {
        stop.check();
        const size_t first_row = q * block_rows;
        const size_t rows = std::min(block_rows, m - first_row);
        for (size_t first_word = 0; first_word < words; first_word += kGroupWords) {
            const size_t group_words = std::min(kGroupWords, words - first_word);
            const size_t first_column = 64 * first_word;
            const size_t end_column = std::min(n, first_column + 64 * kGroupWords);
            for (size_t j = first_column; j < end_column; ++j) {
                const size_t bit = j - first_column;
                group_masks[size_t{c[j]} * kGroupWords + bit / 64] |= uint64_t{1} << (bit % 64);
            }
            for (size_t x = 1; x <= rows; ++x) {
                const uint64_t* match = group_masks + size_t{r[first_row + x - 1]} * kGroupWords;
                const uint64_t* previous = block + (x - 1) * words + first_word;
                uint64_t* out = block + x * words + first_word;
                uint8_t carry = first_word == 0 ? 0 : carries[x];
                for (size_t k = 0; k < group_words; ++k) {
                    out[k] = previous[k];
                    carry = row_word_step(carry, out[k], match[k]);
                }
                carries[x] = carry;
            }
            for (size_t j = first_column; j < end_column; ++j) {
                std::memset(group_masks + size_t{c[j]} * kGroupWords, 0, kGroupWords * sizeof(uint64_t));
            }
        }
    };

    std::fill_n(block, words, ~uint64_t{0});
    for (size_t q = 0; q < blocks; ++q) {
        if (q > 0) std::memcpy(block, block + block_rows * words, words * sizeof(uint64_t));
        if (blocks > 1) std::memcpy(checkpoints + q * words, block, words * sizeof(uint64_t));
        compute_block(q);
    }
    size_t loaded = blocks - 1;  // `block` holds the last block
    const uint64_t length = lcs_prefix(block + (m - loaded * block_rows) * words, n);
    walk_back(
        r, m, c, n, length,
        [&](size_t i, size_t j) {
            const size_t row = i - 1;  // never more than one row below the last one asked for
            if (row < loaded * block_rows) {
                --loaded;
                std::memcpy(block, checkpoints + loaded * words, words * sizeof(uint64_t));
                compute_block(loaded);
            }
            return lcs_prefix(block + (row - loaded * block_rows) * words, j);
        },
        marks, offset);
}

}  // namespace detail

}  // namespace tallygrams::scorer
