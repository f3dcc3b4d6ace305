// A bounded memo of word -> Porter stem, for callers that stem many tokens
// in a row. Summaries reuse the same words over and over; looking a word up
// costs a hash and one compare, stemming it a pass per step.
//
// The table is direct-mapped: a word's hash picks one slot, and a new word
// simply replaces whatever that slot held. Words longer than kMaxWord bytes
// are stemmed every time (they are rare, and a slot's size stays fixed).
// Memory is fixed at construction (kSlots slots, kSlots * sizeof(Slot)
// bytes, one allocation) and never grows.
//
// Not thread-safe: give each thread its own cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "scorer/porter_stemmer.hpp"

namespace tallygrams::scorer {

class PorterStemCache {
public:
    static constexpr size_t kMaxWord = 22;
    static constexpr size_t kSlotBits = 12;
    static constexpr size_t kSlots = size_t{1} << kSlotBits;

    PorterStemCache() : slots_(std::make_unique<Slot[]>(kSlots)) {}

    // The same contract as porter_stem: writes the stem of `word` to `out`,
    // which has room for porter_stem_room(word.size()) bytes, and returns its
    // length. `out` may be word.data().
    size_t stem(std::string_view word, char* out) noexcept {
        const size_t size = word.size();
        if (size == 0 || size > kMaxWord) return porter_stem(word, out);
        Slot& slot = slots_[slot_of(word)];
        if (slot.word_size != size || std::memcmp(slot.word, word.data(), size) != 0) {
            // The slot is filled before `out` is written, since `out` may be
            // the word itself.
            slot.word_size = static_cast<uint8_t>(size);
            std::memcpy(slot.word, word.data(), size);
            slot.stem_size = static_cast<uint8_t>(porter_stem(word, slot.stem));
        }
        std::memcpy(out, slot.stem, slot.stem_size);
        return slot.stem_size;
    }

private:
    // 48 bytes: a word of up to kMaxWord bytes and its stem, never longer.
    // An empty slot has word_size 0, which no looked-up word has.
    struct Slot {
        uint8_t word_size = 0;
        uint8_t stem_size = 0;
        char word[kMaxWord];
        char stem[kMaxWord];
    };
    static_assert(porter_stem_room(kMaxWord) <= kMaxWord && kMaxWord <= UINT8_MAX);

    // Mixes the first and last eight bytes (they overlap for short words,
    // and are zero-padded below eight) with the length.
    static size_t slot_of(std::string_view word) noexcept {
        uint64_t head = 0, tail = 0;
        if (word.size() >= 8) {
            std::memcpy(&head, word.data(), 8);
            std::memcpy(&tail, word.data() + word.size() - 8, 8);
        } else {
            std::memcpy(&head, word.data(), word.size());
        }
        const uint64_t mixed = (head ^ (tail * 0x9E3779B97F4A7C15ull) ^ word.size()) * 0xD6E8FEB86659FD93ull;
        return static_cast<size_t>(mixed >> (64 - kSlotBits));
    }

    std::unique_ptr<Slot[]> slots_;
};

}  // namespace tallygrams::scorer
