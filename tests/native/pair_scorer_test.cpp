#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "scorer/pair_scorer.hpp"

namespace {

using namespace tallygrams::scorer;

// Exact comparison: the scores must be the same bits, not merely close.
void expect_same_bits(const Score& actual, const Score& expected, const char* what) {
    EXPECT_EQ(std::memcmp(&actual.precision, &expected.precision, 8), 0) << what << " precision " << actual.precision;
    EXPECT_EQ(std::memcmp(&actual.recall, &expected.recall, 8), 0) << what << " recall " << actual.recall;
    EXPECT_EQ(std::memcmp(&actual.fmeasure, &expected.fmeasure, 8), 0) << what << " fmeasure " << actual.fmeasure;
}

struct PairCase {
    const char* name;
    const char* reference;
    const char* prediction;
    Score rouge1, rouge2, rougeL;
};

class PairTable : public testing::TestWithParam<PairCase> {};

TEST_P(PairTable, ScoresMatchWorkedValues) {
    const auto& c = GetParam();
    const PairScores s = score_pair(c.reference, c.prediction);
    expect_same_bits(s.rouge1, c.rouge1, "rouge1");
    expect_same_bits(s.rouge2, c.rouge2, "rouge2");
    expect_same_bits(s.rougeL, c.rougeL, "rougeL");
}

constexpr Score zero{};
constexpr Score one{1.0, 1.0, 1.0};
constexpr double five_sixths = 5.0 / 6.0;

INSTANTIATE_TEST_SUITE_P(
    Cases, PairTable,
    testing::Values(
        PairCase{"worked_example", "The cat sat.", "the cat", {1.0, 0.6666666666666666, 0.8},
                 {1.0, 0.5, 0.6666666666666666}, {1.0, 0.6666666666666666, 0.8}},
        PairCase{"both_empty", "", "", zero, zero, zero},
        PairCase{"empty_prediction", "the cat", "", zero, zero, zero},
        PairCase{"tokenless_prediction", "the cat", "!!!", zero, zero, zero},
        PairCase{"tokenless_reference", "!!!", "the cat", zero, zero, zero},
        PairCase{"single_tokens", "Cat", "cat.", one, zero, one},
        PairCase{"identical", "a b c", "a b c", one, one, one},
        PairCase{"one_word_changed", "the cat sat on the mat", "the cat lay on the mat",
                 {five_sixths, five_sixths, five_sixths}, {0.6, 0.6, 0.6}, {five_sixths, five_sixths, five_sixths}},
        PairCase{"reference_repeats", "a a a", "a", {1.0, 0.3333333333333333, 0.5}, zero,
                 {1.0, 0.3333333333333333, 0.5}},
        PairCase{"prediction_repeats", "a", "a a a", {0.3333333333333333, 1.0, 0.5}, zero,
                 {0.3333333333333333, 1.0, 0.5}},
        PairCase{"clipping", "a b a", "a a a a", {0.5, 0.6666666666666666, 0.5714285714285715}, zero,
                 {0.5, 0.6666666666666666, 0.5714285714285715}},
        PairCase{"disjoint", "alpha beta", "gamma delta", zero, zero, zero},
        PairCase{"fmeasure_rounding", "a b c d e", "a c e", {1.0, 0.6, 0.7499999999999999}, zero,
                 {1.0, 0.6, 0.7499999999999999}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScoreFromCounts, FmeasureIsSymmetricBitForBit) {
    for (uint64_t total_a = 1; total_a < 40; ++total_a) {
        for (uint64_t total_b = 1; total_b < 40; ++total_b) {
            for (uint64_t overlap = 0; overlap <= std::min(total_a, total_b); ++overlap) {
                const Score ab = score_from_counts(overlap, total_a, total_b);
                const Score ba = score_from_counts(overlap, total_b, total_a);
                EXPECT_EQ(std::memcmp(&ab.fmeasure, &ba.fmeasure, 8), 0);
                const double naive = overlap == 0 ? 0.0 : 2.0 * ab.precision * ab.recall / (ab.precision + ab.recall);
                EXPECT_EQ(std::memcmp(&ab.fmeasure, &naive, 8), 0);
            }
        }
    }
}

// An independent, obviously correct scorer: counted multisets of token
// strings and a full dynamic-programming table.
PairScores brute_force(const std::vector<std::string>& ref, const std::vector<std::string>& pred) {
    auto clipped = [](const std::vector<std::string>& a, const std::vector<std::string>& b) {
        std::map<std::string, int64_t> count_a, count_b;
        for (const auto& k : a) ++count_a[k];
        for (const auto& k : b) ++count_b[k];
        uint64_t overlap = 0;
        for (const auto& [k, n] : count_a) overlap += std::min(n, count_b[k]);
        return overlap;
    };
    auto bigrams = [](const std::vector<std::string>& t) {
        std::vector<std::string> out;
        for (size_t i = 0; i + 1 < t.size(); ++i) out.push_back(t[i] + '\x01' + t[i + 1]);
        return out;
    };
    std::vector<std::vector<uint64_t>> table(ref.size() + 1, std::vector<uint64_t>(pred.size() + 1));
    for (size_t i = 1; i <= ref.size(); ++i)
        for (size_t j = 1; j <= pred.size(); ++j)
            table[i][j] = ref[i - 1] == pred[j - 1] ? table[i - 1][j - 1] + 1
                                                    : std::max(table[i - 1][j], table[i][j - 1]);
    PairScores s;
    if (!ref.empty() && !pred.empty()) {
        s.rouge1 = score_from_counts(clipped(ref, pred), pred.size(), ref.size());
        s.rougeL = score_from_counts(table[ref.size()][pred.size()], pred.size(), ref.size());
    }
    if (ref.size() >= 2 && pred.size() >= 2) {
        s.rouge2 = score_from_counts(clipped(bigrams(ref), bigrams(pred)), pred.size() - 1, ref.size() - 1);
    }
    return s;
}

TEST(PairScorer, AgreesWithBruteForceOnRandomTexts) {
    std::mt19937_64 rng(12345);
    const std::vector<std::string> vocabulary = {"a", "b", "ab", "ba", "the", "cat", "x1", "1x", "aa"};
    for (int round = 0; round < 3000; ++round) {
        auto make = [&](std::vector<std::string>& words) {
            const size_t n = rng() % 30;
            std::string text;
            for (size_t i = 0; i < n; ++i) {
                const auto& w = vocabulary[rng() % vocabulary.size()];
                words.push_back(w);
                std::string shown = w;
                if (rng() % 3 == 0) std::transform(shown.begin(), shown.end(), shown.begin(), ::toupper);
                text += shown;
                text += (rng() % 2) ? " " : ", ";
            }
            return text;
        };
        std::vector<std::string> ref_words, pred_words;
        const std::string ref = make(ref_words);
        const std::string pred = make(pred_words);
        const PairScores expected = brute_force(ref_words, pred_words);
        const PairScores actual = score_pair(ref, pred);
        expect_same_bits(actual.rouge1, expected.rouge1, "rouge1");
        expect_same_bits(actual.rouge2, expected.rouge2, "rouge2");
        expect_same_bits(actual.rougeL, expected.rougeL, "rougeL");
    }
}

}  // namespace
