// Clipped n-gram overlap over numbered tokens: each reference occurrence of
// an n-gram matches at most one prediction occurrence. The reference fills
// the counts, the prediction drains them; the prediction's own n-grams are
// never tabulated.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "scorer/scratch_arena.hpp"
#include "scorer/token_numbering.hpp"

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

// Bigram keys pack both ids into one integer, wide enough for any pair.
template <class Id>
using BigramKey = std::conditional_t<sizeof(Id) <= 4, uint64_t, unsigned __int128>;

template <class Key>
size_t bigram_slot(Key key, int shift) noexcept {
    const auto folded = static_cast<uint64_t>(key) ^ static_cast<uint64_t>(key >> (sizeof(Key) * 4));
    return static_cast<size_t>((folded * 0x9E3779B97F4A7C15ULL) >> shift);
}

}  // namespace detail

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

}  // namespace detail

// Both texts must hold at least two tokens. A bigram is the ordered pair of
// its ids, so ("ab", "c") and ("a", "bc") can never collide.
template <class Id>
uint64_t bigram_overlap(const NumberedTokens<Id>& tokens, ScratchArena& arena) {
    if (detail::fits_bigram_matrix(tokens)) return detail::bigram_overlap_by_matrix(tokens, arena);

    using Key = detail::BigramKey<Id>;
    const ArenaScope scope(arena);
    // Keys pack both ids, plus one so that 0 marks an empty slot and the
    // table starts as plain zeroed memory. A prediction bigram holding
    // `absent` is never in the table and lands on an empty slot.
    const Key radix = Key{tokens.absent()} + 1;
    auto key_of = [radix](Id first, Id second) { return first * radix + second + 1; };
    const size_t bigrams = tokens.reference_count - 1;
    // At a load factor of at most a quarter nearly every bigram is settled
    // by its first slot, decided without a branch.
    const size_t capacity = std::bit_ceil(4 * bigrams + 4);
    const int shift = 64 - std::countr_zero(capacity);
    Key* keys = arena.allocate_zeroed<Key>(capacity);
    Id* remaining = arena.allocate_zeroed<Id>(capacity);

    auto find = [&](Key key) -> size_t {
        size_t index = detail::bigram_slot(key, shift);
        const bool settled = (keys[index] == key) | (keys[index] == 0);
        if (settled) [[likely]] return index;
        do {
            index = (index + 1) & (capacity - 1);
        } while (keys[index] != key && keys[index] != 0);
        return index;
    };
    for (size_t i = 0; i < bigrams; ++i) {
        const Key key = key_of(tokens.reference[i], tokens.reference[i + 1]);
        const size_t slot = find(key);
        keys[slot] = key;
        ++remaining[slot];
    }
    uint64_t overlap = 0;
    for (size_t i = 0; i + 1 < tokens.prediction_count; ++i) {
        Id& count = remaining[find(key_of(tokens.prediction[i], tokens.prediction[i + 1]))];
        // A missing bigram lands on an empty slot, whose count stays 0.
        const Id take = count > 0 ? 1 : 0;
        count -= take;
        overlap += take;
    }
    return overlap;
}

}  // namespace tallygrams::scorer
