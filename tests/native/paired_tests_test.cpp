// The paired tests on the pool: the randomisation rounds bit for bit those of
// a straightforward loop over rows and rounds, both sign kernels alike, the
// result the same on any number of workers, the extreme cases exact, bad
// values reported where they are, and cancellation prompt.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <bit>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "bootstrap_support.hpp"
#include "engine/statistics/paired_tests.hpp"
#include "engine/statistics/randomization_rounds.hpp"
#include "engine/statistics/signed_block_sums.hpp"

namespace {

using namespace tallygrams::engine;
using bootstrap_test::ColumnSpans;
using bootstrap_test::score_columns;
using bootstrap_test::Table;

const std::atomic<bool> kNeverCancelled{false};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Round r's mean of one column, row by row as the definition reads.
double straightforward_round(const std::vector<double>& column, uint64_t seed, size_t round) {
    const uint64_t key = sign_stream_key(seed, round);
    double total = 0.0;
    for (size_t begin = 0; begin < column.size(); begin += kSignBlockRows) {
        double lanes[kSignLanes] = {};
        for (size_t i = begin; i < std::min(column.size(), begin + kSignBlockRows); ++i) {
            const bool swapped = (splitmix_word(key, i / 64) >> (i % 64)) & 1;
            lanes[(i - begin) % kSignLanes] += swapped ? -column[i] : column[i];
        }
        total += (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    }
    return total / static_cast<double>(column.size());
}

TEST(SignedBlockSums, KernelsAgreeForEveryGroupingAndTail) {
    const Table table = score_columns(17, kSignBlockRows, 3);
    std::vector<const double*> starts;
    for (const std::vector<double>& column : table) starts.push_back(column.data());
    std::mt19937_64 rng(5);
    uint64_t signs[kSignWordsPerBlock];
    for (uint64_t& word : signs) word = rng();
    for (size_t columns = 1; columns <= table.size(); ++columns) {
        for (size_t size : {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{7}, size_t{64}, size_t{65}, size_t{1001},
                            kSignBlockRows}) {
            std::vector<double> portable(columns), chosen(columns), avx2(columns);
            signed_block_sums_portable(starts.data(), columns, size, signs, portable.data());
            signed_block_sums(starts.data(), columns, size, signs, chosen.data());
            if (signed_block_sums_have_avx2()) signed_block_sums_avx2(starts.data(), columns, size, signs, avx2.data());
            for (size_t c = 0; c < columns; ++c) {
                // Lane by lane from the definition.
                double lanes[kSignLanes] = {};
                for (size_t i = 0; i < size; ++i) {
                    const double value = table[c][i];
                    lanes[i % kSignLanes] += (signs[i / 64] >> (i % 64)) & 1 ? -value : value;
                }
                const double expected = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
                EXPECT_TRUE(same_bits(portable[c], expected)) << columns << " columns, " << size << " rows";
                EXPECT_TRUE(same_bits(chosen[c], expected)) << columns << " columns, " << size << " rows";
                if (signed_block_sums_have_avx2()) {
                    EXPECT_TRUE(same_bits(avx2[c], expected));
                }
            }
        }
    }
}

TEST(RandomizationRounds, EqualTheStraightforwardRoundsOnAnyNumberOfWorkers) {
    // Short inputs, one block, several and a short last one; more workers than rounds.
    for (size_t pairs : {size_t{1}, size_t{5}, size_t{2048}, size_t{2 * kSignBlockRows + 67}}) {
        const Table table = score_columns(3, pairs, pairs);
        const ColumnSpans columns(table);
        for (size_t rounds : {size_t{1}, size_t{9}, size_t{70}}) {
            std::vector<double> expected(3 * rounds);
            for (size_t c = 0; c < 3; ++c) {
                for (size_t r = 0; r < rounds; ++r) expected[c * rounds + r] = straightforward_round(table[c], 42, r);
            }
            for (size_t workers : {1, 2, 3, 8}) {
                WorkerPool pool(workers);
                const std::vector<double> means = randomization_means(pool, columns.get(), rounds, 42, kNeverCancelled).value();
                ASSERT_EQ(means.size(), expected.size());
                for (size_t k = 0; k < means.size(); ++k) {
                    ASSERT_TRUE(same_bits(means[k], expected[k])) << pairs << " pairs, " << rounds << " rounds, "
                                                                  << workers << " workers, value " << k;
                }
            }
        }
    }
}

TEST(RandomizationRounds, SignsAreFairCoins) {
    // Over 64 rounds of 4096 rows, a swap is drawn about half the time, in
    // every bit position of the words.
    size_t swapped = 0;
    std::vector<size_t> by_bit(64, 0);
    for (size_t r = 0; r < 64; ++r) {
        const uint64_t key = sign_stream_key(7, r);
        for (size_t w = 0; w < 64; ++w) {
            const uint64_t word = splitmix_word(key, w);
            swapped += static_cast<size_t>(std::popcount(word));
            for (size_t bit = 0; bit < 64; ++bit) by_bit[bit] += (word >> bit) & 1;
        }
    }
    EXPECT_NEAR(static_cast<double>(swapped) / (64.0 * 64 * 64), 0.5, 0.01);
    for (size_t count : by_bit) EXPECT_NEAR(static_cast<double>(count) / 4096.0, 0.5, 0.04);
}

PairedTestSettings settings_for(PairedTest test, size_t samples, uint64_t seed) {
    PairedTestSettings settings;
    settings.test = test;
    settings.samples = samples;
    settings.seed = seed;
    return settings;
}

TEST(CompareColumns, SameResultOnAnyNumberOfWorkersAndExtremeCasesExact) {
    const Table baseline = score_columns(4, 3000, 1);
    Table system = score_columns(4, 3000, 2);
    Table gained = baseline;
    for (std::vector<double>& column : gained) {
        for (double& value : column) value += 0.125;
    }
    const ColumnSpans b(baseline), s(system), g(gained);
    for (PairedTest test : {PairedTest::bootstrap, PairedTest::randomization}) {
        std::vector<ColumnComparison> first;
        for (size_t workers : {1, 2, 3, 8}) {
            WorkerPool pool(workers);
            const std::vector<ColumnComparison> found =
                compare_columns(pool, b.get(), s.get(), settings_for(test, 200, 9), kNeverCancelled).value();
            if (first.empty()) first = found;
            for (size_t c = 0; c < found.size(); ++c) {
                EXPECT_EQ(std::memcmp(&found[c], &first[c], sizeof found[c]), 0) << workers << " workers";
            }
        }
        WorkerPool pool(2);
        const auto identical = compare_columns(pool, b.get(), b.get(), settings_for(test, 99, 1), kNeverCancelled);
        for (const ColumnComparison& same : identical.value()) {
            EXPECT_EQ(same.difference, 0.0);
            EXPECT_EQ(same.p_value, 1.0);
            EXPECT_EQ(same.low, 0.0);
            EXPECT_EQ(same.high, 0.0);
        }
        const auto shifted = compare_columns(pool, b.get(), g.get(), settings_for(test, 99, 1), kNeverCancelled);
        for (const ColumnComparison& gain : shifted.value()) {
            EXPECT_NEAR(gain.difference, 0.125, 1e-15);
            EXPECT_EQ(gain.p_value, 0.01);
        }
    }
}

TEST(CompareColumns, ReportsTheFirstValueThatIsNotFinite) {
    Table baseline = score_columns(3, 200000, 4);
    Table system = baseline;
    system[2][150000] = std::numeric_limits<double>::infinity();
    system[1][190000] = std::nan("");
    baseline[1][199999] = -std::numeric_limits<double>::infinity();
    const ColumnSpans b(baseline), s(system);
    WorkerPool pool(3);
    try {
        (void)compare_columns(pool, b.get(), s.get(), settings_for(PairedTest::bootstrap, 10, 0), kNeverCancelled);
        FAIL() << "no exception";
    } catch (const NonFiniteValue& error) {
        EXPECT_TRUE(error.in_system);
        EXPECT_EQ(error.column, 1u);
        EXPECT_EQ(error.row, 190000u);
        EXPECT_TRUE(std::isnan(error.value));
    }
    Table huge(1, std::vector<double>(4, std::numeric_limits<double>::max()));
    Table negative(1, std::vector<double>(4, -std::numeric_limits<double>::max()));
    const ColumnSpans h(huge), n(negative);
    EXPECT_THROW((void)compare_columns(pool, n.get(), h.get(), settings_for(PairedTest::bootstrap, 10, 0), kNeverCancelled),
                 std::invalid_argument);
    const Table empty(1);
    const ColumnSpans e(empty);
    EXPECT_THROW((void)compare_columns(pool, e.get(), e.get(), settings_for(PairedTest::bootstrap, 10, 0), kNeverCancelled),
                 std::invalid_argument);
    EXPECT_THROW((void)compare_columns(pool, h.get(), s.get(), settings_for(PairedTest::bootstrap, 10, 0), kNeverCancelled),
                 std::invalid_argument);
}

TEST(CompareColumns, CancellationStopsARunPromptly) {
    const Table baseline = score_columns(9, 100000, 6);
    const Table system = score_columns(9, 100000, 7);
    const ColumnSpans b(baseline), s(system);
    WorkerPool pool(2);
    for (PairedTest test : {PairedTest::bootstrap, PairedTest::randomization}) {
        std::atomic<bool> cancelled{false};
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            cancelled.store(true);
        });
        // Uncancelled, this run would take many minutes.
        const auto result = compare_columns(pool, b.get(), s.get(), settings_for(test, 200000, 1), cancelled);
        canceller.join();
        EXPECT_FALSE(result.has_value());
    }
}

}  // namespace
