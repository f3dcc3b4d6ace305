#include <gtest/gtest.h>

#include "scorer/metrics/ngram_overlap.hpp"
#include "oracles/straightforward_scorer.hpp"

namespace {

using namespace tallygrams::scorer;
namespace plain = tallygrams::straightforward;

struct OverlapCase {
    const char* name;
    const char* reference;
    const char* prediction;
    uint64_t unigrams;
    uint64_t bigrams;
};

class OverlapTable : public testing::TestWithParam<OverlapCase> {};

// Both implementations, both argument orders: the overlap is symmetric.
TEST_P(OverlapTable, CountsClippedOverlap) {
    const auto& c = GetParam();
    for (const auto& [ref, pred] : {std::pair{c.reference, c.prediction}, std::pair{c.prediction, c.reference}}) {
        ScratchArena arena;
        const auto numbered = number_tokens<uint32_t>(ref, pred, arena);
        EXPECT_EQ(unigram_overlap(numbered, arena), c.unigrams) << ref << " / " << pred;
        EXPECT_EQ(plain::unigram_overlap(plain::tokenize(ref), plain::tokenize(pred)), c.unigrams);
        if (numbered.reference_count >= 2 && numbered.prediction_count >= 2) {
            EXPECT_EQ(bigram_overlap(numbered, arena), c.bigrams) << ref << " / " << pred;
            EXPECT_EQ(plain::bigram_overlap(plain::tokenize(ref), plain::tokenize(pred)), c.bigrams);
        }
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
                    OverlapCase{"prefix_tokens_differ", "abc abcd", "abcd abc", 2, 0},
                    OverlapCase{"eight_byte_boundary", "abcdefgh abcdefghi", "abcdefghi abcdefgh", 2, 0},
                    OverlapCase{"long_tokens", "internationalization x", "internationalisation x", 1, 0},
                    OverlapCase{"absent_tokens_break_bigrams", "a b c", "a zz b c", 3, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NgramOverlap, ManyDistinctKeysFillTheTablesWithoutLoss) {
    std::string ref, pred;
    for (int i = 0; i < 5000; ++i) ref.append("t").append(std::to_string(i)).append(" ");
    for (int i = 0; i < 5000; i += 2) pred.append("t").append(std::to_string(i)).append(" ");
    ScratchArena arena;
    const auto numbered = number_tokens<uint32_t>(ref, pred, arena);
    EXPECT_EQ(numbered.distinct, 5000u);
    EXPECT_EQ(unigram_overlap(numbered, arena), 2500u);
    EXPECT_EQ(bigram_overlap(numbered, arena), 0u);
    const auto same = number_tokens<uint32_t>(ref, ref, arena);
    EXPECT_EQ(bigram_overlap(same, arena), 4999u);
}

}  // namespace
