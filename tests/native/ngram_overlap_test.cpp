#include <gtest/gtest.h>

#include "scorer/ngram_overlap.hpp"

namespace {

using namespace tallygrams::scorer;

struct OverlapCase {
    const char* name;
    const char* reference;
    const char* prediction;
    uint64_t unigrams;
    uint64_t bigrams;
};

class OverlapTable : public testing::TestWithParam<OverlapCase> {};

TEST_P(OverlapTable, CountsClippedOverlap) {
    const auto& c = GetParam();
    const auto ref = tokenize(c.reference);
    const auto pred = tokenize(c.prediction);
    EXPECT_EQ(unigram_overlap(ref, pred), c.unigrams);
    EXPECT_EQ(unigram_overlap(pred, ref), c.unigrams) << "overlap must be symmetric";
    if (ref.token_count() >= 2 && pred.token_count() >= 2) {
        EXPECT_EQ(bigram_overlap(ref, pred), c.bigrams);
        EXPECT_EQ(bigram_overlap(pred, ref), c.bigrams);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OverlapTable,
    testing::Values(OverlapCase{"prediction_repeats_clipped", "a b", "a a", 1, 0},
                    OverlapCase{"reference_repeats_count", "the the the", "the the", 2, 1},
                    OverlapCase{"overlapping_bigrams", "a a a", "a a a a", 3, 2},
                    OverlapCase{"order_inside_bigram", "a b", "b a", 2, 0},
                    OverlapCase{"bigram_not_joined", "ab c", "a bc", 0, 0},
                    OverlapCase{"shared_bigram", "x ab c", "y ab c", 2, 1},
                    OverlapCase{"case_folded", "The Cat", "the CAT", 2, 1},
                    OverlapCase{"clipping_mixed", "a b a", "a a a a", 2, 0},
                    OverlapCase{"disjoint", "alpha beta", "gamma delta", 0, 0},
                    OverlapCase{"prefix_tokens_differ", "abc abcd", "abcd abc", 2, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NgramOverlap, ManyDistinctKeysFillTheTableWithoutLoss) {
    std::string ref, pred;
    for (int i = 0; i < 5000; ++i) ref.append("t").append(std::to_string(i)).append(" ");
    for (int i = 0; i < 5000; i += 2) pred.append("t").append(std::to_string(i)).append(" ");
    EXPECT_EQ(unigram_overlap(tokenize(ref), tokenize(pred)), 2500u);
    EXPECT_EQ(bigram_overlap(tokenize(ref), tokenize(pred)), 0u);
    EXPECT_EQ(bigram_overlap(tokenize(ref), tokenize(ref)), 4999u);
}

}  // namespace
