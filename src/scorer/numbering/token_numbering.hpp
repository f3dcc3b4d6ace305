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
#include <type_traits>

#include "common/internal_failure.hpp"
#include "scorer/details/branch_free.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/numbering/details/number_kernels.hpp"
#include "scorer/numbering/details/number_slot.hpp"
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
// home slot without a taken branch. A slot holds a token of up to 16 bytes
// whole (number_slot.hpp); a longer token's slot holds its first 16 bytes,
// and its remaining bytes are compared with its first occurrence's.
//
// Whether a token is new or seen is as unpredictable as the text, so the
// fast path decides it without a branch: the id is a select, and the home
// slot is written either way. Tokens that need more (a slot taken by
// another token, a token longer than 16 bytes, a full table) take the
// general path, `number` and `find`.
//
// The table starts as the thread's zeroed summary-sized one, or one sized
// to the text, and doubles with the number of distinct tokens, so its
// memory follows the vocabulary rather than the text. `Hash` is keyed per
// process (TokenHash); should a probe run still exceed its limit,
// the table gives way for good to an ordered tree (TokenTree), which bounds
// every later operation by O(log n) comparisons. Ids are handed out in
// order of first occurrence either way, so they never depend on the hash or
// its seed.
//
// The fast loops are compiled twice (number_kernels.hpp): for AVX2, AES and
// BMI2 when the hash is the AES form, and for the baseline otherwise.
template <class Id, class Hash = TokenHash>
class TokenNumbering {
public:
    // Linear probing at a quarter full almost never examines more than a
    // dozen slots, and at half full a few dozen; a run this long means the
    // hash is being defeated.
    static constexpr size_t kProbeLimit = 48;
    static constexpr size_t kHalfFullProbeLimit = 96;

    TokenNumbering(size_t max_distinct, ScratchArena& arena, const Hash& hash = Hash())
        : arena_(&arena), hash_(hash), max_distinct_(max_distinct) {
        // The records first: should the arena fail, the thread's table is
        // not yet taken.
        const size_t capacity = initial_capacity(max_distinct);
        seen_room_ = records_for(std::max(capacity, kSmallestThreadCapacity), max_distinct);
        seen_ = arena.allocate<Seen>(seen_room_);
        slot_of_ = arena.allocate<size_t>(seen_room_);
        NumberSlot* const lent = ThreadSlots::lend();
        lent_ = lent != nullptr;
        // The thread's table, of which a summary pair uses the first 1024
        // slots; or one of the arena's, sized to the text.
        capacity_ = lent_ ? std::max(capacity, kSmallestThreadCapacity) : capacity;
        slots_ = lent_ ? lent : arena.allocate_zeroed<NumberSlot>(capacity_);
        shift_ = 64 - std::countr_zero(capacity_);
    }

    TokenNumbering(const TokenNumbering&) = delete;
    TokenNumbering& operator=(const TokenNumbering&) = delete;

    ~TokenNumbering() { give_back_thread_slots(); }

    // The id of the token, numbering it if it is new. At most `max_distinct`
    // distinct tokens may be numbered; one more is an internal failure, not
    // a write past the records. (Out of line, like `find`: the fast loops
    // below call these for what their own path does not settle, and are
    // compiled with everything else inlined.)
    [[gnu::noinline]] Id number(const char* text, size_t length) {
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
        NumberSlot* slot = locate(text, length, key, hash);
        if (slot == nullptr) [[unlikely]] {
            switch_to_ordered();
            return number_ordered(text, length);
        }
        if (slot->id_plus_one != 0) return static_cast<Id>(slot->id_plus_one - 1);
        const Id id_plus_one = distinct_ + 1;
        *slot = NumberSlot{key.low, key.high, length, id_plus_one};
        seen_[id_plus_one] = Seen{text, length, hash};
        slot_of_[id_plus_one] = static_cast<size_t>(slot - slots_);
        distinct_ = id_plus_one;
        return id_plus_one - 1;
    }

    // The id of the token, or `absent` if it was never numbered. Logically
    // const: a lookup that meets an overlong probe run moves the table to
    // its ordered form, which changes no id.
    [[gnu::noinline]] Id find(const char* text, size_t length, Id absent) const {
        if (ordered_) [[unlikely]] return find_ordered(text, length, absent);
        const ShortKey key = short_key(text, length);
        const NumberSlot* slot = locate(text, length, key, hash_(text, length, key));
        if (slot == nullptr) [[unlikely]] {
            switch_to_ordered();
            return find_ordered(text, length, absent);
        }
        return slot->id_plus_one == 0 ? absent : static_cast<Id>(slot->id_plus_one - 1);
    }

    // `number` for every token of `text`, in order, into `out`, which has
    // room for `room` ids; returns how many were written.
    size_t number_all(const NormalizedText& text, Id* __restrict out, size_t room) {
#if defined(TALLYGRAMS_X86_KERNELS)
        if constexpr (kMayUseAes) {
            if (hash_.uses_aes()) return number_all_aes(text, out, room);
        }
#endif
        return number_text<BaselineNumberKernel>(text, out, room);
    }

    // `find` for every token of `text`, in order, into `out` (room for
    // `room` ids); returns how many were written.
    size_t find_all(const NormalizedText& text, Id absent, Id* __restrict out, size_t room) const {
#if defined(TALLYGRAMS_X86_KERNELS)
        if constexpr (kMayUseAes) {
            if (hash_.uses_aes()) return find_all_aes(text, absent, out, room);
        }
#endif
        return find_text<BaselineNumberKernel>(text, absent, out, room);
    }

    // `number` for each of `count` token views into `out`, except that an
    // empty token gets `empty` instead; returns whether there was one.
    // Views obey the padding rule of token_store.hpp.
    bool number_each(const std::string_view* tokens, size_t count, Id* __restrict out, Id empty) {
#if defined(TALLYGRAMS_X86_KERNELS)
        if constexpr (kMayUseAes) {
            if (hash_.uses_aes()) return number_each_aes(tokens, count, out, empty);
        }
#endif
        return number_views<BaselineNumberKernel>(tokens, count, out, empty);
    }

    // `find` for each of `count` token views into `out`, except that an
    // empty token gets `empty`.
    void find_each(const std::string_view* tokens, size_t count, Id absent, Id empty, Id* __restrict out) const {
#if defined(TALLYGRAMS_X86_KERNELS)
        if constexpr (kMayUseAes) {
            if (hash_.uses_aes()) return find_each_aes(tokens, count, absent, empty, out);
        }
#endif
        find_views<BaselineNumberKernel>(tokens, count, absent, empty, out);
    }

    Id distinct() const noexcept { return distinct_; }

    // For tests: the most slots one operation has examined, and whether the
    // ordered tree has taken over.
    size_t longest_probe() const noexcept { return longest_probe_; }
    bool ordered() const noexcept { return ordered_; }

private:
    using Slot = NumberSlot;
    static constexpr bool kMayUseAes = std::is_same_v<Hash, TokenHash>;

    // What the table keeps of each numbered token beside its slot: its
    // text and length, and (in slot_of_) where its slot is while it has one.
    // The fast path writes only the slot's place: a token it numbers is at
    // most 16 bytes long, and its slot holds its bytes and its length. The
    // general path writes both, and only it numbers longer tokens, whose
    // remaining bytes are compared through `text`. Before the table grows
    // or the tree takes over, every record is made whole
    // (make_records_whole).
    struct Seen {
        const char* text;
        size_t length;
        uint64_t hash;  // of a token longer than 16 bytes, so that growing need not hash it again
    };
    struct SeenTokens {
        const Seen* seen;
        const char* text(Id node) const noexcept { return seen[node].text; }
        size_t length(Id node) const noexcept { return seen[node].length; }
    };
    using Tree = TokenTree<Id, SeenTokens>;

    // The table's state as values that a loop keeps in registers: with
    // members, every store into the table could alias them and force a
    // reload per token. Meaningless once the ordered tree has taken over.
    struct Hot {
        Slot* slots;
        size_t* slot_of;
        int shift;
        size_t limit;    // the fast path numbers no more distinct tokens than this
        size_t blocked;  // 0, or past every token length once the ordered tree has taken over
        Id distinct;
    };
    Hot hot() const noexcept {
        return Hot{slots_, slot_of_, shift_, fast_limit(), ordered_ ? ~size_t{0} >> 1 : 0, distinct_};
    }

    // Below this many distinct tokens, the next one fits without growing the
    // table and within the records; 0 once the ordered tree has taken over.
    size_t fast_limit() const noexcept { return ordered_ ? 0 : std::min(load_limit(capacity_), max_distinct_); }

    // Tables up to the thread's size fill to a quarter, so that nearly every
    // token is settled by its home slot; larger ones, for large vocabularies,
    // to a half, as their memory (and the system's cost of handing out fresh
    // pages for it) then weighs more than the odd probe.
    static size_t load_limit(size_t capacity) noexcept {
        return capacity <= ThreadSlots::kCount ? capacity / 4 : capacity / 2;
    }
    size_t probe_limit() const noexcept {
        return capacity_ <= ThreadSlots::kCount ? kProbeLimit : kHalfFullProbeLimit;
    }

    // A summary pair: 1024 slots keep nearly every token in its home slot;
    // 512 were about a tenth slower.
    static constexpr size_t kSmallestThreadCapacity = 1024;

    // The id of a token, numbering it if it is new: the fast path when its
    // home slot settles it, else `number`. Unless kLimited, the caller knows
    // that the table has room for every token it passes to be new.
    template <class Kernel, bool kLimited>
    [[gnu::always_inline]] Id number_one(Hot& hot, const Hash& hash, const char* token, size_t length) {
        const bool fast = kLimited ? (length - 1 < 16) & (size_t{hot.distinct} < hot.limit)
                                   : ((length - 1) | hot.blocked) < 16;
        if (fast) [[likely]] {
            const typename Kernel::Key key = Kernel::key_of(token, length);
            const size_t index = static_cast<size_t>(Kernel::hash(hash, key, token, length) >> hot.shift);
            Slot& home = hot.slots[index];
            const unsigned bits = Kernel::compare(home, key, length);
            if (slot_settles(bits)) [[likely]] {
                const unsigned fresh = slot_empty(bits);
                const uint64_t next = uint64_t{hot.distinct} + 1;
                // The id held, or the next if the token is new. The slot is
                // written either way (unchanged if the token was there): a
                // store to a place known as soon as the hash is, which the
                // next load of the slot can take its value from, where a
                // store only for new tokens would go to a place known only
                // after the compare and keep later loads guessing.
                const uint64_t id_plus_one = select_without_branch(fresh != 0, next, home.id_plus_one);
                Kernel::fill(home, key, length, id_plus_one);
                // Written whether or not the token is new: harmless when it
                // is not, since the count of distinct tokens then stays.
                hot.slot_of[next] = index;
                hot.distinct += static_cast<Id>(fresh);
                return static_cast<Id>(id_plus_one - 1);
            }
        }
        distinct_ = hot.distinct;
        const Id id = number(token, length);
        hot = this->hot();
        return id;
    }

    template <class Kernel>
    [[gnu::always_inline]] Id find_one(bool& ordered, const Hot& hot, const Hash& hash, const char* token, size_t length,
                                       Id absent) const {
        if ((length - 1 < 16) & !ordered) [[likely]] {
            const typename Kernel::Key key = Kernel::key_of(token, length);
            const Slot& home = hot.slots[static_cast<size_t>(Kernel::hash(hash, key, token, length) >> hot.shift)];
            const unsigned bits = Kernel::compare(home, key, length);
            // held - 1 or absent: a select, as whether a prediction token
            // occurs in the reference is as unpredictable as the text.
            if (slot_settles(bits)) [[likely]] {
                return static_cast<Id>(select_if_equal(bits, kSlotHolds, home.id_plus_one - 1, absent));
            }
        }
        const Id id = find(token, length, absent);
        ordered = ordered_;
        return id;
    }

    // The loops over a text's tokens and over token views, per kernel. The
    // text's token count (a popcount per block) says in advance whether
    // `out` has room for every id, and whether the table has room for every
    // token to be new; where it does, the loop does not check per token.
    template <class Kernel>
    [[gnu::always_inline]] inline size_t number_text(const NormalizedText& text, Id* __restrict out, size_t room) {
        const size_t tokens = count_tokens(text);
        if (tokens > room) return number_text_checked<Kernel, true, true>(text, out, room);
        if (size_t{distinct_} + tokens > fast_limit()) return number_text_checked<Kernel, false, true>(text, out, room);
        return number_text_checked<Kernel, false, false>(text, out, room);
    }

    template <class Kernel, bool kChecked, bool kLimited>
    [[gnu::always_inline]] inline size_t number_text_checked(const NormalizedText& text, Id* __restrict out,
                                                             size_t room) {
        const Hash hash = hash_;
        Hot table = hot();
        Id* next = out;
        Id* const end = out + room;
        walk_tokens<typename Kernel::Edges>(text, [&](const char* token, size_t length) __attribute__((always_inline)) {
            if (kChecked && next == end) [[unlikely]] {
                distinct_ = table.distinct;
                fail_on_room();
            }
            *next++ = number_one<Kernel, kLimited>(table, hash, token, length);
        });
        distinct_ = table.distinct;
        return static_cast<size_t>(next - out);
    }

    template <class Kernel>
    [[gnu::always_inline]] inline size_t find_text(const NormalizedText& text, Id absent, Id* __restrict out,
                                                   size_t room) const {
        if (count_tokens(text) <= room) return find_text_checked<Kernel, false>(text, absent, out, room);
        return find_text_checked<Kernel, true>(text, absent, out, room);
    }

    template <class Kernel, bool kChecked>
    [[gnu::always_inline]] inline size_t find_text_checked(const NormalizedText& text, Id absent, Id* __restrict out,
                                                           size_t room) const {
        const Hash hash = hash_;
        const Hot table = hot();
        bool ordered = ordered_;
        Id* next = out;
        Id* const end = out + room;
        walk_tokens<typename Kernel::Edges>(text, [&](const char* token, size_t length) __attribute__((always_inline)) {
            if (kChecked && next == end) [[unlikely]] fail_on_room();
            *next++ = find_one<Kernel>(ordered, table, hash, token, length, absent);
        });
        return static_cast<size_t>(next - out);
    }

    template <class Kernel>
    [[gnu::always_inline]] inline bool number_views(const std::string_view* tokens, size_t count, Id* __restrict out,
                                                    Id empty) {
        const Hash hash = hash_;
        Hot table = hot();
        bool saw_empty = false;
        for (size_t i = 0; i < count; ++i) {
            const std::string_view token = tokens[i];
            if (token.empty()) [[unlikely]] {
                saw_empty = true;
                out[i] = empty;
            } else {
                out[i] = number_one<Kernel, true>(table, hash, token.data(), token.size());
            }
        }
        distinct_ = table.distinct;
        return saw_empty;
    }

    template <class Kernel>
    [[gnu::always_inline]] inline void find_views(const std::string_view* tokens, size_t count, Id absent, Id empty,
                                                  Id* __restrict out) const {
        const Hash hash = hash_;
        const Hot table = hot();
        bool ordered = ordered_;
        for (size_t i = 0; i < count; ++i) {
            const std::string_view token = tokens[i];
            out[i] = token.empty() ? empty : find_one<Kernel>(ordered, table, hash, token.data(), token.size(), absent);
        }
    }

    [[gnu::noinline, gnu::cold]] static void fail_on_room() {
        fail_internally("more tokens than the room given for their ids");
    }

    // The AES kernel's loops, with every call inlined so that the kernel's
    // steps, compiled for AES and AVX2, become part of them.
#if defined(TALLYGRAMS_X86_KERNELS)
    __attribute__((target("avx2,aes,bmi,bmi2,popcnt"), flatten)) size_t number_all_aes(const NormalizedText& text, Id* __restrict out,
                                                                     size_t room) {
        return number_text<AesNumberKernel>(text, out, room);
    }
    __attribute__((target("avx2,aes,bmi,bmi2,popcnt"), flatten)) size_t find_all_aes(const NormalizedText& text, Id absent,
                                                                   Id* __restrict out, size_t room) const {
        return find_text<AesNumberKernel>(text, absent, out, room);
    }
    __attribute__((target("avx2,aes,bmi,bmi2,popcnt"), flatten)) bool number_each_aes(const std::string_view* tokens, size_t count,
                                                                    Id* __restrict out, Id empty) {
        return number_views<AesNumberKernel>(tokens, count, out, empty);
    }
    __attribute__((target("avx2,aes,bmi,bmi2,popcnt"), flatten)) void find_each_aes(const std::string_view* tokens, size_t count,
                                                                  Id absent, Id empty, Id* __restrict out) const {
        find_views<AesNumberKernel>(tokens, count, absent, empty, out);
    }
#endif

    // Whether `slot` holds the token.
    bool holds(const Slot& slot, const char* text, size_t length, const ShortKey& key) const noexcept {
        return slot.id_plus_one != 0 && slot.length == length && slot.low == key.low && slot.high == key.high &&
               (length <= 16 || std::memcmp(seen_[slot.id_plus_one].text + 16, text + 16, length - 16) == 0);
    }

    // The slot holding the token, or the empty slot where it belongs; null
    // if that takes more than kProbeLimit slots.
    Slot* locate(const char* text, size_t length, const ShortKey& key, uint64_t hash) const noexcept {
        size_t index = static_cast<size_t>(hash >> shift_);
        for (size_t probes = 1;; ++probes) {
            Slot* slot = &slots_[index];
            if (slot->id_plus_one == 0 || holds(*slot, text, length, key)) {
                note_probe(probes);
                return slot;
            }
            if (probes == probe_limit()) {
                note_probe(probes);
                return nullptr;
            }
            index = (index + 1) & (capacity_ - 1);
        }
    }

    void note_probe(size_t probes) const noexcept {
        if (probes > longest_probe_) longest_probe_ = probes;
    }

    // At most the thread's table: a larger vocabulary grows from there.
    static size_t initial_capacity(size_t max_distinct) noexcept {
        return std::min(std::bit_ceil(4 * std::min(max_distinct, ThreadSlots::kCount) + 4), ThreadSlots::kCount);
    }

    // Records room for every distinct token the table can take before it
    // grows, and one more: the vocabulary, not the text, decides the memory
    // (a record per token of a long text would also come from the system
    // anew on every call, past the allocator's mapping threshold).
    static size_t records_for(size_t capacity, size_t max_distinct) noexcept {
        return std::min(load_limit(capacity), max_distinct) + 2;
    }

    // Moves the records to room for `room` of them; the tree, if any, is
    // built afterwards from the new place.
    void move_records(size_t room) const {
        Seen* seen = arena_->allocate<Seen>(room);
        size_t* slot_of = arena_->allocate<size_t>(room);
        std::memcpy(static_cast<void*>(seen), seen_, (size_t{distinct_} + 1) * sizeof(Seen));
        std::memcpy(slot_of, slot_of_, (size_t{distinct_} + 1) * sizeof(size_t));
        seen_ = seen;
        slot_of_ = slot_of;
        seen_room_ = room;
    }

    // Zeroes the slots this numbering filled in the thread's table and
    // gives the table back.
    void give_back_thread_slots() const noexcept {
        if (!lent_) return;
        const size_t placed = ordered_ ? placed_ : size_t{distinct_};
        for (size_t id_plus_one = 1; id_plus_one <= placed; ++id_plus_one) slots_[slot_of_[id_plus_one]] = Slot{};
        ThreadSlots::give_back();
        lent_ = false;
    }

    // Doubles the table and places every numbered token again: within the
    // thread's table while it is large enough, else in one from the arena.
    [[gnu::noinline]] void grow() {
        const size_t capacity = capacity_ * 2;
        const bool stay = lent_ && capacity <= ThreadSlots::kCount;
        Slot* const slots = stay ? slots_ : arena_->allocate_zeroed<Slot>(capacity);
        if (const size_t room = records_for(capacity, max_distinct_); room > seen_room_) move_records(room);
        make_records_whole();
        if (stay) {
            for (Id id_plus_one = 1; id_plus_one <= distinct_; ++id_plus_one) slots_[slot_of_[id_plus_one]] = Slot{};
        } else {
            give_back_thread_slots();
        }
        capacity_ = capacity;
        shift_ -= 1;
        slots_ = slots;
        for (Id id_plus_one = 1; id_plus_one <= distinct_; ++id_plus_one) {
            Seen& seen = seen_[id_plus_one];
            const ShortKey key = short_key(seen.text, seen.length);
            const uint64_t hash = seen.length > 16 ? seen.hash : hash_(seen.text, seen.length, key);
            size_t index = static_cast<size_t>(hash >> shift_);
            size_t probes = 1;
            for (; slots_[index].id_plus_one != 0; ++probes) {
                if (probes == probe_limit()) {
                    note_probe(probes);
                    switch_to_ordered();
                    return;
                }
                index = (index + 1) & (capacity_ - 1);
            }
            note_probe(probes);
            slots_[index] = Slot{key.low, key.high, seen.length, id_plus_one};
            slot_of_[id_plus_one] = index;
        }
    }

    // From here on the tree answers; the table is left as it is.
    [[gnu::noinline]] void switch_to_ordered() const {
        if (seen_room_ < max_distinct_ + 2) move_records(max_distinct_ + 2);  // the tree may take every token
        make_records_whole();
        tree_ = Tree(size_t{max_distinct_} + 1, SeenTokens{seen_}, *arena_);
        for (Id id_plus_one = 1; id_plus_one <= distinct_; ++id_plus_one) tree_.insert(id_plus_one);
        placed_ = distinct_;
        ordered_ = true;
    }

    // Gives every record the token's text and length, reading them from the
    // slots of those the fast path numbered. The bytes of a token of at most
    // 16 bytes are copied out of its slot, which may be overwritten or
    // given back, into the arena.
    void make_records_whole() const {
        if (whole_ >= size_t{distinct_}) return;
        char* bytes = arena_->allocate<char>(16 * (size_t{distinct_} - whole_));
        for (size_t id_plus_one = whole_ + 1; id_plus_one <= size_t{distinct_}; ++id_plus_one, bytes += 16) {
            Seen& seen = seen_[id_plus_one];
            const Slot& slot = slots_[slot_of_[id_plus_one]];
            seen.length = slot.length;
            if (slot.length > 16) continue;
            std::memcpy(bytes, &slot.low, 8);
            std::memcpy(bytes + 8, &slot.high, 8);
            seen.text = bytes;
        }
        whole_ = distinct_;
    }

    Id number_ordered(const char* text, size_t length) {
        if (const Id found = tree_.find(text, length); found != 0) return found - 1;
        const Id id_plus_one = distinct_ + 1;
        seen_[id_plus_one] = Seen{text, length, 0};
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
    size_t capacity_ = 0;
    int shift_ = 0;
    Slot* slots_ = nullptr;
    mutable bool lent_ = false;  // slots_ is the thread's table
    mutable size_t seen_room_ = 0;
    mutable Seen* seen_ = nullptr;  // seen_[id + 1]: the first occurrence of token `id`
    mutable size_t* slot_of_ = nullptr;  // slot_of_[id + 1]: where token `id` sits in the table
    Id distinct_ = 0;
    mutable size_t placed_ = 0;  // tokens in the table when the ordered tree took over
    mutable size_t whole_ = 0;   // records 1 .. whole_ are whole (make_records_whole)
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
    ensure(numbering.number_all(ref, reference_ids, reference.size() / 2 + 1) == n_r,
           "token count and token walk disagree");

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
