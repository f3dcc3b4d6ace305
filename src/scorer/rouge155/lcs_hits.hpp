// ROUGE-L's and ROUGE-W's hits from the marked reference positions.
//
// For each reference sentence the script takes the union of the positions
// its LCS (or weighted LCS) with each prediction sentence marks, then walks
// the sentence in order: a marked token is a hit while both the reference
// and the prediction still have one like it in their token reading, and
// each hit uses one up on both sides, so that no token is counted more
// often than in ROUGE-1.
//
// ROUGE-W weighs hits by runs: a run ends at a hit whose next position is
// unmarked, or at the end of the sentence, and adds (its length)^w. A marked
// position that is not a hit (its token used up) neither ends the run nor
// adds to it, so the run goes on across it; and a run whose last hit is
// followed only by such positions to the end of its sentence is never added.
// Both are the script's arithmetic, kept.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scorer/numbering/id_sequence.hpp"
#include "scorer/rouge155/vocabulary.hpp"

namespace tallygrams::scorer::rouge155 {

namespace details {

inline bool is_marked(const uint64_t* marks, size_t position) noexcept {
    return (marks[position / 64] >> (position % 64)) & 1;
}

// A hit while both sides still hold the word; uses one up on each.
inline bool take_hit(WordId word, uint32_t* reference_left, uint32_t* prediction_left) noexcept {
    if (reference_left[word] == 0 || prediction_left[word] == 0) return false;
    --reference_left[word];
    --prediction_left[word];
    return true;
}

}  // namespace details

inline uint64_t clipped_lcs_hits(const IdSequence<WordId>& reference, const uint64_t* marks, uint32_t* reference_left,
                                 uint32_t* prediction_left) noexcept {
    uint64_t hits = 0;
    for (size_t p = 0; p < reference.count; ++p) {
        if (details::is_marked(marks, p)) hits += details::take_hit(reference.ids[p], reference_left, prediction_left);
    }
    return hits;
}

// `power[k]` is k^w for k up to the longest sentence's length.
inline double clipped_weighted_hits(const IdSequence<WordId>& reference, const uint64_t* marks,
                                    uint32_t* reference_left, uint32_t* prediction_left, const double* power) noexcept {
    double hits = 0;
    for (size_t s = 0; s < reference.sentence_count; ++s) {
        const size_t start = reference.sentence_start(s);
        const size_t end = reference.sentence_ends[s];
        size_t run = 0;
        for (size_t p = start; p < end; ++p) {
            if (!details::is_marked(marks, p) || !details::take_hit(reference.ids[p], reference_left, prediction_left)) {
                continue;
            }
            ++run;
            if (p + 1 == end || !details::is_marked(marks, p + 1)) {
                hits += power[run];
                run = 0;
            }
        }
    }
    return hits;
}

}  // namespace tallygrams::scorer::rouge155
