// Open-addressing table from a key to a remaining count, created once at its
// final size: it is told in advance how many distinct keys can arrive, so it
// never grows and never rehashes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tallygrams::reference {

// Traits: `static uint64_t hash(const Key&)`, `static bool equal(const Key&, const Key&)`.
template <class Key, class Traits>
class CountingTable {
public:
    explicit CountingTable(size_t max_distinct_keys)
        : capacity_(std::bit_ceil(max_distinct_keys + max_distinct_keys / 2 + 1)),
          mask_(capacity_ - 1),
          slots_(std::make_unique<Slot[]>(capacity_)) {}

    // Adds one occurrence of `key`.
    void add(const Key& key) noexcept {
        const uint64_t hash = Traits::hash(key);
        Slot& slot = find_slot(key, hash);
        if (!slot.used) {
            slot.key = key;
            slot.hash = hash;
            slot.used = true;
        }
        ++slot.count;
    }

    // Takes one occurrence of `key` if any remains; returns whether it did.
    bool take(const Key& key) noexcept {
        Slot& slot = find_slot(key, Traits::hash(key));
        if (!slot.used || slot.count == 0) return false;
        --slot.count;
        return true;
    }

private:
    struct Slot {
        Key key{};
        uint64_t hash = 0;
        uint64_t count = 0;
        bool used = false;
    };

    // The slot holding `key`, or the empty slot where it would go. The load
    // factor stays below 2/3, so an empty slot always exists.
    Slot& find_slot(const Key& key, uint64_t hash) noexcept {
        size_t index = static_cast<size_t>(hash) & mask_;
        for (;;) {
            Slot& slot = slots_[index];
            if (!slot.used) return slot;
            if (slot.hash == hash && Traits::equal(slot.key, key)) return slot;
            index = (index + 1) & mask_;
        }
    }

    size_t capacity_;
    size_t mask_;
    std::unique_ptr<Slot[]> slots_;
};

}  // namespace tallygrams::reference
