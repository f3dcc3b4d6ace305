// The straightforward scorer: a byte-at-a-time tokenizer, string-keyed
// counting tables and the full n_r x n_p dynamic programme, written to be
// obviously right rather than fast, and sharing no code with the production
// core's tokenizer or metrics. The core is checked against it on generated
// inputs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "oracles/counting_table.hpp"
#include "oracles/fx_hash.hpp"
#include "scorer/score_arithmetic.hpp"
#include <string>
#include <vector>

namespace tallygrams::straightforward {

using scorer::PairScores;

// The tokens of a text, each an owned lower-case string.
class TokenizedText {
public:
    explicit TokenizedText(std::vector<std::string> tokens) : tokens_(std::move(tokens)) {}
    size_t token_count() const noexcept { return tokens_.size(); }
    std::string_view token(size_t i) const { return tokens_.at(i); }

private:
    std::vector<std::string> tokens_;
};

// Lower-case the text (only U+0130 and U+212A lower-case to anything with an
// ASCII letter or digit: "i" + U+0307, and "k"), then walk it byte by byte:
// ASCII letters and digits extend a token, every other byte ends one.
inline TokenizedText tokenize(std::string_view text) {
    std::string lowered;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 2) == "\xC4\xB0") {
            lowered += "i\xCC\x87";
            i += 1;
        } else if (text.substr(i, 3) == "\xE2\x84\xAA") {
            lowered += "k";
            i += 2;
        } else {
            lowered += text[i];
        }
    }
    std::vector<std::string> tokens;
    std::string current;
    for (char c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            current += c;
        } else if (!current.empty()) {
            tokens.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) tokens.push_back(current);
    return TokenizedText(std::move(tokens));
}

struct UnigramTraits {
    static uint64_t hash(std::string_view token) noexcept { return fx_hash(token); }
    static bool equal(std::string_view a, std::string_view b) noexcept { return a == b; }
};

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
        return a.first == b.first && a.second == b.second;
    }
};

// Both texts must hold at least one token.
inline uint64_t unigram_overlap(const TokenizedText& reference, const TokenizedText& prediction) {
    reference::CountingTable<std::string_view, UnigramTraits> counts(reference.token_count());
    for (size_t i = 0; i < reference.token_count(); ++i) counts.add(reference.token(i));
    uint64_t overlap = 0;
    for (size_t i = 0; i < prediction.token_count(); ++i) overlap += counts.take(prediction.token(i)) ? 1 : 0;
    return overlap;
}

// Both texts must hold at least two tokens.
inline uint64_t bigram_overlap(const TokenizedText& reference, const TokenizedText& prediction) {
    reference::CountingTable<BigramKey, BigramTraits> counts(reference.token_count() - 1);
    for (size_t i = 0; i + 1 < reference.token_count(); ++i) counts.add({reference.token(i), reference.token(i + 1)});
    uint64_t overlap = 0;
    for (size_t i = 0; i + 1 < prediction.token_count(); ++i) {
        overlap += counts.take({prediction.token(i), prediction.token(i + 1)}) ? 1 : 0;
    }
    return overlap;
}

// Both texts must hold at least one token. Two rows of counters; the longer
// sequence gives the rows.
inline uint64_t lcs_length(const TokenizedText& reference, const TokenizedText& prediction) {
    const bool prediction_is_rows = reference.token_count() < prediction.token_count();
    const TokenizedText& rows = prediction_is_rows ? prediction : reference;
    const TokenizedText& columns = prediction_is_rows ? reference : prediction;
    const size_t m = columns.token_count();
    auto previous = std::make_unique<uint64_t[]>(m + 1);
    auto current = std::make_unique<uint64_t[]>(m + 1);
    for (size_t i = 0; i < rows.token_count(); ++i) {
        const std::string_view a = rows.token(i);
        for (size_t j = 0; j < m; ++j) {
            current[j + 1] = a == columns.token(j) ? previous[j] + 1 : std::max(previous[j + 1], current[j]);
        }
        std::swap(previous, current);
    }
    return previous[m];
}

inline PairScores score_pair(std::string_view reference, std::string_view prediction) {
    const TokenizedText ref = tokenize(reference);
    const TokenizedText pred = tokenize(prediction);
    const uint64_t n_r = ref.token_count();
    const uint64_t n_p = pred.token_count();
    PairScores scores;
    // Qualified: argument-dependent lookup would also find the production
    // functions of the same names when both headers are included.
    if (n_r >= 1 && n_p >= 1) {
        scores.rouge1 = scorer::score_from_counts(straightforward::unigram_overlap(ref, pred), n_p, n_r);
        scores.rougeL = scorer::score_from_counts(straightforward::lcs_length(ref, pred), n_p, n_r);
    }
    if (n_r >= 2 && n_p >= 2) {
        scores.rouge2 = scorer::score_from_counts(straightforward::bigram_overlap(ref, pred), n_p - 1, n_r - 1);
    }
    return scores;
}

}  // namespace tallygrams::straightforward
