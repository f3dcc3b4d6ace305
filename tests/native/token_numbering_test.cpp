// The numbering table on its own: ids in order of first occurrence whatever
// the hash does, probe runs bounded even when every key collides, and
// scores that never depend on the hash's seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "oracles/adversarial_tokens.hpp"
#include "oracles/straightforward_scorer.hpp"
#include "scorer/pair_scorer.hpp"

namespace {

using namespace tallygrams;
using scorer::HashSeed;
using scorer::ScratchArena;
using scorer::ShortKey;
using scorer::TokenHash;
using scorer::detail::TokenNumbering;

// Every key lands on the same slot: the worst any input could do to a hash.
struct CollidingHash {
    uint64_t operator()(const char*, size_t, const ShortKey&) const noexcept { return 0x5EED; }
};

// Eight home slots for all keys, and equal tags within each: long clusters
// without total collision.
struct FewSlotsHash {
    uint64_t operator()(const char*, size_t length, const ShortKey& key) const noexcept {
        return ((key.low ^ length) & 7) << 61;
    }
};

// Texts laid out as the normaliser leaves them: tokens separated by spaces,
// with 16 bytes of padding after the last, so that word-wide reads stay in
// bounds.
struct TokenText {
    std::string bytes;
    std::vector<std::pair<size_t, size_t>> spans;  // start, length

    explicit TokenText(const std::vector<std::string>& tokens) {
        for (const auto& token : tokens) {
            spans.emplace_back(bytes.size(), token.size());
            bytes += token;
            bytes += ' ';
        }
        bytes += std::string(16, ' ');
    }
    const char* at(size_t i) const { return bytes.data() + spans[i].first; }
    size_t length(size_t i) const { return spans[i].second; }
};

// Numbers `tokens` and checks every id against first-occurrence order, then
// looks up each of `probes`; returns the table for its statistics.
template <class Hash>
void check_numbering(const std::vector<std::string>& tokens, const std::vector<std::string>& probes, const Hash& hash,
                     size_t* longest_probe = nullptr, bool* ordered = nullptr) {
    const TokenText text(tokens), lookups(probes);
    ScratchArena arena;
    TokenNumbering<uint32_t, Hash> numbering(tokens.size(), arena, hash);
    std::map<std::string, uint32_t> expected;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const auto [entry, fresh] = expected.emplace(tokens[i], static_cast<uint32_t>(expected.size()));
        ASSERT_EQ(numbering.number(text.at(i), text.length(i)), entry->second) << "token " << i << " " << tokens[i];
    }
    ASSERT_EQ(numbering.distinct(), expected.size());
    const uint32_t absent = numbering.distinct();
    for (size_t i = 0; i < probes.size(); ++i) {
        const auto entry = expected.find(probes[i]);
        const uint32_t want = entry == expected.end() ? absent : entry->second;
        ASSERT_EQ(numbering.find(lookups.at(i), lookups.length(i), absent), want) << "lookup " << probes[i];
    }
    EXPECT_LE(numbering.longest_probe(), numbering.kProbeLimit);
    if (longest_probe != nullptr) *longest_probe = numbering.longest_probe();
    if (ordered != nullptr) *ordered = numbering.ordered();
}

// Distinct tokens sharing a long prefix, each repeated, in shuffled order;
// and near misses that were never numbered.
struct CollidingWorkload {
    std::vector<std::string> tokens, probes;
};

CollidingWorkload colliding_workload(size_t distinct, uint64_t seed) {
    std::mt19937_64 rng(seed);
    CollidingWorkload work;
    for (size_t i = 0; i < distinct; ++i) {
        const std::string token = "17000000" + std::to_string(100000 + i);
        work.tokens.push_back(token);
        if (i % 3 == 0) work.tokens.push_back(token);
        work.probes.push_back(token);
        work.probes.push_back("17000000" + std::to_string(900000 + i));  // never numbered
    }
    std::shuffle(work.tokens.begin(), work.tokens.end(), rng);
    std::shuffle(work.probes.begin(), work.probes.end(), rng);
    return work;
}

TEST(TokenNumbering, ProbeRunsStayBoundedWhenEveryKeyCollides) {
    const CollidingWorkload work = colliding_workload(20000, 1);
    size_t longest = 0;
    bool ordered = false;
    check_numbering(work.tokens, work.probes, CollidingHash{}, &longest, &ordered);
    EXPECT_TRUE(ordered) << "total collision must hand over to the ordered tree";
    EXPECT_EQ(longest, TokenNumbering<uint32_t>::kProbeLimit);
}

TEST(TokenNumbering, ProbeRunsStayBoundedOnLongClusters) {
    const CollidingWorkload work = colliding_workload(5000, 2);
    bool ordered = false;
    check_numbering(work.tokens, work.probes, FewSlotsHash{}, nullptr, &ordered);
    EXPECT_TRUE(ordered);
}

// Token "t<i>" on home slot i of a 256-slot table, every other token on
// slot 0: numbering the "t" tokens never probes twice, yet together they
// make one long cluster.
struct ConsecutiveHomesHash {
    uint64_t operator()(const char* text, size_t length, const ShortKey&) const noexcept {
        if (text[0] != 't') return 0;
        return std::stoull(std::string(text + 1, length - 1)) << 56;
    }
};

// So lookups alone can meet a long run: absent tokens probing across the
// whole cluster.
TEST(TokenNumbering, LookupsAloneAlsoHandOver) {
    std::vector<std::string> tokens;
    for (int i = 0; i < 60; ++i) tokens.push_back("t" + std::to_string(i));
    std::vector<std::string> probes = tokens;
    for (int i = 0; i < 100; ++i) probes.push_back("absent" + std::to_string(i));
    size_t longest = 0;
    bool ordered = false;
    check_numbering(tokens, probes, ConsecutiveHomesHash{}, &longest, &ordered);
    EXPECT_TRUE(ordered);
}

TEST(TokenNumbering, KeyedHashKeepsAdversarialSetsInTheTable) {
    for (const auto& set : reference::adversarial_token_sets(40000)) {
        std::vector<std::string> probes(set.tokens.begin(), set.tokens.begin() + 1000);
        for (const auto& token : set.near_misses) probes.push_back(token);
        size_t longest = 0;
        bool ordered = true;
        check_numbering(set.tokens, probes, TokenHash{}, &longest, &ordered);
        EXPECT_FALSE(ordered) << set.name;
        EXPECT_LT(longest, 32u) << set.name;
    }
}

// Lengths on both sides of the 8- and 16-byte words, and tokens that agree
// in their first 16 bytes: the short-key compare must not confuse them.
TEST(TokenNumbering, TokensAroundTheWordBoundaries) {
    std::vector<std::string> tokens;
    for (size_t length = 1; length <= 40; ++length) {
        tokens.push_back(std::string(length, 'a'));
        tokens.push_back(std::string(length - 1, 'a') + "b");
        tokens.push_back("b" + std::string(length - 1, 'a'));
    }
    std::vector<std::string> probes = tokens;
    probes.push_back(std::string(41, 'a'));
    probes.push_back(std::string(16, 'a') + "c");
    for (const HashSeed seed : {HashSeed{0, 0}, HashSeed{1, 2}, scorer::process_hash_seed()}) {
        check_numbering(tokens, probes, TokenHash(seed));
    }
    check_numbering(tokens, probes, CollidingHash{});
}

// Numbering more distinct tokens than the table was sized for fails
// cleanly instead of writing past its records; repeats stay fine.
TEST(TokenNumbering, MoreDistinctTokensThanSizedForIsAnInternalFailure) {
    {
        const TokenText text({"a", "b", "a", "b", "c"});
        ScratchArena arena;
        TokenNumbering<uint32_t> numbering(2, arena);
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(numbering.number(text.at(i), text.length(i)), i % 2);
        EXPECT_THROW(numbering.number(text.at(4), text.length(4)), InternalFailure);
    }
    {  // the same in the ordered form
        std::vector<std::string> tokens;
        for (int i = 0; i < 60; ++i) tokens.push_back("t" + std::to_string(i));
        tokens.push_back("t5");
        tokens.push_back("x");
        const TokenText text(tokens);
        ScratchArena arena;
        TokenNumbering<uint32_t, CollidingHash> numbering(60, arena);
        for (size_t i = 0; i < 60; ++i) ASSERT_EQ(numbering.number(text.at(i), text.length(i)), i);
        ASSERT_TRUE(numbering.ordered());
        EXPECT_EQ(numbering.number(text.at(60), text.length(60)), 5u);
        EXPECT_THROW(numbering.number(text.at(61), text.length(61)), InternalFailure);
    }
}

// The whole pair's scores under several seeds and under total collision:
// bit for bit the same, and the same as the straightforward scorer's.
TEST(TokenNumbering, ScoresNeverDependOnTheSeed) {
    std::mt19937_64 rng(77);
    const std::vector<std::string> words = {"a", "the", "cat", "17000000000001", "17000000000002",
                                            "abcdefghijklmnopq", "abcdefghijklmnopr", "x9"};
    for (int round = 0; round < 300; ++round) {
        std::string reference, prediction;
        for (size_t k = rng() % 120; k > 0; --k) reference += words[rng() % words.size()] + " ";
        for (size_t k = rng() % 120; k > 0; --k) prediction += words[rng() % words.size()] + ", ";
        const scorer::PairScores expected = straightforward::score_pair(reference, prediction);
        const scorer::PairScores by_seed[] = {
            scorer::detail::score_numbered<uint32_t>(reference, prediction, TokenHash(HashSeed{0, 0})),
            scorer::detail::score_numbered<uint32_t>(reference, prediction, TokenHash(HashSeed{~0ull, 12345})),
            scorer::detail::score_numbered<uint32_t>(reference, prediction, TokenHash()),
            scorer::detail::score_numbered<uint32_t>(reference, prediction, CollidingHash{}),
            scorer::detail::score_numbered<uint64_t>(reference, prediction, FewSlotsHash{}),
        };
        for (const auto& scores : by_seed) ASSERT_EQ(std::memcmp(&scores, &expected, sizeof expected), 0) << round;
    }
}

}  // namespace
