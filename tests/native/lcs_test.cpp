#include <gtest/gtest.h>

#include "scorer/lcs.hpp"

namespace {

using namespace tallygrams::scorer;

struct LcsCase {
    const char* name;
    const char* reference;
    const char* prediction;
    uint64_t length;
};

class LcsTable : public testing::TestWithParam<LcsCase> {};

TEST_P(LcsTable, FindsLongestCommonSubsequence) {
    const auto& c = GetParam();
    EXPECT_EQ(lcs_length(tokenize(c.reference), tokenize(c.prediction)), c.length);
    EXPECT_EQ(lcs_length(tokenize(c.prediction), tokenize(c.reference)), c.length) << "must not depend on roles";
}

INSTANTIATE_TEST_SUITE_P(Cases, LcsTable,
                         testing::Values(LcsCase{"edit", "the cat sat on the mat", "the cat lay on the mat", 5},
                                         LcsCase{"swapped", "a b", "b a", 1},
                                         LcsCase{"repeats", "a", "a a a", 1},
                                         LcsCase{"gaps", "a b c d e", "a c e", 3},
                                         LcsCase{"disjoint", "x y z", "p q", 0},
                                         LcsCase{"single_equal", "Cat", "cat", 1},
                                         LcsCase{"single_different", "cat", "dog", 0},
                                         LcsCase{"equal_lengths", "a b c d", "b a d c", 2},
                                         LcsCase{"interleaved", "a x b y c z", "x a y b z c", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
