// Token sets that defeat hashes reading only part of a token: shared
// prefixes, one differing byte, long tokens differing only at the end.
// Each comes with near misses (tokens of the same shape that are not in the
// set) for lookups, and `ordinary_like` gives random tokens of the same
// lengths and the same repetition, for comparison.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace tallygrams::reference {

struct TokenSet {
    std::string name;
    std::vector<std::string> tokens;       // in text order, repeats allowed
    std::vector<std::string> near_misses;  // same shape, never in `tokens`
};

namespace detail {

inline const char kTokenAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

// `value` in base 36 with exactly `width` digits.
inline std::string base36(uint64_t value, size_t width) {
    std::string digits(width, '0');
    for (size_t i = width; i > 0; --i, value /= 36) digits[i - 1] = kTokenAlphabet[value % 36];
    return digits;
}

}  // namespace detail

// `count` tokens per set.
inline std::vector<TokenSet> adversarial_token_sets(size_t count) {
    std::vector<TokenSet> sets;
    auto counter_set = [&](std::string name, const std::string& prefix, size_t width) {
        TokenSet set{std::move(name), {}, {}};
        for (size_t i = 0; i < count; ++i) set.tokens.push_back(prefix + detail::base36(i, width));
        for (size_t i = 0; i < 1000; ++i) set.near_misses.push_back(prefix + detail::base36(count + i, width));
        sets.push_back(std::move(set));
    };
    counter_set("common 8-byte prefix", "17000000", 5);        // 13 bytes
    counter_set("common 12-byte prefix", "170000000000", 5);   // 17 bytes
    counter_set("100 bytes, differing at the end", std::string(95, 'q'), 5);

    // One 24-byte word with one byte changed, at any position to any other
    // character: 841 distinct tokens, cycled through in a scrambled order.
    TokenSet one_byte{"equal length, one byte differs", {}, {}};
    const std::string base = "timestamp2024x06x01t1200";
    std::vector<std::string> variants = {base};
    for (size_t at = 0; at < base.size(); ++at) {
        for (const char* c = detail::kTokenAlphabet; *c != '\0'; ++c) {
            if (*c == base[at]) continue;
            std::string variant = base;
            variant[at] = *c;
            variants.push_back(variant);
        }
    }
    std::mt19937_64 rng(24);
    for (size_t i = 0; i < count; ++i) one_byte.tokens.push_back(variants[(i * 7919 + rng() % 3) % variants.size()]);
    for (size_t at = 0; at + 1 < base.size(); ++at) {  // two bytes changed: never in the set
        std::string miss = base;
        miss[at] = miss[at] == 'z' ? 'y' : 'z';
        miss[at + 1] = miss[at + 1] == 'z' ? 'y' : 'z';
        one_byte.near_misses.push_back(miss);
    }
    sets.push_back(std::move(one_byte));
    return sets;
}

// Random tokens with the same lengths and the same pattern of repeats:
// each distinct token of `set` is replaced by its own random one.
inline TokenSet ordinary_like(const TokenSet& set, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::unordered_map<std::string, std::string> replacement;
    auto random_of_length = [&](size_t length) {
        std::string token(length, 'a');
        for (char& c : token) c = detail::kTokenAlphabet[rng() % 36];
        return token;
    };
    TokenSet ordinary{"random, same lengths as " + set.name, {}, {}};
    for (const auto& token : set.tokens) {
        auto [entry, fresh] = replacement.emplace(token, std::string());
        if (fresh) entry->second = random_of_length(token.size());
        ordinary.tokens.push_back(entry->second);
    }
    for (const auto& token : set.near_misses) ordinary.near_misses.push_back(random_of_length(token.size()));
    return ordinary;
}

inline std::string join_tokens(const std::vector<std::string>& tokens, size_t first, size_t end) {
    std::string text;
    for (size_t i = first; i < end && i < tokens.size(); ++i) {
        text += tokens[i];
        text += ' ';
    }
    return text;
}

}  // namespace tallygrams::reference
