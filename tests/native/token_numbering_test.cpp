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
    EXPECT_LE(numbering.longest_probe(), numbering.kHalfFullProbeLimit);
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

// Token "t<i>" on home slot i of a 1024-slot table (a summary-sized one),
// every other token on slot 0: numbering the "t" tokens never probes twice,
// yet together they make one long cluster.
struct ConsecutiveHomesHash {
    uint64_t operator()(const char* text, size_t length, const ShortKey&) const noexcept {
        if (text[0] != 't') return 0;
        return std::stoull(std::string(text + 1, length - 1)) << 54;
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

// Both forms of the short-token hash (AES rounds where the processor has
// them, and the folded multiply) keep token sets built to defeat partial
// hashes in the table, with probe runs no longer than random tokens of the
// same lengths and repeats meet.
TEST(TokenNumbering, KeyedHashKeepsAdversarialSetsInTheTable) {
    for (const bool aes : {true, false}) {
        for (const auto& set : reference::adversarial_token_sets(40000)) {
            const auto longest_of = [&](const reference::TokenSet& tokens) {
                std::vector<std::string> probes(tokens.tokens.begin(), tokens.tokens.begin() + 1000);
                for (const auto& token : tokens.near_misses) probes.push_back(token);
                size_t longest = 0;
                bool ordered = true;
                check_numbering(tokens.tokens, probes, TokenHash(scorer::process_hash_seed(), aes), &longest, &ordered);
                EXPECT_FALSE(ordered) << tokens.name << (aes ? " (AES)" : " (multiply)");
                return longest;
            };
            const size_t hostile = longest_of(set);
            const size_t ordinary = longest_of(reference::ordinary_like(set, 3));
            EXPECT_LE(hostile, 2 * ordinary + 8) << set.name << (aes ? " (AES)" : " (multiply)");
        }
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
    // Caller-made tokens may hold NUL bytes, which the zero padding of a
    // short token's bytes must not confuse with its end, and may be empty.
    for (const char* token : {"a", "b"}) {
        tokens.push_back(std::string(token) + std::string(1, '\0'));
        tokens.push_back(std::string(1, '\0') + token);
        tokens.push_back(std::string(token) + std::string(15, '\0'));
    }
    tokens.push_back(std::string(1, '\0'));
    tokens.push_back("");
    std::vector<std::string> probes = tokens;
    probes.push_back(std::string(41, 'a'));
    probes.push_back(std::string(16, 'a') + "c");
    probes.push_back(std::string(2, '\0'));
    for (const HashSeed seed : {HashSeed{0, 0}, HashSeed{1, 2}, scorer::process_hash_seed()}) {
        check_numbering(tokens, probes, TokenHash(seed));
        check_numbering(tokens, probes, TokenHash(seed, /*aes=*/false));
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

// Summary-sized numberings borrow the thread's table and must hand it back
// as they found it, all zeros, however they end: numbering and looking up,
// growing out of it, handing over to the ordered tree, or failing. Two at
// once on one thread must not share it.
TEST(TokenNumbering, TheThreadsTableComesBackClean) {
    const auto expect_clean = [](const char* after) {
        scorer::detail::NumberSlot* slots = scorer::detail::ThreadSlots::lend();
        ASSERT_NE(slots, nullptr) << after << ": still lent";
        size_t dirty = 0;
        for (size_t i = 0; i < scorer::detail::ThreadSlots::kCount; ++i) {
            dirty += (slots[i].low | slots[i].high | slots[i].length | slots[i].id_plus_one) != 0;
        }
        scorer::detail::ThreadSlots::give_back();
        EXPECT_EQ(dirty, 0u) << after;
    };
    std::vector<std::string> few, many;
    for (int i = 0; i < 40; ++i) few.push_back("w" + std::to_string(i % 25));
    for (int i = 0; i < 3000; ++i) many.push_back("word" + std::to_string(i));
    const std::vector<std::string> probes = {"w3", "w40", "word7", "absent"};

    check_numbering(few, probes, TokenHash{});
    expect_clean("numbering a summary");
    {  // sized for few tokens, so the thread's table, then grows past it
        const TokenText text(many);
        ScratchArena arena;
        TokenNumbering<uint32_t> numbering(many.size(), arena);
        for (size_t i = 0; i < 200; ++i) ASSERT_EQ(numbering.number(text.at(i), text.length(i)), i);
        for (size_t i = 200; i < many.size(); ++i) ASSERT_EQ(numbering.number(text.at(i), text.length(i)), i);
    }
    expect_clean("growing");
    check_numbering(few, probes, CollidingHash{});
    expect_clean("handing over to the tree");
    {
        const TokenText text({"a", "b", "c"});
        ScratchArena arena;
        TokenNumbering<uint32_t> numbering(2, arena);
        numbering.number(text.at(0), 1);
        numbering.number(text.at(1), 1);
        EXPECT_THROW(numbering.number(text.at(2), 1), InternalFailure);
    }
    expect_clean("failing");
    {
        const TokenText first({"x", "y"}), second({"y", "z", "x"});
        ScratchArena arena;
        TokenNumbering<uint32_t> outer(2, arena);
        TokenNumbering<uint32_t> inner(3, arena);
        EXPECT_EQ(outer.number(first.at(0), 1), 0u);
        EXPECT_EQ(inner.number(second.at(0), 1), 0u);
        EXPECT_EQ(outer.number(first.at(1), 1), 1u);
        EXPECT_EQ(inner.number(second.at(1), 1), 1u);
        EXPECT_EQ(inner.number(second.at(2), 1), 2u);
        EXPECT_EQ(outer.find(second.at(2), 1, 9), 0u);
        EXPECT_EQ(outer.find(second.at(1), 1, 9), 9u);
    }
    expect_clean("two at once");
}

}  // namespace
