// The building blocks of the bootstrap: the generator, unbiased bounded
// draws, the exact sum behind the means, and that the resample counts follow
// the multinomial distribution exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "bootstrap_support.hpp"
#include "engine/statistics/bootstrap.hpp"
#include "engine/statistics/bounded_draw.hpp"
#include "engine/statistics/exact_sum.hpp"
#include "engine/statistics/random_stream.hpp"

namespace {

using namespace tallygrams::engine;

TEST(RandomStream, IsSplitMix64AndDrawsLowHalfFirst) {
    // The first outputs of the published SplitMix64 from state 1234567.
    const uint64_t expected[] = {6457827717110365317u, 3203168211198807973u, 9817491932198370423u,
                                 4593380528125082431u, 16408922859458223821u};
    Draws32 draws(1234567);
    for (uint64_t j = 0; j < 5; ++j) {
        EXPECT_EQ(splitmix_word(1234567, j), expected[j]);
        EXPECT_EQ(draws.next(), static_cast<uint32_t>(expected[j]));
        EXPECT_EQ(draws.next(), static_cast<uint32_t>(expected[j] >> 32));
    }
    // Keys are words of parent streams.
    EXPECT_EQ(resample_key(1234567, 3), splitmix_word(tallygrams::mix64(1234567), 3));
    EXPECT_EQ(substream_key(1234567, 4), expected[4]);
}

// Returns the given draws in turn.
struct ScriptedDraws {
    std::vector<uint32_t> draws;
    size_t taken = 0;
    uint32_t next() { return draws.at(taken++); }
};

// The inverse of an odd number modulo 2^32 (Newton's iteration).
uint32_t inverse(uint32_t odd) {
    uint32_t x = odd;
    for (int i = 0; i < 5; ++i) x *= 2 - odd * x;
    return x;
}

TEST(BoundedDraw, RejectsExactlyTheDrawsWhoseLowHalfIsBelowTheThreshold) {
    // threshold = 2^32 mod bound; nearly half of all draws for 2^31 + 1.
    struct Case {
        uint32_t bound;
        uint32_t threshold;
    };
    for (const Case c : {Case{3, 1}, Case{(1u << 31) + 1, (1u << 31) - 1}, Case{1000001, 963002}}) {
        ASSERT_EQ(static_cast<uint32_t>((uint64_t{1} << 32) % c.bound), c.threshold);
        // The draws whose product with the bound has low half t - 1 and t.
        const uint32_t last_rejected = (c.threshold - 1) * inverse(c.bound);
        const uint32_t first_accepted = c.threshold * inverse(c.bound);
        ScriptedDraws draws{{0, last_rejected, first_accepted, 0xffffffffu}};
        const BoundedDraw pick(c.bound);
        EXPECT_EQ(pick(draws), static_cast<uint32_t>((uint64_t{first_accepted} * c.bound) >> 32)) << c.bound;
        EXPECT_EQ(draws.taken, 3u) << c.bound;
        EXPECT_EQ(pick(draws), c.bound - 1) << c.bound;
    }
    // A power of two never rejects and keeps the top bits.
    const BoundedDraw eight(8);
    ScriptedDraws top{{0, 0xe0000000u, 0x1fffffffu}};
    EXPECT_EQ(eight(top), 0u);
    EXPECT_EQ(eight(top), 7u);
    EXPECT_EQ(eight(top), 0u);
    EXPECT_EQ(top.taken, 3u);
}

TEST(BoundedDraw, EveryValueOfASmallBoundIsEquallyLikely) {
    // With bound 2^31 + 1 a biased method (draw % bound, or the high half
    // without rejection) would favour the low half of the range by 2x.
    const uint32_t bound = (1u << 31) + 1;
    const BoundedDraw pick(bound);
    Draws32 draws(42);
    size_t low_half = 0;
    const size_t trials = 200000;
    for (size_t i = 0; i < trials; ++i) low_half += pick(draws) < bound / 2;
    // Binomial(200000, ~0.5): sd ~ 224; 6 sd.
    EXPECT_NEAR(static_cast<double>(low_half), trials / 2.0, 1350.0);
}

double exact(std::initializer_list<double> values) {
    ExactSum sum;
    for (double v : values) sum.add(v);
    return sum.rounded();
}

TEST(ExactSum, RoundsTheExactSumOnceToNearestEven) {
    EXPECT_EQ(exact({}), 0.0);
    EXPECT_FALSE(std::signbit(exact({-0.0, -0.0})));
    EXPECT_EQ(exact({1e100, 1.0, -1e100}), 1.0);
    EXPECT_EQ(exact({0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}), 1.0);
    const double two53 = 9007199254740992.0;
    EXPECT_EQ(exact({two53, 1.0}), two53);                    // tie, to even
    EXPECT_EQ(exact({two53, 1.0, 0x1p-1000}), two53 + 2);     // above the tie
    EXPECT_EQ(exact({two53, 1.0, -0x1p-1000}), two53);        // below the tie
    EXPECT_EQ(exact({two53 + 2, 1.0}), two53 + 4);            // tie, to even upwards
    EXPECT_EQ(exact({-two53, -1.0, -0x1p-1000}), -two53 - 2);
    EXPECT_EQ(exact({0x1p-1074, 0x1p-1074}), 0x1p-1073);      // subnormals
    EXPECT_EQ(exact({0x1p-1022, -0x1p-1074}), 0x1p-1022 - 0x1p-1074);
    EXPECT_EQ(exact({DBL_MAX, DBL_MAX, -DBL_MAX}), DBL_MAX);
    EXPECT_EQ(exact({DBL_MAX, DBL_MAX}), INFINITY);
    EXPECT_EQ(exact({-DBL_MAX, -DBL_MAX}), -INFINITY);
    EXPECT_EQ(exact({DBL_MAX, 0x1p970}), INFINITY);           // the tie at 2^1024 rounds up
    EXPECT_EQ(exact({DBL_MAX, 0x1p969}), DBL_MAX);
    EXPECT_EQ(exact({1.0, -1.0}), 0.0);
    EXPECT_EQ(exact({3.0, -0x1p-60}), 3.0);
}

TEST(ExactSum, NeitherOrderNorSplittingChangesTheResult) {
    std::mt19937_64 rng(7);
    std::vector<double> values;
    for (int i = 0; i < 5000; ++i) {
        const double magnitude = std::ldexp(1.0, static_cast<int>(rng() % 600) - 300);
        values.push_back((rng() % 2 ? -1 : 1) * magnitude * std::uniform_real_distribution<double>(1, 2)(rng));
    }
    // Cancel most of it so the low bits decide.
    const std::vector<double> copy = values;
    for (double v : copy) values.push_back(-v);
    values.push_back(0.1);
    values.push_back(0x1p-1074);
    ExactSum forward;
    for (double v : values) forward.add(v);
    EXPECT_EQ(forward.rounded(), 0.1);  // 0.1 + 2^-1074 rounds back to 0.1
    std::shuffle(values.begin(), values.end(), rng);
    ExactSum left, right;
    for (size_t i = 0; i < values.size(); ++i) (i % 3 ? left : right).add(values[i]);
    left.merge(right);
    EXPECT_EQ(left.rounded(), forward.rounded());
}

// The resampled mean of x_i = base^i over n pairs is sum(c_i * base^i) / n:
// with every count below the base, it names the count vector exactly. Over
// many resamples the count vectors must follow Multinomial(n; 1/n, ..., 1/n).
struct MultinomialCase {
    size_t pairs;
    unsigned block_shift;
    size_t resamples;
    double chi_square_limit;  // about the 1e-6 upper quantile for the degrees of freedom
};

class ResampleCounts : public testing::TestWithParam<MultinomialCase> {};

TEST_P(ResampleCounts, FollowTheMultinomialDistribution) {
    const MultinomialCase c = GetParam();
    const double base = static_cast<double>(c.pairs + 1);
    bootstrap_test::Table table(1, std::vector<double>(c.pairs));
    for (size_t i = 0; i < c.pairs; ++i) table[0][i] = std::pow(base, static_cast<double>(i));
    const bootstrap_test::ColumnSpans columns(table);
    WorkerPool pool(2);
    std::atomic<bool> cancelled{false};
    BootstrapSettings settings;
    settings.resamples = c.resamples;
    settings.seed = 2024;
    settings.block_shift = c.block_shift;
    const std::vector<double> means = resample_means(pool, columns.get(), settings, cancelled).value();

    std::map<long long, size_t> seen;
    for (double mean : means) ++seen[std::llround(mean * static_cast<double>(c.pairs))];

    // Every count vector with sum n, its probability n! / prod(c_i!) / n^n.
    std::map<long long, double> probability;
    std::vector<int> counts(c.pairs, 0);
    const auto visit = [&](auto&& self, size_t i, int left) -> void {
        if (i + 1 == c.pairs) {
            counts[i] = left;
            double p = std::tgamma(static_cast<double>(c.pairs) + 1);
            long long key = 0;
            for (size_t j = 0; j < c.pairs; ++j) {
                p /= std::tgamma(counts[j] + 1.0) * static_cast<double>(c.pairs);
                key += counts[j] * std::llround(std::pow(base, static_cast<double>(j)));
            }
            probability[key] = p;
            return;
        }
        for (int k = 0; k <= left; ++k) {
            counts[i] = k;
            self(self, i + 1, left - k);
        }
    };
    visit(visit, 0, static_cast<int>(c.pairs));

    double chi_square = 0;
    for (const auto& [key, p] : probability) {
        const double expected = p * static_cast<double>(c.resamples);
        const double observed = seen.count(key) ? static_cast<double>(seen[key]) : 0.0;
        chi_square += (observed - expected) * (observed - expected) / expected;
        seen.erase(key);
    }
    EXPECT_TRUE(seen.empty()) << "a resample mean that no count vector explains";
    EXPECT_LT(chi_square, c.chi_square_limit) << probability.size() - 1 << " degrees of freedom";
}

INSTANTIATE_TEST_SUITE_P(Layouts, ResampleCounts,
                         testing::Values(MultinomialCase{3, 11, 30000, 46},   // one block
                                         MultinomialCase{3, 1, 30000, 46},    // blocks of 2 and 1
                                         MultinomialCase{3, 0, 30000, 46},    // every pair its own block
                                         MultinomialCase{5, 1, 100000, 215},  // blocks of 2, 2 and 1
                                         MultinomialCase{6, 2, 200000, 620}));  // blocks of 4 and 2

}  // namespace
