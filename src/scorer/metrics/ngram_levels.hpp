// Exact numbers for n-grams of any size, built one level at a time: a k-gram
// is its (k-1)-gram followed by one more token, so the k-gram at position i
// is named by the pair (id of the (k-1)-gram at i, id of token i+k-1), and
// two k-grams are equal exactly when their pairs are. Each level numbers the
// prediction's distinct pairs and gives every other text's pair the
// prediction's number, or `absent` when the prediction lacks it. No hashing,
// so no collision can reach a result and no input can force slow probing.
//
// Pairs are grouped by their first id with one counting sort, the
// prediction's ahead of the others' within each group; a single pass then
// matches second ids within a group, with a per-token slot that is reset
// lazily by remembering which group last wrote it (as in the bigram
// buckets of ngram_overlap.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"

namespace tallygrams::scorer {

// One text's gram ids, advanced in place from level to level. `tokens` are
// its level-1 ids, which stay as they are.
template <class Id>
struct GramText {
    Id* grams;
    const Id* tokens;
    size_t token_count;
};

// Advances every text from (k-1)-grams to k-grams, k >= 2. texts[0] is the
// prediction, which must hold at least k tokens. On entry the prediction's
// (k-1)-gram ids lie below `previous_bound` and the others' at or below it
// (equal: absent); token ids likewise against `token_bound`. On return a
// text with t tokens holds t-k+1 k-gram ids; the prediction's lie below its
// k-gram count, which is also the others' absent value, and is returned.
template <class Id>
Id advance_ngram_level(size_t k, std::span<const GramText<Id>> texts, Id previous_bound, Id token_bound,
                       ScratchArena& arena) {
    ensure(k >= 2 && !texts.empty() && texts[0].token_count >= k, "n-gram level without prediction n-grams");
    const ArenaScope scope(arena);
    const auto next_bound = static_cast<Id>(texts[0].token_count - k + 1);
    const auto gram_count = [k](const GramText<Id>& text) { return text.token_count >= k ? text.token_count - k + 1 : 0; };
    // A pair with an absent half cannot be one of the prediction's.
    const auto has_absent = [&](const GramText<Id>& text, size_t i) {
        return text.grams[i] == previous_bound || text.tokens[i + k - 1] == token_bound;
    };

    size_t* starts = arena.allocate_zeroed<size_t>(size_t{previous_bound} + 1);
    size_t entry_count = 0;
    for (size_t t = 0; t < texts.size(); ++t) {
        for (size_t i = 0; i < gram_count(texts[t]); ++i) {
            if (t > 0 && has_absent(texts[t], i)) continue;
            ++starts[size_t{texts[t].grams[i]} + 1];
            ++entry_count;
        }
    }
    for (size_t b = 0; b < previous_bound; ++b) starts[b + 1] += starts[b];

    struct Entry {
        Id first;
        Id second;
        Id from_prediction;  // 0 or 1
        Id* target;
    };
    Entry* entries = arena.allocate<Entry>(entry_count);
    for (size_t t = 0; t < texts.size(); ++t) {
        const GramText<Id>& text = texts[t];
        for (size_t i = 0; i < gram_count(text); ++i) {
            if (t > 0 && has_absent(text, i)) {
                text.grams[i] = next_bound;  // no later entry reads this position
                continue;
            }
            const Id first = text.grams[i];
            entries[starts[first]++] = Entry{first, text.tokens[i + k - 1], static_cast<Id>(t == 0), &text.grams[i]};
        }
    }

    Id* owner = arena.allocate<Id>(token_bound);  // the group whose number `number_of` holds
    Id* number_of = arena.allocate<Id>(token_bound);
    for (size_t s = 0; s < token_bound; ++s) owner[s] = previous_bound;  // no group
    // A prediction pair not yet seen in its group is new and gets the next
    // number; another text's pair takes the group's number or `absent`.
    // Selects rather than branches: the kind of each entry is data.
    Id next_id = 0;
    for (size_t e = 0; e < entry_count; ++e) {
        const Entry entry = entries[e];
        const bool seen = owner[entry.second] == entry.first;
        const bool fresh = entry.from_prediction && !seen;
        const Id number = fresh ? next_id : number_of[entry.second];
        number_of[entry.second] = number;
        owner[entry.second] = entry.from_prediction ? entry.first : owner[entry.second];
        next_id += static_cast<Id>(fresh);
        *entry.target = (entry.from_prediction || seen) ? number : next_bound;
    }
    return next_bound;
}

}  // namespace tallygrams::scorer
