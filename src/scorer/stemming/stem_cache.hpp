// A bounded memo of word -> stem (the Porter stemmer's, or another's), for
// callers that stem the same words over and over (every pair of an
// evaluation repeats the common words of its language). The core keeps no
// state of its own: whoever wants a cache owns one, one per thread, and
// hands it to the stemming transform (stemming.hpp). A stem never depends
// on the cache, only its cost does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "scorer/stemming/porter_stemmer.hpp"

namespace tallygrams::scorer {

// The stemmer a cache remembers: stem(word, out) writes the stem of `word`
// to `out`, which has room(word.size()) bytes, and returns its size.
struct PorterStemmer {
    static size_t stem(std::string_view word, char* out) noexcept { return porter_stem(word, out); }
    static constexpr size_t room(size_t word_size) noexcept { return porter_stem_room(word_size); }
};

// A bounded memo of word -> stem: direct-mapped, 4096 slots of 64 bytes
// (256 KiB), one allocation; a new word replaces whatever its slot held, and
// words outside 4 to 24 bytes are stemmed every time. Not for concurrent
// use: one per thread.
template <class Stemmer>
class BasicStemCache {
public:
    static constexpr size_t kMaxWord = 24;
    static constexpr size_t kSlotBits = 12;
    static constexpr size_t kSlots = size_t{1} << kSlotBits;

    BasicStemCache() : slots_(std::make_unique<Slot[]>(kSlots)) {}

    // The same contract as Stemmer::stem.
    size_t stem(std::string_view word, char* out) noexcept(noexcept(Stemmer::stem(word, out))) {
        const size_t size = word.size();
        if (size < 4 || size > kMaxWord) return Stemmer::stem(word, out);
        const Chunks key = chunks_of(word.data(), size);
        Slot& slot = slots_[slot_of(key, size)];
        if (slot.word_size != size || !(chunks_of(slot.word, size) == key)) {
            // The slot is filled before `out` is written, since `out` may be
            // the word itself.
            slot.word_size = static_cast<uint8_t>(size);
            std::memcpy(slot.word, word.data(), size);
            slot.stem_size = static_cast<uint8_t>(Stemmer::stem(word, slot.stem));
        }
        copy_short(out, slot.stem, slot.stem_size);
        return slot.stem_size;
    }

private:
    // An empty slot has word_size 0, which no looked-up word has.
    struct alignas(64) Slot {
        uint8_t word_size = 0;
        uint8_t stem_size = 0;
        char word[kMaxWord];
        char stem[kMaxWord];
    };
    static_assert(sizeof(Slot) == 64 && Stemmer::room(kMaxWord) <= kMaxWord);

    // Three eight-byte (or, below eight bytes, four-byte) pieces that
    // together cover a word of 4 to 24 bytes, overlapping where it is
    // shorter: two words of the same length are equal exactly when their
    // pieces are.
    struct Chunks {
        uint64_t first, middle, last;
        bool operator==(const Chunks&) const = default;
    };
    static uint64_t load8(const char* p) noexcept {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    static uint32_t load4(const char* p) noexcept {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static Chunks chunks_of(const char* p, size_t size) noexcept {
        if (size < 8) return {load4(p), 0, load4(p + size - 4)};
        return {load8(p), load8(p + (size > 16 ? 8 : 0)), load8(p + size - 8)};
    }

    // Copies `size` bytes (at most kMaxWord) with a few overlapping loads and
    // stores, writing nothing past `size`.
    static void copy_short(char* out, const char* from, size_t size) noexcept {
        if (size >= 8) {
            const uint64_t a = load8(from), b = load8(from + (size > 16 ? 8 : 0)), c = load8(from + size - 8);
            std::memcpy(out, &a, 8);
            std::memcpy(out + (size > 16 ? 8 : 0), &b, 8);
            std::memcpy(out + size - 8, &c, 8);
        } else if (size >= 4) {
            const uint32_t a = load4(from), c = load4(from + size - 4);
            std::memcpy(out, &a, 4);
            std::memcpy(out + size - 4, &c, 4);
        } else {
            for (size_t i = 0; i < size; ++i) out[i] = from[i];
        }
    }

    static size_t slot_of(const Chunks& key, size_t size) noexcept {
        const uint64_t mixed = (key.first ^ (key.last * 0x9E3779B97F4A7C15ull) ^ (key.middle << 7) ^ size) *
                               0xD6E8FEB86659FD93ull;
        return static_cast<size_t>(mixed >> (64 - kSlotBits));
    }

    std::unique_ptr<Slot[]> slots_;
};

using StemCache = BasicStemCache<PorterStemmer>;

}  // namespace tallygrams::scorer
