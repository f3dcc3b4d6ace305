// Numbering the tokens of one pair: each distinct reference token gets a
// small integer, and every later comparison is an integer comparison. A
// prediction token that never occurs in the reference cannot match anything
// in any metric, so all of them share one extra number, `absent`.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/internal_failure.hpp"
#include "scorer/scratch_arena.hpp"
#include "scorer/token_walk.hpp"

namespace tallygrams::scorer {

template <class Id>
struct NumberedTokens {
    const Id* reference = nullptr;
    size_t reference_count = 0;
    const Id* prediction = nullptr;
    size_t prediction_count = 0;
    Id distinct = 0;  // ids of reference tokens are 0 .. distinct-1
    Id absent() const noexcept { return distinct; }
};

namespace detail {

// The first (up to) eight bytes of a token as one word, zero-padded. Tokens
// never contain a zero byte, so for tokens of up to eight bytes the word
// alone tells them apart. Reading 8 bytes is safe thanks to the buffer's
// padding.
inline uint64_t token_word(const char* text, size_t length) noexcept {
    uint64_t word;
    std::memcpy(&word, text, 8);
    const size_t kept = length < 8 ? length : 8;
    if constexpr (std::endian::native == std::endian::little) {
        return word & (~uint64_t{0} >> (64 - 8 * kept));
    } else {
        return word & (~uint64_t{0} << (64 - 8 * kept));
    }
}

// Hashes the first word and the length only: cheap and branch-free, and
// exact for the short tokens that make up most text; long tokens sharing
// their first eight bytes and length merely share a probe sequence.
inline uint64_t token_hash(uint64_t word, size_t length) noexcept {
    return (word * 0x9E3779B97F4A7C15ULL) ^ (uint64_t{length} * 0xD6E8FEB86659FD93ULL);
}

// Open addressing from token text to id at a low load factor (at most an
// eighth for short texts, a quarter otherwise), so that nearly every token is
// settled by its first slot without a taken branch. Whether a token is new or
// seen is as unpredictable as the text, so that decision is made with
// conditional moves rather than branches.
//
// The table is sized from the reference's token count, except for very long
// texts: those repeat their words, so the table starts at a bounded size and
// doubles with the number of distinct tokens, keeping memory proportional to
// the vocabulary rather than to the text.
template <class Id>
class TokenNumbering {
public:
    TokenNumbering(size_t max_distinct, ScratchArena& arena)
        : arena_(&arena),
          capacity_(initial_capacity(max_distinct)),
          shift_(64 - std::countr_zero(capacity_)),
          slots_(arena.allocate_zeroed<Slot>(capacity_)),
          seen_(arena.allocate<Seen>(max_distinct + 2)) {
        seen_[0] = Seen{nullptr, ~size_t{0}, 0};  // behind every empty slot; equals nothing
    }

    // The id of the token, numbering it if it is new.
    Id number(const char* text, size_t length) {
        if (4 * (size_t{distinct_} + 1) > capacity_) [[unlikely]] grow();
        Slot* slot = locate(text, length);
        const Id existing = slot->id_plus_one;
        const bool fresh = existing == 0;
        // Written whether or not the token is new: harmless when it is not,
        // since the count of distinct tokens then stays where it was.
        seen_[distinct_ + 1] = Seen{text, length, token_word(text, length)};
        // existing | (distinct + 1 if fresh): a select the compiler cannot
        // turn back into a branch.
        const Id fresh_mask = static_cast<Id>(0) - static_cast<Id>(fresh);
        const Id id_plus_one = existing | (fresh_mask & (distinct_ + 1));
        slot->id_plus_one = id_plus_one;
        slot->tag = static_cast<uint32_t>(token_hash(token_word(text, length), length));
        distinct_ += static_cast<Id>(fresh);
        return id_plus_one - 1;
    }

    // The id of the token, or `absent` if it was never numbered.
    Id find(const char* text, size_t length, Id absent) const noexcept {
        const Id found = locate(text, length)->id_plus_one;
        return found == 0 ? absent : found - 1;
    }

    Id distinct() const noexcept { return distinct_; }

private:
    struct Slot {
        Id id_plus_one;  // 0: empty
        uint32_t tag;    // low hash bits, to skip most unequal tokens cheaply
    };
    struct Seen {
        const char* text;
        size_t length;
        uint64_t word;
    };

    // The slot holding the token, or the empty slot where it belongs. The
    // first slot settles almost every short token, decided without
    // branches; collisions and long tokens, which need their remaining bytes
    // compared, take the slower loop.
    Slot* locate(const char* text, size_t length) const noexcept {
        const uint64_t word = token_word(text, length);
        const uint64_t hash = token_hash(word, length);
        const auto tag = static_cast<uint32_t>(hash);
        size_t index = static_cast<size_t>(hash >> shift_);
        Slot* slot = &slots_[index];
        const Seen& seen = seen_[slot->id_plus_one];
        const bool prefix_same = (slot->tag == tag) & (seen.length == length) & (seen.word == word);
        const bool settled = (slot->id_plus_one == 0) | (prefix_same & (length <= 8));
        if (settled) [[likely]] return slot;
        for (;; index = (index + 1) & (capacity_ - 1)) {
            slot = &slots_[index];
            if (slot->id_plus_one == 0) return slot;
            const Seen& other = seen_[slot->id_plus_one];
            if (slot->tag == tag && other.length == length && other.word == word &&
                (length <= 8 || std::memcmp(other.text + 8, text + 8, length - 8) == 0)) {
                return slot;
            }
        }
    }

    static size_t initial_capacity(size_t max_distinct) noexcept {
        constexpr size_t kShortText = 256;
        constexpr size_t kLargestInitial = 4096;
        if (max_distinct <= kShortText) return std::bit_ceil(8 * max_distinct + 8);
        return std::bit_ceil(4 * std::min(max_distinct, kLargestInitial) + 4);
    }

    // Doubles the table and places every numbered token again.
    void grow() {
        capacity_ *= 2;
        shift_ -= 1;
        slots_ = arena_->allocate_zeroed<Slot>(capacity_);
        for (Id id_plus_one = 1; id_plus_one <= distinct_; ++id_plus_one) {
            const Seen& seen = seen_[id_plus_one];
            const uint64_t hash = token_hash(seen.word, seen.length);
            size_t index = static_cast<size_t>(hash >> shift_);
            while (slots_[index].id_plus_one != 0) index = (index + 1) & (capacity_ - 1);
            slots_[index] = Slot{id_plus_one, static_cast<uint32_t>(hash)};
        }
    }

    ScratchArena* arena_;
    size_t capacity_;
    int shift_;
    Slot* slots_;
    Seen* seen_;  // seen_[id + 1]: the first occurrence of token `id`
    Id distinct_ = 0;
};

}  // namespace detail

// Tokenizes both texts and numbers their tokens. All memory comes from
// `arena` and lives as long as its current scope.
template <class Id>
NumberedTokens<Id> number_tokens(std::string_view reference, std::string_view prediction, ScratchArena& arena) {
    // The id arrays outlive this call; everything else is working memory,
    // given back before returning so that the metrics have room.
    Id* reference_ids = arena.allocate<Id>(reference.size() / 2 + 1);
    Id* prediction_ids = arena.allocate<Id>(prediction.size() / 2 + 1);
    const ArenaScope working(arena);

    // Counting the reference's tokens first (a popcount per 64 bytes) sizes
    // the table before the numbering walk.
    const NormalizedText ref = normalize(reference, arena);
    const size_t n_r = count_tokens(ref);
    detail::TokenNumbering<Id> numbering(n_r, arena);
    {
        // Plain locals in the loops below, so that the stores of ids cannot
        // be taken to alias the table's fields and force them to be reread.
        Id* __restrict out = reference_ids;
        Id* const out_end = reference_ids + n_r;
        TokenCursor cursor(ref);
        size_t start = 0;
        size_t length = 0;
        while (cursor.next(start, length)) {
            ensure(out < out_end && start + length <= ref.length, "token span is not a valid range of the normalized text");
            *out++ = numbering.number(ref.bytes + start, length);
        }
        ensure(out == out_end, "token count and token walk disagree");
    }

    NumberedTokens<Id> numbered;
    numbered.reference = reference_ids;
    numbered.reference_count = n_r;
    numbered.distinct = numbering.distinct();

    const NormalizedText pred = normalize(prediction, arena);
    const Id absent = numbered.absent();
    const detail::TokenNumbering<Id> lookup = numbering;  // read-only from here on
    Id* __restrict out = prediction_ids;
    TokenCursor cursor(pred);
    size_t start = 0;
    size_t length = 0;
    while (cursor.next(start, length)) *out++ = lookup.find(pred.bytes + start, length, absent);
    const auto n_p = static_cast<size_t>(out - prediction_ids);
    numbered.prediction = prediction_ids;
    numbered.prediction_count = n_p;
    return numbered;
}

}  // namespace tallygrams::scorer
