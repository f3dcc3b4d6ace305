#include <gtest/gtest.h>

#include <random>
#include <string>

#include "scorer/metrics/lcs.hpp"
#include "oracles/straightforward_scorer.hpp"

namespace {

using namespace tallygrams::scorer;
namespace plain = tallygrams::straightforward;

struct LcsCase {
    const char* name;
    const char* reference;
    const char* prediction;
    uint64_t length;
};

class LcsTable : public testing::TestWithParam<LcsCase> {};

TEST_P(LcsTable, FindsLongestCommonSubsequence) {
    const auto& c = GetParam();
    for (const auto& [ref, pred] : {std::pair{c.reference, c.prediction}, std::pair{c.prediction, c.reference}}) {
        ScratchArena arena;
        EXPECT_EQ(lcs_length(number_tokens<uint32_t>(ref, pred, arena), arena), c.length) << ref << " / " << pred;
        EXPECT_EQ(plain::lcs_length(plain::tokenize(ref), plain::tokenize(pred)), c.length);
    }
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

// Several 64-column strips with carries between them: a text against itself
// and against its reversal, whose LCS lengths are known.
TEST(Lcs, MultiWordStripsCarryCorrectly) {
    for (size_t n : {63u, 64u, 65u, 127u, 128u, 129u, 500u}) {
        std::string forward, backward;
        for (size_t i = 0; i < n; ++i) forward.append("w").append(std::to_string(i)).append(" ");
        for (size_t i = n; i-- > 0;) backward.append("w").append(std::to_string(i)).append(" ");
        ScratchArena arena;
        EXPECT_EQ(lcs_length(number_tokens<uint32_t>(forward, forward, arena), arena), n);
        EXPECT_EQ(lcs_length(number_tokens<uint32_t>(forward, backward, arena), arena), 1u);
        const std::string twice = forward + forward;
        EXPECT_EQ(lcs_length(number_tokens<uint32_t>(twice, forward, arena), arena), n);
    }
}

// Long texts that share a varying part of their vocabulary, so that groups
// are passed over densely, sparsely, or both in turn, with carries crossing
// from one kind of pass into the other: the same lengths as the full
// dynamic programme, both ways round.
TEST(Lcs, SkippingRowsWithoutMatchesKeepsTheLength) {
    std::mt19937_64 rng(31);
    auto text = [&](size_t n, size_t vocabulary, const std::string& prefix) {
        std::string out;
        for (size_t i = 0; i < n; ++i) out += prefix + std::to_string(rng() % vocabulary) + " ";
        return out;
    };
    for (const size_t rows : {511u, 512u, 2000u}) {
        for (const size_t columns : {40u, 256u, 257u, 700u}) {
            for (const int shared_percent : {0, 5, 30, 70, 100}) {
                std::string longer = text(rows, 60, "w");
                std::string shorter;
                for (size_t j = 0; j < columns; ++j) {
                    shorter += static_cast<int>(rng() % 100) < shared_percent ? "w" + std::to_string(rng() % 60) + " "
                                                                              : "v" + std::to_string(rng() % 60) + " ";
                }
                const uint64_t expected = plain::lcs_length(plain::tokenize(longer), plain::tokenize(shorter));
                ScratchArena arena;
                EXPECT_EQ(lcs_length(number_tokens<uint32_t>(longer, shorter, arena), arena), expected)
                    << rows << " x " << columns << ", " << shared_percent << "% shared";
                EXPECT_EQ(lcs_length(number_tokens<uint32_t>(shorter, longer, arena), arena), expected);
            }
        }
    }
}

}  // namespace
