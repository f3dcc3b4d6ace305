// The summary-level LCS on ids against the oracle's transcription, across
// the shapes the implementation treats differently: prediction sentences of
// one word, of several words and of several word groups, and reference
// sentences long enough to be kept in blocks (forced here by a small row
// budget). Ids come from tiny alphabets so that LCS ties are everywhere.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "oracles/rouge_oracle.hpp"
#include "scorer/metrics/summary_lcs.hpp"

namespace {

using namespace tallygrams;
using Sentences = std::vector<std::vector<uint32_t>>;

struct Flat {
    std::vector<uint32_t> ids;
    std::vector<size_t> ends;
    scorer::IdSequence<uint32_t> view() const { return {ids.data(), ids.size(), ends.data(), ends.size()}; }
};

Flat flatten(const Sentences& sentences) {
    Flat flat;
    for (const auto& s : sentences) {
        flat.ids.insert(flat.ids.end(), s.begin(), s.end());
        flat.ends.push_back(flat.ids.size());
    }
    return flat;
}

std::vector<oracle::Tokens> as_tokens(const Sentences& sentences) {
    std::vector<oracle::Tokens> out;
    for (const auto& s : sentences) {
        oracle::Tokens tokens;
        for (uint32_t id : s) tokens.push_back(std::to_string(id));
        out.push_back(tokens);
    }
    return out;
}

// The oracle's hits, recovered from its recall (hits / reference tokens).
uint64_t oracle_hits(const Sentences& reference, const Sentences& prediction, bool flipped_ties = false) {
    uint64_t m = 0;
    for (const auto& s : reference) m += s.size();
    const oracle::PeerScore score = oracle::summary_level_lcs(as_tokens(reference), as_tokens(prediction), flipped_ties);
    return static_cast<uint64_t>(score.recall * static_cast<double>(m) + 0.5);
}

// Prediction ids are 0..alphabet-1; reference ids may also be `alphabet`
// (absent from the prediction).
Sentences random_sentences(std::mt19937_64& rng, size_t sentences, size_t max_length, uint32_t alphabet, bool absent) {
    Sentences out(sentences);
    for (auto& s : out) {
        for (size_t k = rng() % (max_length + 1); k > 0; --k) s.push_back(static_cast<uint32_t>(rng() % (alphabet + (absent ? 1 : 0))));
    }
    return out;
}

uint64_t fast_hits(const Sentences& reference, const Sentences& prediction, uint32_t alphabet, size_t packed_words,
                   size_t budget = scorer::detail::kRowBudgetWords) {
    const Flat r = flatten(reference);
    const Flat p = flatten(prediction);
    scorer::ScratchArena arena;
    return scorer::summary_lcs_hits<uint32_t>(r.view(), p.view(), alphabet, arena, packed_words, budget);
}

constexpr size_t kUnpacked = 0;

// Every sentence pair through both the packed pass and the one-sentence
// path.
TEST(SummaryLcs, ShortSentencesMatchTheOracleAndItsTieRule) {
    std::mt19937_64 rng(21);
    int told_apart = 0;
    int rounds = 0;
    for (uint32_t alphabet : {1u, 2u, 3u, 5u}) {
        for (int round = 0; round < 1500; ++round, ++rounds) {
            const Sentences reference = random_sentences(rng, 1 + rng() % 4, 12, alphabet, true);
            const Sentences prediction = random_sentences(rng, 1 + rng() % 4, 12, alphabet, false);
            const uint64_t expected = oracle_hits(reference, prediction);
            ASSERT_EQ(fast_hits(reference, prediction, alphabet, scorer::detail::kPackedWords), expected);
            ASSERT_EQ(fast_hits(reference, prediction, alphabet, kUnpacked), expected);
            told_apart += expected != oracle_hits(reference, prediction, true);
        }
    }
    // The inputs are ones where the other tie rule would give other hits.
    EXPECT_GT(told_apart, rounds / 10);
}

// Packed predictions of one to four words (sentences straddling words), and
// wider ones, which go one sentence at a time.
TEST(SummaryLcs, PackedAcrossWords) {
    std::mt19937_64 rng(23);
    for (int round = 0; round < 1500; ++round) {
        const uint32_t alphabet = 1 + static_cast<uint32_t>(rng() % 4);
        const Sentences reference = random_sentences(rng, 1 + rng() % 5, 40, alphabet, true);
        const Sentences prediction = random_sentences(rng, 1 + rng() % 9, 45, alphabet, false);
        const uint64_t expected = oracle_hits(reference, prediction);
        for (size_t words : {size_t{1}, size_t{2}, size_t{3}, size_t{4}, kUnpacked}) {
            ASSERT_EQ(fast_hits(reference, prediction, alphabet, words), expected) << "packed words " << words;
        }
    }
}

TEST(SummaryLcs, LongSentencesInGroupsAndBlocks) {
    std::mt19937_64 rng(22);
    for (int round = 0; round < 120; ++round) {
        const uint32_t alphabet = 1 + static_cast<uint32_t>(rng() % 4);
        // Prediction sentences across one, several and more than four words.
        const size_t max_length = (round % 3 == 0) ? 70 : (round % 3 == 1 ? 200 : 600);
        const Sentences reference = random_sentences(rng, 1 + rng() % 3, max_length, alphabet, true);
        const Sentences prediction = random_sentences(rng, 1 + rng() % 3, max_length, alphabet, false);
        const uint64_t expected = oracle_hits(reference, prediction);
        ASSERT_EQ(fast_hits(reference, prediction, alphabet, scorer::detail::kPackedWords), expected);
        // One sentence at a time: all rows kept, and rows kept in blocks of
        // every size down to one.
        for (size_t budget : {scorer::detail::kRowBudgetWords, size_t{64}, size_t{1}}) {
            ASSERT_EQ(fast_hits(reference, prediction, alphabet, kUnpacked, budget), expected) << "budget " << budget;
        }
    }
}

TEST(SummaryLcs, EmptySentencesAndAbsentTokensAddNothing) {
    const Sentences reference = {{}, {0, 1, 2}, {}, {2, 2}};
    const Sentences prediction = {{2, 1}, {}, {0}};
    // Reference 3 has no prediction token at all.
    const Sentences absent_only = {{3, 3}, {}};
    for (size_t words : {scorer::detail::kPackedWords, kUnpacked}) {
        EXPECT_EQ(fast_hits(reference, prediction, 3, words), oracle_hits(reference, prediction));
        EXPECT_EQ(fast_hits(absent_only, prediction, 3, words), 0u);
        EXPECT_EQ(fast_hits(reference, Sentences{{}, {}}, 3, words), 0u);
    }
}

}  // namespace
