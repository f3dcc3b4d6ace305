// The slot of the numbering table, and the zeroed table of summary size
// that each thread keeps between pairs.
//
// A slot holds the whole of a token of up to 16 bytes: its zero-padded
// bytes and its length, beside its id. Whether a token is in its home slot
// is then one 16-byte compare and one length compare on a line the hash
// has already named, with no second load that depends on the first.
//
// A summary pair numbers a few dozen distinct tokens. A table of 1024
// slots keeps nearly every one of them in its home slot, so that almost no
// token leaves the branch-free path; zeroing 32 KiB for every pair would
// cost more than numbering it, though. So each thread keeps one zeroed
// table of 4096 slots (128 KiB), of which a summary pair uses the first
// 1024 and a text of a thousand distinct tokens all, and a numbering that
// borrows it zeroes again, on its way out, only the slots it filled
// (TokenNumbering's records say which). A numbering that finds the table
// already lent out (two at once on one thread) takes its own from the
// arena instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace tallygrams::scorer::detail {

struct alignas(32) NumberSlot {
    uint64_t low;          // the token's first 16 bytes, zero-padded, as little-endian words
    uint64_t high;
    uint64_t length;
    uint64_t id_plus_one;  // 0: empty
};

class ThreadSlots {
public:
    static constexpr size_t kCount = 4096;

    // The thread's zeroed table of kCount slots, or null if it is lent out
    // already or cannot be allocated. Whoever gets it must give it back
    // zeroed.
    static NumberSlot* lend() noexcept {
        Store& store = thread_store();
        if (store.lent) return nullptr;
        if (store.slots == nullptr) {
            store.slots = new (std::nothrow) NumberSlot[kCount]();
            if (store.slots == nullptr) return nullptr;
        }
        store.lent = true;
        return store.slots;
    }

    static void give_back() noexcept { thread_store().lent = false; }

private:
    struct Store {
        NumberSlot* slots = nullptr;
        bool lent = false;
        Store() = default;
        Store(const Store&) = delete;
        Store& operator=(const Store&) = delete;
        ~Store() { delete[] slots; }
    };

    static Store& thread_store() noexcept {
        thread_local Store store;
        return store;
    }
};

}  // namespace tallygrams::scorer::detail
