// ROUGE-S's and ROUGE-SU's hits and counts.
//
// A skip-bigram is an ordered pair of tokens (i, j), i < j, at most `gap`
// tokens apart (j - i <= gap + 1), or any distance apart when `gap` is
// negative. With unigrams (ROUGE-SU), every token but the last also counts
// as a unigram: the script adds the unigram of token i while it loops over
// the pairs that start at i, and no pair starts at the last token. Hits are
// clipped as for n-grams; a unigram never equals a pair.
//
// The pairs of both texts are grouped by their first word with a counting
// sort, the reference's ahead of the prediction's within each group; one
// pass over a group then matches their second words, with a per-word count
// that is reset lazily by remembering which group last wrote it (the method
// of the bigram buckets in metrics/ngram_overlap.hpp).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/numbering/id_sequence.hpp"
#include "scorer/rouge155/ngram_hits.hpp"
#include "scorer/rouge155/vocabulary.hpp"

namespace tallygrams::scorer::rouge155 {

// The skip-bigrams of a text of `n` tokens (and its unigrams, if asked).
inline uint64_t skip_bigram_count(size_t n, int64_t gap, bool with_unigrams) noexcept {
    if (n < 2) return 0;
    uint64_t pairs = 0;
    if (gap < 0 || static_cast<uint64_t>(gap) + 1 >= n - 1) {
        pairs = static_cast<uint64_t>(n) * (n - 1) / 2;
    } else {
        const uint64_t reach = static_cast<uint64_t>(gap) + 1;  // the longest distance
        // Starts 0 .. n-1-reach reach `reach` tokens; the last `reach - 1` starts fewer.
        pairs = (n - reach) * reach + reach * (reach - 1) / 2;
    }
    return pairs + (with_unigrams ? n - 1 : 0);
}

namespace details {

inline size_t pair_reach(size_t n, size_t i, int64_t gap) noexcept {
    const size_t room = n - 1 - i;
    return gap < 0 || static_cast<uint64_t>(gap) + 1 >= room ? room : static_cast<size_t>(gap) + 1;
}

}  // namespace details

// The clipped unigram hits ROUGE-SU adds: every token but each text's last.
// Prediction words are below `distinct`; the reference's other words are
// `distinct`.
inline uint64_t skip_unigram_hits(const IdSequence<WordId>& prediction, const IdSequence<WordId>& reference,
                                  WordId distinct, ScratchArena& arena) {
    if (prediction.count < 2 || reference.count < 2) return 0;
    const ArenaScope scope(arena);
    uint32_t* counts = arena.allocate_zeroed<uint32_t>(size_t{distinct} + 1);
    return details::clipped_overlap(prediction.ids, prediction.count - 1, reference.ids, reference.count - 1, counts);
}

namespace details {

// The pairs' hits without a gap limit, in memory linear in the vocabulary
// rather than quadratic in the length: for each first word a that both
// texts hold, a text's count of the pair (a, b) is the sum, over the
// positions holding b, of the a's before them, which one pass gathers for
// every b at once.
inline uint64_t unlimited_pair_hits(const WordId* p, size_t np, const WordId* r, size_t nr, WordId distinct,
                                    ScratchArena& arena) {
    const ArenaScope scope(arena);
    const size_t ids = size_t{distinct} + 1;
    uint64_t* in_prediction = arena.allocate_zeroed<uint64_t>(ids);
    uint64_t* in_reference = arena.allocate_zeroed<uint64_t>(ids);
    uint8_t* first_in_reference = arena.allocate_zeroed<uint8_t>(ids);
    for (size_t i = 0; i + 1 < nr; ++i) first_in_reference[r[i]] = 1;
    uint8_t* done = arena.allocate_zeroed<uint8_t>(ids);
    uint64_t hits = 0;
    for (size_t k = 0; k + 1 < np; ++k) {
        const WordId a = p[k];
        if (done[a] || !first_in_reference[a]) continue;
        done[a] = 1;
        uint64_t before = 0;
        for (size_t j = 0; j < np; ++j) {
            in_prediction[p[j]] += before;
            before += p[j] == a;
        }
        before = 0;
        for (size_t j = 0; j < nr; ++j) {
            in_reference[r[j]] += before;
            before += r[j] == a;
        }
        for (size_t b = 0; b < distinct; ++b) {
            hits += in_prediction[b] < in_reference[b] ? in_prediction[b] : in_reference[b];
            in_prediction[b] = 0;
            in_reference[b] = 0;
        }
        in_reference[distinct] = 0;
    }
    return hits;
}

}  // namespace details

// The clipped skip-bigram hits (and unigram hits, if asked) of the
// prediction with one reference. Prediction words are below `distinct`; the
// reference's other words are `distinct`.
inline uint64_t skip_bigram_hits(const IdSequence<WordId>& prediction, const IdSequence<WordId>& reference,
                                 WordId distinct, int64_t gap, bool with_unigrams, ScratchArena& arena) {
    const ArenaScope scope(arena);
    const size_t ids = size_t{distinct} + 1;
    const WordId* p = prediction.ids;
    const WordId* r = reference.ids;
    const size_t np = prediction.count;
    const size_t nr = reference.count;

    uint64_t hits = with_unigrams ? skip_unigram_hits(prediction, reference, distinct, arena) : 0;
    if (np < 2 || nr < 2) return hits;
    // No gap limit (or one no text reaches): pairs are not listed at all.
    if (gap < 0 || static_cast<uint64_t>(gap) + 2 >= std::max(np, nr)) {
        return hits + details::unlimited_pair_hits(p, np, r, nr, distinct, arena);
    }

    // Group sizes: the reference's pairs whose words both occur in the
    // prediction, then all of the prediction's.
    size_t* starts = arena.allocate_zeroed<size_t>(ids + 1);
    size_t entries = 0;
    for (size_t i = 0; i + 1 < nr; ++i) {
        if (r[i] == distinct) continue;
        const size_t reach = details::pair_reach(nr, i, gap);
        size_t kept = 0;
        for (size_t d = 1; d <= reach; ++d) kept += static_cast<size_t>(r[i + d] != distinct);
        starts[size_t{r[i]} + 1] += kept;
        entries += kept;
    }
    for (size_t i = 0; i + 1 < np; ++i) {
        const size_t reach = details::pair_reach(np, i, gap);
        starts[size_t{p[i]} + 1] += reach;
        entries += reach;
    }
    for (size_t a = 0; a < ids; ++a) starts[a + 1] += starts[a];

    // Entries: the second word, and whether the prediction offers it (1) or
    // the reference (0).
    struct Entry {
        WordId second;
        WordId from_prediction;
    };
    Entry* sorted = arena.allocate<Entry>(entries + 1);
    size_t* fill = arena.allocate<size_t>(ids);
    for (size_t a = 0; a < ids; ++a) fill[a] = starts[a];
    for (size_t i = 0; i + 1 < nr; ++i) {
        if (r[i] == distinct) continue;
        const size_t reach = details::pair_reach(nr, i, gap);
        for (size_t d = 1; d <= reach; ++d) {
            if (r[i + d] != distinct) sorted[fill[r[i]]++] = Entry{r[i + d], 0};
        }
    }
    for (size_t i = 0; i + 1 < np; ++i) {
        const size_t reach = details::pair_reach(np, i, gap);
        for (size_t d = 1; d <= reach; ++d) sorted[fill[p[i]]++] = Entry{p[i + d], 1};
    }

    uint32_t* owner = arena.allocate<uint32_t>(ids);  // the group whose count `remaining` holds
    uint32_t* remaining = arena.allocate_zeroed<uint32_t>(ids);
    for (size_t b = 0; b < ids; ++b) owner[b] = static_cast<uint32_t>(ids);
    for (size_t a = 0; a + 1 < ids; ++a) {
        for (size_t k = starts[a]; k < starts[a + 1]; ++k) {
            const Entry e = sorted[k];
            const uint32_t current = owner[e.second] == a ? remaining[e.second] : 0;
            const uint32_t take = e.from_prediction & static_cast<uint32_t>(current > 0);
            remaining[e.second] = current + (1 - e.from_prediction) - take;
            owner[e.second] = static_cast<uint32_t>(a);
            hits += take;
        }
    }
    return hits;
}

}  // namespace tallygrams::scorer::rouge155
