// Numbering tokens: each distinct token of one side gets a small integer,
// and every later comparison is an integer comparison. The other side is
// only looked up: a token of it that the first side lacks cannot match
// anything in any metric, so all of those share one extra number, `absent`.
// The default scorer numbers the reference and looks up the prediction
// (number_tokens below); the configurable scorer numbers the prediction
// once and looks up each of its references (numbered_texts.hpp).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/numbering/token_hash.hpp"
#include "scorer/numbering/token_tree.hpp"
#include "scorer/tokenizing/token_walk.hpp"

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

// Open addressing from token text to id, with linear probing at a load
// factor of at most a quarter, so that nearly every token is settled by its
// first slot without a taken branch. Whether a token is new or seen is as
// unpredictable as the text, so that decision is made with conditional
// moves rather than branches.
//
// A slot holds the token's id plus one (0: empty) and 32 bits of its hash,
// which rule out most unequal tokens before their bytes are read. The first
// 16 bytes of every numbered token are kept beside its text as two words,
// so that a token of up to 16 bytes is compared in two word compares.
//
// The table starts small and doubles with the number of distinct tokens,
// so its memory follows the vocabulary rather than the text. `Hash` is
// keyed per process (TokenHash); should a probe run still exceed
// kProbeLimit slots, the table gives way for good to an ordered tree
// (TokenTree), which bounds every later operation by O(log n) comparisons.
// Ids are handed out in order of first occurrence either way, so they never
// depend on the hash or its seed.
template <class Id, class Hash = TokenHash>
class TokenNumbering {
public:
    // Linear probing at this load almost never examines more than a dozen
    // slots; a run this long means the hash is being defeated.
    static constexpr size_t kProbeLimit = 48;

    TokenNumbering(size_t max_distinct, ScratchArena& arena, const Hash& hash = Hash())
        : arena_(&arena),
          hash_(hash),
          max_distinct_(max_distinct),
          capacity_(initial_capacity(max_distinct)),
          shift_(64 - std::countr_zero(capacity_)),
          slots_(arena.allocate_zeroed<Slot>(capacity_)),
          seen_room_(records_for(capacity_, max_distinct)),
          seen_(arena.allocate<Seen>(seen_room_)) {
        seen_[0] = Seen{nullptr, ~size_t{0}, ShortKey{0, 0}};  // behind every empty slot; equals nothing
    }

    // The id of the token, numbering it if it is new. At most `max_distinct`
    // distinct tokens may be numbered; one more is an internal failure, not
    // a write past the records.
    Id number(const char* text, size_t length) {
        if (size_t{distinct_} >= fast_limit()) [[unlikely]] {
            if (size_t{distinct_} >= max_distinct_) {
                constexpr Id kNone = ~Id{0};
                if (const Id known = find(text, length, kNone); known != kNone) return known;
                fail_internally("more distinct tokens than the numbering was sized for");
            }
            if (!ordered_) grow();
            if (ordered_) return number_ordered(text, length);
        }
        const ShortKey key = short_key(text, length);
        const uint64_t hash = hash_(text, length, key);
        Slot* slot = locate(text, length, key, hash);
        if (slot == nullptr) [[unlikely]] {
            switch_to_ordered();
            return number_ordered(text, length);
        }
        return settle(hot(), slot, text, length, key, hash, distinct_);
    }

    // The id of the token, or `absent` if it was never numbered. Logically
    // const: a lookup that meets an overlong probe run moves the table to
    // its ordered form, which changes no id.
    Id find(const char* text, size_t length, Id absent) const {
        if (ordered_) [[unlikely]] return find_ordered(text, length, absent);
        const ShortKey key = short_key(text, length);
        const Slot* slot = locate(text, length, key, hash_(text, length, key));
        if (slot == nullptr) [[unlikely]] {
            switch_to_ordered();
            return find_ordered(text, length, absent);
        }
        return slot->id_plus_one == 0 ? absent : slot->id_plus_one - 1;
    }

    // `number` for every token of `text`, in order, into `out`, which has
    // room for `room` ids; returns how many were written. The table's state
    // is held in locals for the whole walk, so that it stays in registers:
    // with members, every store into the table could alias them and force a
    // reload per token. Only the rare cases (a slot that does not settle the
    // token at once, growth, the ordered tree) go through `number`.
    size_t number_all(const NormalizedText& text, Id* __restrict out, size_t room) {
        Hot table = hot();
        size_t limit = fast_limit();
        Id distinct = distinct_;
        size_t written = 0;
        TokenCursor cursor(text);
        size_t start = 0;
        size_t length = 0;
        while (cursor.next(start, length)) {
            ensure(written < room && start + length <= text.length, "token span is not a valid range of the normalized text");
            const char* token = text.bytes + start;
            if (distinct < limit) [[likely]] {
                const ShortKey key = short_key(token, length);
                const uint64_t hash = hash_(token, length, key);
                Slot* slot;
                if (settle_first(table, length, key, hash, slot)) [[likely]] {
                    out[written++] = settle(table, slot, token, length, key, hash, distinct);
                    continue;
                }
            }
            distinct_ = distinct;
            out[written++] = number(token, length);
            table = hot();
            limit = fast_limit();
            distinct = distinct_;
        }
        distinct_ = distinct;
        return written;
    }

    // `find` for every token of `text`, in order, into `out` (room for
    // `room` ids); returns how many were written.
    size_t find_all(const NormalizedText& text, Id absent, Id* __restrict out, size_t room) const {
        const Hot table = hot();
        bool ordered = ordered_;
        size_t written = 0;
        TokenCursor cursor(text);
        size_t start = 0;
        size_t length = 0;
        while (cursor.next(start, length)) {
            ensure(written < room && start + length <= text.length, "token span is not a valid range of the normalized text");
            const char* token = text.bytes + start;
            if (!ordered) [[likely]] {
                const ShortKey key = short_key(token, length);
                Slot* slot;
                if (settle_first(table, length, key, hash_(token, length, key), slot)) [[likely]] {
                    const Id found = slot->id_plus_one;
                    out[written++] = found == 0 ? absent : found - 1;
                    continue;
                }
            }
            out[written++] = find(token, length, absent);
            ordered = ordered_;
        }
        return written;
    }

    Id distinct() const noexcept { return distinct_; }

    // For tests: the most slots one operation has examined, and whether the
    // ordered tree has taken over.
    size_t longest_probe() const noexcept { return longest_probe_; }
    bool ordered() const noexcept { return ordered_; }

private:
    // A struct rather than a bare Id, so that stores into the table are not
    // taken to alias the table's own fields of type Id, which would force
    // them to be reread for every token.
    struct Slot {
        uint32_t tag;  // the hash's low bits
        Id id_plus_one;
    };
    struct Seen {
        const char* text;
        size_t length;
        ShortKey key;  // the first 16 bytes
    };
    struct SeenTokens {
        const Seen* seen;
        const char* text(Id node) const noexcept { return seen[node].text; }
        size_t length(Id node) const noexcept { return seen[node].length; }
    };
    using Tree = TokenTree<Id, SeenTokens>;

    // What the first probe reads, as values that a loop can keep in
    // registers. Meaningless once the ordered tree has taken over.
    struct Hot {
        Slot* slots;
        Seen* seen;
        int shift;
    };
    Hot hot() const noexcept { return Hot{slots_, seen_, shift_}; }

    // Below this many distinct tokens, the next one fits without growing the
    // table and within the records; 0 once the ordered tree has taken over.
    size_t fast_limit() const noexcept { return ordered_ ? 0 : std::min(capacity_ / 4, max_distinct_); }

    static uint32_t tag_of(uint64_t hash) noexcept { return static_cast<uint32_t>(hash); }

    // Sets `slot` to the token's home slot; true if that alone settles the
    // token (empty, or holding a token of up to 16 bytes equal to it).
    // Branch-free.
    static bool settle_first(const Hot& table, size_t length, const ShortKey& key, uint64_t hash,
                             Slot*& slot) noexcept {
        slot = &table.slots[static_cast<size_t>(hash >> table.shift)];
        const Slot held = *slot;
        const Seen& seen = table.seen[held.id_plus_one];
        const bool same = (held.tag == tag_of(hash)) & (seen.length == length) & (seen.key.low == key.low) &
                          (seen.key.high == key.high);
        return opaque((held.id_plus_one == 0) | (same & (length <= 16)));
    }

    // The value, through a barrier the optimiser cannot see through: left
    // visible, a test of `empty | same` is split into two branches, and
    // whether a token is new is exactly what branch prediction cannot
    // learn, so the second branch mispredicts on about every other token.
    static bool opaque(bool value) noexcept {
#if defined(__GNUC__) || defined(__clang__)
        asm("" : "+r"(value));
#endif
        return value;
    }

    // Records the token at `slot`, which holds it or is its empty slot, and
    // returns its id; `distinct` counts the new token if it is one.
    static Id settle(const Hot& table, Slot* slot, const char* text, size_t length, const ShortKey& key,
                     uint64_t hash, Id& distinct) noexcept {
        const Id existing = slot->id_plus_one;
        const bool fresh = existing == 0;
        // Written whether or not the token is new: harmless when it is not,
        // since the count of distinct tokens then stays where it was.
        table.seen[distinct + 1] = Seen{text, length, key};
        // existing | (distinct + 1 if fresh): a select the compiler cannot
        // turn back into a branch.
        const Id fresh_mask = static_cast<Id>(0) - static_cast<Id>(fresh);
        const Id id_plus_one = existing | (fresh_mask & (distinct + 1));
        *slot = Slot{tag_of(hash), id_plus_one};
        distinct += static_cast<Id>(fresh);
        return id_plus_one - 1;
    }


    // The slot holding the token, or the empty slot where it belongs; null
    // if that takes more than kProbeLimit slots. The first slot settles
    // almost every short token, decided without branches; collisions and
    // long tokens, which need their remaining bytes compared, take the
    // slower loop.
    Slot* locate(const char* text, size_t length, const ShortKey& key, uint64_t hash) const noexcept {
        Slot* home;
        if (settle_first(hot(), length, key, hash, home)) [[likely]] return home;
        const uint32_t tag = tag_of(hash);
        size_t index = static_cast<size_t>(hash >> shift_);
        for (size_t probes = 1;; ++probes) {
            Slot* slot = &slots_[index];
            const Seen& candidate = seen_[slot->id_plus_one];
            if (slot->id_plus_one == 0 || (slot->tag == tag && candidate.length == length && candidate.key == key &&
                               (length <= 16 || std::memcmp(candidate.text + 16, text + 16, length - 16) == 0))) {
                note_probe(probes);
                return slot;
            }
            if (probes == kProbeLimit) {
                note_probe(probes);
                return nullptr;
            }
            index = (index + 1) & (capacity_ - 1);
        }
    }

    void note_probe(size_t probes) const noexcept {
        if (probes > longest_probe_) longest_probe_ = probes;
    }

    static size_t initial_capacity(size_t max_distinct) noexcept {
        constexpr size_t kLargestInitialDistinct = 256;
        return std::bit_ceil(4 * std::min(max_distinct, kLargestInitialDistinct) + 4);
    }

    // Records room for every distinct token the table can take before it
    // grows, and one more: the vocabulary, not the text, decides the memory
    // (a record per token of a long text would also come from the system
    // anew on every call, past the allocator's mapping threshold).
    static size_t records_for(size_t capacity, size_t max_distinct) noexcept {
        return std::min(capacity / 4, max_distinct) + 2;
    }

    // Moves the records to room for `room` of them; the tree, if any, is
    // built afterwards from the new place.
    void move_records(size_t room) const {
        Seen* seen = arena_->allocate<Seen>(room);
        std::memcpy(static_cast<void*>(seen), seen_, (size_t{distinct_} + 1) * sizeof(Seen));
        seen_ = seen;
        seen_room_ = room;
    }

    // Doubles the table and places every numbered token again.
    void grow() {
        capacity_ *= 2;
        shift_ -= 1;
        slots_ = arena_->allocate_zeroed<Slot>(capacity_);
        if (const size_t room = records_for(capacity_, max_distinct_); room > seen_room_) move_records(room);
        for (Id id_plus_one = 1; id_plus_one <= distinct_; ++id_plus_one) {
            const Seen& seen = seen_[id_plus_one];
            const uint64_t hash = hash_(seen.text, seen.length, seen.key);
            size_t index = static_cast<size_t>(hash >> shift_);
            size_t probes = 1;
            for (; slots_[index].id_plus_one != 0; ++probes) {
                if (probes == kProbeLimit) {
                    note_probe(probes);
                    switch_to_ordered();
                    return;
                }
                index = (index + 1) & (capacity_ - 1);
            }
            note_probe(probes);
            slots_[index] = Slot{tag_of(hash), id_plus_one};
        }
    }

    // From here on the tree answers; the table is left as it is.
    void switch_to_ordered() const {
        if (seen_room_ < max_distinct_ + 2) move_records(max_distinct_ + 2);  // the tree may take every token
        tree_ = Tree(size_t{max_distinct_} + 1, SeenTokens{seen_}, *arena_);
        for (Id id_plus_one = 1; id_plus_one <= distinct_; ++id_plus_one) tree_.insert(id_plus_one);
        ordered_ = true;
    }

    Id number_ordered(const char* text, size_t length) {
        if (const Id found = tree_.find(text, length); found != 0) return found - 1;
        const Id id_plus_one = distinct_ + 1;
        seen_[id_plus_one] = Seen{text, length, short_key(text, length)};
        tree_.insert(id_plus_one);
        distinct_ = id_plus_one;
        return id_plus_one - 1;
    }

    Id find_ordered(const char* text, size_t length, Id absent) const noexcept {
        const Id found = tree_.find(text, length);
        return found == 0 ? absent : found - 1;
    }

    ScratchArena* arena_;
    Hash hash_;
    size_t max_distinct_;
    size_t capacity_;
    int shift_;
    Slot* slots_;
    mutable size_t seen_room_;
    mutable Seen* seen_;  // seen_[id + 1]: the first occurrence of token `id`
    Id distinct_ = 0;
    mutable size_t longest_probe_ = 0;
    mutable bool ordered_ = false;
    mutable Tree tree_{};
};

}  // namespace detail

// Tokenizes both texts and numbers their tokens. All memory comes from
// `arena` and lives as long as its current scope.
// `hash` is for tests, which show that no result depends on it.
template <class Id, class Hash = TokenHash>
NumberedTokens<Id> number_tokens(std::string_view reference, std::string_view prediction, ScratchArena& arena,
                                 const Hash& hash = Hash()) {
    // The id arrays outlive this call; everything else is working memory,
    // given back before returning so that the metrics have room.
    Id* reference_ids = arena.allocate<Id>(reference.size() / 2 + 1);
    Id* prediction_ids = arena.allocate<Id>(prediction.size() / 2 + 1);
    const ArenaScope working(arena);

    // Counting the reference's tokens first (a popcount per 64 bytes) sizes
    // the table before the numbering walk.
    const NormalizedText ref = normalize(reference, arena);
    const size_t n_r = count_tokens(ref);
    detail::TokenNumbering<Id, Hash> numbering(n_r, arena, hash);
    ensure(numbering.number_all(ref, reference_ids, n_r) == n_r, "token count and token walk disagree");

    NumberedTokens<Id> numbered;
    numbered.reference = reference_ids;
    numbered.reference_count = n_r;
    numbered.distinct = numbering.distinct();

    const NormalizedText pred = normalize(prediction, arena);
    numbered.prediction = prediction_ids;
    numbered.prediction_count = numbering.find_all(pred, numbered.absent(), prediction_ids, prediction.size() / 2 + 1);
    return numbered;
}

}  // namespace tallygrams::scorer
