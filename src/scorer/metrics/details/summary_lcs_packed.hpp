// All prediction sentences at once: the summary-level LCS's rows for one
// reference sentence against every prediction sentence in a single pass.
//
// The prediction's sentences lie one after another along the bits, each
// followed by a guard bit kept clear. The recurrence's addition carries only
// upwards, and a carry that leaves a sentence stops in its guard (0 + 0 +
// carry never carries on), so every sentence's columns evolve exactly as if
// that sentence stood alone; the guards are cleared again after each row.
// This packing of several problems into one machine word is that of
// H. Hyyro, K. Fredriksson and G. Navarro, "Increased bit-parallelism for
// approximate and multiple string matching", ACM Journal of Experimental
// Algorithmics 10 (2005).
//
// The walk (summary_lcs.hpp) needs, at row i and column j, whether
// t[i-1][j] < t[i][j]. The difference t[i][j] - t[i-1][j] is 0 or 1 for
// every j, starts at 0, and changes exactly where rows i-1 and i differ in a
// bit, so it is the parity of the differing bits below j. The forward pass
// keeps, per row, the running parity of (row i XOR row i-1) over all bits;
// the walk reads one bit of it, corrected by the parity below its sentence.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/arithmetic.hpp"
#include "common/bits.hpp"
#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/bit_count.hpp"
#include "scorer/metrics/details/summary_lcs_sentence.hpp"
#include "scorer/metrics/lcs.hpp"
#include "scorer/numbering/id_sequence.hpp"
#include "scorer/stop_signal.hpp"

namespace tallygrams::scorer {

namespace detail {

// Predictions up to this many words wide (sentence tokens plus one guard per
// sentence) are packed.
inline constexpr size_t kPackedWords = 4;

// Rows of reference sentences between two looks at the stop signal, at most.
inline constexpr size_t kRowsBetweenStopChecks = 4096;

// Bit k of the result is the parity of bits 0..k of x.
inline uint64_t prefix_parity(uint64_t x) noexcept {
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

template <class Id>
size_t packed_width(const IdSequence<Id>& prediction) noexcept {
    size_t bits = 0;
    for (size_t s = 0; s < prediction.sentence_count; ++s) {
        const size_t n = prediction.sentence_ends[s] - prediction.sentence_start(s);
        if (n > 0) bits += n + 1;
    }
    return bits;
}

inline bool bit_of(const uint64_t* words, size_t bit) noexcept { return (words[bit / 64] >> (bit % 64)) & 1; }

// Marks, for every reference sentence, its union of LCS positions with every
// prediction sentence. The prediction must be at most 64 * W bits wide packed.
template <class Id, size_t W>
void mark_unions_packed(const IdSequence<Id>& reference, const IdSequence<Id>& prediction, size_t ids,
                        uint64_t* marks, ScratchArena& arena, StopSignal stop) {
    const ArenaScope scope(arena);
    struct Segment {
        size_t first_bit;
        size_t length;
    };
    auto* segments = arena.allocate<Segment>(prediction.sentence_count);
    size_t segment_count = 0;
    uint64_t guards[W] = {};
    uint64_t* masks = arena.allocate_zeroed<uint64_t>(ids * W);
    size_t bit = 0;
    for (size_t s = 0; s < prediction.sentence_count; ++s) {
        const size_t start = prediction.sentence_start(s);
        const size_t n = prediction.sentence_ends[s] - start;
        if (n == 0) continue;
        for (size_t j = 0; j < n; ++j, ++bit) {
            const Id id = prediction.ids[start + j];
            masks[size_t{id} * W + bit / 64] |= uint64_t{1} << (bit % 64);
        }
        segments[segment_count++] = Segment{bit - n, n};
        guards[bit / 64] |= uint64_t{1} << (bit % 64);
        ++bit;
    }
    ensure(bit <= 64 * W, "packed prediction wider than its words");

    size_t longest = 0;
    for (size_t s = 0; s < reference.sentence_count; ++s) {
        longest = std::max(longest, reference.sentence_ends[s] - reference.sentence_start(s));
    }
    uint64_t* parities = arena.allocate<uint64_t>((longest + 1) * W);  // row i at i * W

    size_t rows_unchecked = 0;
    for (size_t rs = 0; rs < reference.sentence_count; ++rs) {
        const size_t r_start = reference.sentence_start(rs);
        const size_t m = reference.sentence_ends[rs] - r_start;
        if (m == 0) continue;
        const Id* r = reference.ids + r_start;

        uint64_t v[W];
        for (size_t k = 0; k < W; ++k) v[k] = ~guards[k];
        for (size_t i = 0; i < m; ++i) {
            const uint64_t* match = masks + size_t{r[i]} * W;
            uint64_t* parity = parities + (i + 1) * W;
            uint8_t carry = 0;
            uint64_t parity_below = 0;  // all ones when the bits below this word differ an odd number of times
            for (size_t k = 0; k < W; ++k) {
                const uint64_t before = v[k];
                carry = row_word_step(carry, v[k], match[k]);
                v[k] &= ~guards[k];
                parity[k] = prefix_parity(v[k] ^ before) ^ parity_below;
                parity_below = static_cast<uint64_t>(0) - (parity[k] >> 63);
            }
        }

        // Each walk may climb every row of the sentence: a long sentence is
        // checked before each walk, short ones once they add up to as many
        // rows (never, in a summary pair).
        const bool long_sentence = m >= kRowsBetweenStopChecks;
        rows_unchecked += m;
        if (rows_unchecked >= kRowsBetweenStopChecks) {
            stop.check();
            rows_unchecked = 0;
        }
        for (size_t sg = 0; sg < segment_count; ++sg) {
            if (long_sentence) stop.check();
            const Segment segment = segments[sg];
            const size_t first = segment.first_bit;
            // t[m][n]: the clear bits of the last row within the sentence.
            uint64_t length = 0;
            for (size_t k = first / 64; k <= (first + segment.length - 1) / 64; ++k) {
                uint64_t columns = ~uint64_t{0};
                if (k == first / 64) columns &= ~low_bits(first % 64);
                if (k == (first + segment.length) / 64) columns &= low_bits((first + segment.length) % 64);
                length += bit_count(~v[k] & columns);
            }
            // The walk of summary_lcs.hpp, a row per step: take the match at
            // the last column up to j holding row i's token when column j
            // matches or the row grows at j, else go up.
            size_t j = segment.length;
            bool lost = false;
            // Most rows go up, which the branch predicts well; a branch-free
            // step, and skipping the rows whose token the sentence lacks,
            // both measured slower.
            for (size_t i = m; i > 0 && j > 0 && length > 0; --i) {
                const size_t column_bit = first + j - 1;
                const uint64_t* match = masks + size_t{r[i - 1]} * W;
                const uint64_t* parity = parities + i * W;
                const bool below = first > 0 && bit_of(parity, first - 1);
                // Both bits are read whatever the first is: no branch to mispredict.
                const bool take = static_cast<bool>(static_cast<unsigned>(bit_of(match, column_bit)) |
                                                    static_cast<unsigned>(bit_of(parity, column_bit) != below));
                if (!take) continue;
                // The highest set bit of the token's mask within [first, column_bit].
                size_t found = ~size_t{0};
                for (size_t k = column_bit / 64 + 1; k-- > first / 64;) {
                    uint64_t candidates = match[k];
                    if (k == column_bit / 64) candidates &= low_bits(column_bit % 64 + 1);
                    if (k == first / 64) candidates &= ~low_bits(first % 64);
                    if (candidates != 0) {
                        found = 64 * k + static_cast<size_t>(std::bit_width(candidates)) - 1;
                        break;
                    }
                }
                if (found == ~size_t{0}) {
                    lost = true;
                    break;
                }
                const size_t position = r_start + i - 1;
                marks[position / 64] |= uint64_t{1} << (position % 64);
                j = found - first;
                --length;
            }
            ensure(!lost && length == 0, "the LCS walk found no match where the table has one");
        }
    }
}

template <class Id>
void mark_unions_packed(size_t words, const IdSequence<Id>& reference, const IdSequence<Id>& prediction, size_t ids,
                        uint64_t* marks, ScratchArena& arena, StopSignal stop = {}) {
    switch (words) {
        case 1:
            return mark_unions_packed<Id, 1>(reference, prediction, ids, marks, arena, stop);
        case 2:
            return mark_unions_packed<Id, 2>(reference, prediction, ids, marks, arena, stop);
        case 3:
            return mark_unions_packed<Id, 3>(reference, prediction, ids, marks, arena, stop);
        default:
            return mark_unions_packed<Id, 4>(reference, prediction, ids, marks, arena, stop);
    }
}

}  // namespace detail

}  // namespace tallygrams::scorer
