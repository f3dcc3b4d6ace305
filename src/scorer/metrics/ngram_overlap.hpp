// Clipped n-gram overlap over numbered tokens: each reference occurrence of
// an n-gram matches at most one prediction occurrence. The reference fills
// the counts and the prediction drains them, so for unigrams, and for
// bigrams of small vocabularies, the prediction's own n-grams are never
// tabulated; larger vocabularies sort both texts' bigrams together
// (bigram_overlap_by_buckets).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/numbering/token_numbering.hpp"

namespace tallygrams::scorer {


// Both texts must hold at least one token. With tokens numbered, the
// counting table is a plain array indexed by id.
template <class Id>
uint64_t unigram_overlap(const NumberedTokens<Id>& tokens, ScratchArena& arena) {
    const ArenaScope scope(arena);
    Id* remaining = arena.allocate_zeroed<Id>(size_t{tokens.distinct} + 1);
    for (size_t i = 0; i < tokens.reference_count; ++i) ++remaining[tokens.reference[i]];
    // The absent id's count stays 0, so prediction-only tokens never match.
    // Branch-free: whether a token matches is as unpredictable as the text.
    uint64_t overlap = 0;
    for (size_t i = 0; i < tokens.prediction_count; ++i) {
        Id& count = remaining[tokens.prediction[i]];
        const Id take = count > 0 ? 1 : 0;
        count -= take;
        overlap += take;
    }
    return overlap;
}


namespace detail {

// Summary-length texts have few distinct tokens, so every possible bigram
// can have its own counter: a small matrix indexed by the two ids, updated
// without a single branch. Used while it stays within a fixed size and
// counts fit in a byte.
inline constexpr size_t kMatrixSide = 96;

template <class Id>
bool fits_bigram_matrix(const NumberedTokens<Id>& tokens) noexcept {
    return size_t{tokens.distinct} + 1 <= kMatrixSide && tokens.reference_count <= 255;
}

template <class Id>
uint64_t bigram_overlap_by_matrix(const NumberedTokens<Id>& tokens, ScratchArena& arena) {
    const ArenaScope scope(arena);
    const size_t side = size_t{tokens.distinct} + 1;  // ids, plus `absent`, whose row and column stay 0
    uint8_t* remaining = arena.allocate_zeroed<uint8_t>(side * side);
    for (size_t i = 0; i + 1 < tokens.reference_count; ++i) {
        ++remaining[tokens.reference[i] * side + tokens.reference[i + 1]];
    }
    uint64_t overlap = 0;
    for (size_t i = 0; i + 1 < tokens.prediction_count; ++i) {
        uint8_t& count = remaining[tokens.prediction[i] * side + tokens.prediction[i + 1]];
        const uint8_t take = count > 0 ? 1 : 0;
        count -= take;
        overlap += take;
    }
    return overlap;
}

// Larger vocabularies: both texts' bigrams are bucketed by their first id
// with one counting sort, the reference's ahead of the prediction's within
// each bucket. One flat pass then counts, per bucket, the second ids the
// reference offers and the prediction takes. A per-second-id counter is
// reset lazily by remembering which bucket last wrote it. No hashing and no
// data-dependent branch; memory is linear in the token and distinct counts.
template <class Id>
uint64_t bigram_overlap_by_buckets(const NumberedTokens<Id>& tokens, ScratchArena& arena) {
    const ArenaScope scope(arena);
    const size_t ids = size_t{tokens.distinct} + 1;  // `absent` included: its bucket only ever takes
    const size_t reference_bigrams = tokens.reference_count - 1;
    const size_t prediction_bigrams = tokens.prediction_count - 1;
    struct Entry {
        Id first;
        Id second;
        Id from_prediction;  // 0 or 1
    };

    size_t* bucket_end = arena.allocate_zeroed<size_t>(ids + 1);
    for (size_t i = 0; i < reference_bigrams; ++i) ++bucket_end[size_t{tokens.reference[i]} + 1];
    for (size_t i = 0; i < prediction_bigrams; ++i) ++bucket_end[size_t{tokens.prediction[i]} + 1];
    for (size_t a = 0; a < ids; ++a) bucket_end[a + 1] += bucket_end[a];  // now bucket starts
    Entry* entries = arena.allocate<Entry>(reference_bigrams + prediction_bigrams);
    for (size_t i = 0; i < reference_bigrams; ++i) {
        const Id first = tokens.reference[i];
        entries[bucket_end[first]++] = Entry{first, tokens.reference[i + 1], 0};
    }
    for (size_t i = 0; i < prediction_bigrams; ++i) {
        const Id first = tokens.prediction[i];
        entries[bucket_end[first]++] = Entry{first, tokens.prediction[i + 1], 1};
    }

    Id* owner = arena.allocate<Id>(ids);  // the bucket whose count `remaining` holds
    Id* remaining = arena.allocate_zeroed<Id>(ids);
    for (size_t b = 0; b < ids; ++b) owner[b] = static_cast<Id>(ids);  // no bucket
    uint64_t overlap = 0;
    for (size_t k = 0; k < reference_bigrams + prediction_bigrams; ++k) {
        const Entry e = entries[k];
        // Masked rather than selected, so that the compiler keeps it a
        // straight-line load instead of a branch.
        const Id same_bucket = static_cast<Id>(owner[e.second] == e.first);
        const Id current = remaining[e.second] & (static_cast<Id>(0) - same_bucket);
        const Id take = (e.from_prediction & static_cast<Id>(current > 0));
        const Id offer = 1 - e.from_prediction;
        remaining[e.second] = current + offer - take;
        owner[e.second] = e.first;
        overlap += take;
    }
    return overlap;
}

}  // namespace detail

// Both texts must hold at least two tokens. A bigram is the ordered pair of
// its ids, so ("ab", "c") and ("a", "bc") can never collide.
template <class Id>
uint64_t bigram_overlap(const NumberedTokens<Id>& tokens, ScratchArena& arena) {
    if (detail::fits_bigram_matrix(tokens)) return detail::bigram_overlap_by_matrix(tokens, arena);
    return detail::bigram_overlap_by_buckets(tokens, arena);
}

}  // namespace tallygrams::scorer
