// The production scorer (numbered tokens, bit-parallel LCS, arena memory)
// against the straightforward one, bit for bit, on generated inputs chosen
// to stress each fast path.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "scorer/pair_scorer.hpp"
#include "oracles/adversarial_tokens.hpp"
#include "oracles/straightforward_scorer.hpp"

namespace {

using namespace tallygrams;
using scorer::PairScores;

// The default path, with 64-bit ids, and with the numbering's baseline
// kernel (multiply hash, bit-scan edges) whatever the processor offers.
void expect_identical(std::string_view reference, std::string_view prediction) {
    const PairScores expected = straightforward::score_pair(reference, prediction);
    const PairScores narrow = scorer::score_pair(reference, prediction);
    const PairScores wide = scorer::detail::score_numbered<uint64_t>(reference, prediction);
    const PairScores baseline = scorer::detail::score_numbered<uint32_t>(
        reference, prediction, scorer::TokenHash(scorer::process_hash_seed(), /*aes=*/false));
    ASSERT_EQ(std::memcmp(&narrow, &expected, sizeof expected), 0)
        << "reference: " << reference.substr(0, 200) << "\nprediction: " << prediction.substr(0, 200);
    ASSERT_EQ(std::memcmp(&wide, &expected, sizeof expected), 0) << "64-bit ids";
    ASSERT_EQ(std::memcmp(&baseline, &expected, sizeof expected), 0) << "baseline kernel";
}

std::string join(const std::vector<std::string>& words, std::mt19937_64& rng) {
    static const char* separators[] = {" ", " ", "  ", ", ", ".\n", "\t", "-", "\xC3\xA9"};
    std::string text;
    for (const auto& w : words) {
        text += w;
        // NUL separates too, but cannot sit in a C string literal.
        text += (rng() % 7 == 0) ? std::string("\0", 1) : std::string(separators[rng() % 8]);
    }
    return text;
}

std::vector<std::string> draw(std::mt19937_64& rng, size_t count, const std::vector<std::string>& vocabulary) {
    std::vector<std::string> words;
    for (size_t i = 0; i < count; ++i) words.push_back(vocabulary[rng() % vocabulary.size()]);
    return words;
}

std::vector<std::string> vocabulary_of(size_t size, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::string> words;
    for (size_t i = 0; i < size; ++i) {
        std::string w;
        // Lengths around the 8-byte word boundary matter to the hash.
        for (size_t k = 1 + rng() % 12; k > 0; --k) w += "abcdefghijklmnopqrstuvwxyz0123456789ABC"[rng() % 39];
        words.push_back(w);
    }
    return words;
}

TEST(FastPath, RandomTextsOverManyVocabularySizes) {
    std::mt19937_64 rng(2024);
    for (size_t vocabulary_size : {1u, 2u, 3u, 10u, 100u, 5000u}) {
        const auto vocabulary = vocabulary_of(vocabulary_size, vocabulary_size);
        for (int round = 0; round < 300; ++round) {
            const auto ref = draw(rng, rng() % 150, vocabulary);
            auto pred = draw(rng, rng() % 150, vocabulary);
            expect_identical(join(ref, rng), join(pred, rng));
        }
    }
}

TEST(FastPath, LengthsAroundMultiplesOf64) {
    std::mt19937_64 rng(64);
    const auto vocabulary = vocabulary_of(20, 7);
    for (size_t n : {1u, 2u, 63u, 64u, 65u, 127u, 128u, 129u, 191u, 192u, 193u, 256u, 257u}) {
        for (size_t m : {1u, 63u, 64u, 65u, 128u, 200u}) {
            expect_identical(join(draw(rng, n, vocabulary), rng), join(draw(rng, m, vocabulary), rng));
        }
    }
}

TEST(FastPath, AdversarialShapes) {
    std::mt19937_64 rng(99);
    auto repeat = [](const std::string& word, size_t n) {
        std::string text;
        for (size_t i = 0; i < n; ++i) text += word + " ";
        return text;
    };
    const auto vocabulary = vocabulary_of(50, 3);
    const std::string long_text = join(draw(rng, 3000, vocabulary), rng);
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {repeat("a", 300), repeat("a", 200)},          // all tokens equal
        {repeat("a", 129), repeat("A", 65)},           // equal after case folding
        {repeat("x", 100), repeat("y", 100)},          // nothing in common
        {long_text, "zz " + vocabulary[0] + " zz"},    // one text far longer
        {vocabulary[1], long_text},
        {repeat("ab c", 70), repeat("a bc", 70)},      // joined bigrams must not collide
        {"", long_text},
        {"!!! ... ---", "??? ***"},
        {std::string(100, 'q'), std::string(100, 'q') + " " + std::string(100, 'q')},  // long tokens
    };
    for (const auto& [ref, pred] : pairs) {
        expect_identical(ref, pred);
        expect_identical(pred, ref);
    }
}

// Token sets that share long prefixes or differ in a single byte, as whole
// texts against predictions mixing members and near misses, both ways
// round. The oracle's dynamic programme bounds the sizes used here.
TEST(FastPath, AdversarialTokenSets) {
    std::mt19937_64 rng(11);
    for (const auto& set : reference::adversarial_token_sets(20000)) {
        for (const auto& tokens : {set, reference::ordinary_like(set, 3)}) {
            const std::string whole = reference::join_tokens(tokens.tokens, 0, tokens.tokens.size());
            std::vector<std::string> mixed;
            for (size_t i = 0; i < 150; ++i) {
                mixed.push_back(i % 3 == 2 ? tokens.near_misses[rng() % tokens.near_misses.size()]
                                           : tokens.tokens[rng() % tokens.tokens.size()]);
            }
            const std::string prediction = reference::join_tokens(mixed, 0, mixed.size());
            SCOPED_TRACE(tokens.name);
            expect_identical(whole, prediction);
            expect_identical(prediction, whole);
            expect_identical(whole, "x");
        }
    }
}

TEST(FastPath, UnicodeCasesTokenizeTheSameWay) {
    const std::vector<std::string> pieces = {"\xC4\xB0", "\xE2\x84\xAA", "stanbul", "elvin", "a", "\xCE\xA3",
                                             "caf\xC3\xA9", "cafe\xCC\x81", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "K"};
    std::mt19937_64 rng(5);
    for (int round = 0; round < 2000; ++round) {
        std::string ref, pred;
        for (size_t k = rng() % 12; k > 0; --k) ref += pieces[rng() % pieces.size()] + (rng() % 2 ? " " : "");
        for (size_t k = rng() % 12; k > 0; --k) pred += pieces[rng() % pieces.size()] + (rng() % 2 ? " " : "");
        expect_identical(ref, pred);
    }
}

}  // namespace
