// Clipped n-gram overlap: each reference occurrence of an n-gram matches at
// most one prediction occurrence. The reference fills a counting table, the
// prediction drains it; the prediction's own n-grams are never tabulated.
#pragma once

#include <cstdint>
#include <string_view>

#include "scorer/counting_table.hpp"
#include "scorer/fx_hash.hpp"
#include "scorer/tokenizer.hpp"

namespace tallygrams::scorer {

struct UnigramTraits {
    static uint64_t hash(std::string_view token) noexcept { return fx_hash(token); }
    static bool equal(std::string_view a, std::string_view b) noexcept {
        return a.size() == b.size() && a == b;
    }
};

// A bigram is an ordered pair of token texts, never their concatenation:
// ("ab", "c") and ("a", "bc") are different keys.
struct BigramKey {
    std::string_view first;
    std::string_view second;
};

struct BigramTraits {
    static uint64_t hash(const BigramKey& key) noexcept {
        FxHasher hasher;
        hasher.add_bytes(key.first);
        hasher.add_bytes(key.second);
        return hasher.finish();
    }
    static bool equal(const BigramKey& a, const BigramKey& b) noexcept {
        return UnigramTraits::equal(a.first, b.first) && UnigramTraits::equal(a.second, b.second);
    }
};

// Both texts must hold at least one token.
inline uint64_t unigram_overlap(const TokenizedText& reference, const TokenizedText& prediction) {
    CountingTable<std::string_view, UnigramTraits> counts(reference.token_count());
    for (size_t i = 0; i < reference.token_count(); ++i) counts.add(reference.token(i));
    uint64_t overlap = 0;
    for (size_t i = 0; i < prediction.token_count(); ++i) {
        if (counts.take(prediction.token(i))) ++overlap;
    }
    return overlap;
}

// Both texts must hold at least two tokens.
inline uint64_t bigram_overlap(const TokenizedText& reference, const TokenizedText& prediction) {
    CountingTable<BigramKey, BigramTraits> counts(reference.token_count() - 1);
    for (size_t i = 0; i + 1 < reference.token_count(); ++i) {
        counts.add({reference.token(i), reference.token(i + 1)});
    }
    uint64_t overlap = 0;
    for (size_t i = 0; i + 1 < prediction.token_count(); ++i) {
        if (counts.take({prediction.token(i), prediction.token(i + 1)})) ++overlap;
    }
    return overlap;
}

}  // namespace tallygrams::scorer
