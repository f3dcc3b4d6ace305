// The bootstrap on the pool: bit for bit the straightforward bootstrap, the
// same for any number of workers, sound on the edges of its arguments, and
// stopped promptly by its cancellation flag.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bootstrap_support.hpp"
#include "engine/statistics/bootstrap.hpp"
#include "engine/statistics/exact_sum.hpp"
#include "oracles/straightforward_bootstrap.hpp"

namespace {

using namespace tallygrams::engine;
using bootstrap_test::ColumnSpans;
using bootstrap_test::score_columns;
using bootstrap_test::Table;
namespace straightforward = tallygrams::straightforward;

const std::atomic<bool> kNeverCancelled{false};

BootstrapSettings settings_for(size_t resamples, uint64_t seed, double confidence = 0.95,
                               unsigned block_shift = kDefaultBlockShift) {
    BootstrapSettings settings;
    settings.resamples = resamples;
    settings.seed = seed;
    settings.confidence = confidence;
    settings.block_shift = block_shift;
    return settings;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<ColumnSummary> intervals(WorkerPool& pool, const Table& table, const BootstrapSettings& settings) {
    const ColumnSpans columns(table);
    return bootstrap_intervals(pool, columns.get(), settings, kNeverCancelled).value();
}

std::vector<double> means(WorkerPool& pool, const Table& table, const BootstrapSettings& settings) {
    const ColumnSpans columns(table);
    return resample_means(pool, columns.get(), settings, kNeverCancelled).value();
}

void expect_same(const std::vector<ColumnSummary>& a, const std::vector<ColumnSummary>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t c = 0; c < a.size(); ++c) {
        EXPECT_TRUE(same_bits(a[c].mean, b[c].mean)) << "column " << c;
        EXPECT_TRUE(same_bits(a[c].low, b[c].low)) << "column " << c;
        EXPECT_TRUE(same_bits(a[c].mid, b[c].mid)) << "column " << c;
        EXPECT_TRUE(same_bits(a[c].high, b[c].high)) << "column " << c;
    }
}

struct Shape {
    size_t columns;
    size_t pairs;
    size_t resamples;
    unsigned block_shift;
    size_t workers;
};

class AgainstStraightforward : public testing::TestWithParam<Shape> {};

TEST_P(AgainstStraightforward, EveryResampledMeanAndIntervalIsBitIdentical) {
    const Shape shape = GetParam();
    WorkerPool pool(shape.workers);
    for (uint64_t seed : {uint64_t{0}, uint64_t{1}, uint64_t{0xffffffffffffffff}}) {
        const Table table = score_columns(shape.columns, shape.pairs, seed + shape.pairs);
        const BootstrapSettings settings = settings_for(shape.resamples, seed, 0.95, shape.block_shift);

        const std::vector<double> fast = means(pool, table, settings);
        const std::vector<std::vector<double>> slow =
            straightforward::bootstrap_resample_means(table, shape.resamples, seed, shape.block_shift);
        size_t differing = 0;
        for (size_t c = 0; c < shape.columns; ++c) {
            for (size_t r = 0; r < shape.resamples; ++r) differing += !same_bits(fast[c * shape.resamples + r], slow[c][r]);
        }
        EXPECT_EQ(differing, 0u) << "seed " << seed;

        const std::vector<ColumnSummary> summaries = intervals(pool, table, settings);
        const std::vector<straightforward::BootstrapInterval> expected =
            straightforward::bootstrap_intervals(table, shape.resamples, seed, 0.95, shape.block_shift);
        for (size_t c = 0; c < shape.columns; ++c) {
            EXPECT_TRUE(same_bits(summaries[c].low, expected[c].low)) << "seed " << seed << " column " << c;
            EXPECT_TRUE(same_bits(summaries[c].mid, expected[c].mid)) << "seed " << seed << " column " << c;
            EXPECT_TRUE(same_bits(summaries[c].high, expected[c].high)) << "seed " << seed << " column " << c;
            EXPECT_TRUE(same_bits(summaries[c].mean, exact_mean(table[c])));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, AgainstStraightforward,
    testing::Values(Shape{9, 1000, 50, kDefaultBlockShift, 2},  // one block
                    Shape{9, 5000, 70, kDefaultBlockShift, 2},  // two full blocks and a partial one
                    Shape{3, 4096, 16, kDefaultBlockShift, 3},  // exactly two blocks
                    Shape{2, 100, 200, 3, 2},                   // many small blocks, partial last one
                    Shape{1, 37, 129, 0, 3},                    // one pair per block
                    Shape{4, 1, 10, 0, 2},                      // a single pair
                    Shape{5, 3000, 1, 4, 1},                    // a single resample
                    Shape{9, 20000, 9, 8, 8}));                 // odd lane count, many workers

TEST(Bootstrap, ResultDoesNotDependOnTheNumberOfWorkers) {
    const Table table = score_columns(9, 7000, 5);
    for (size_t resamples : {size_t{1}, size_t{3}, size_t{200}}) {
        const BootstrapSettings settings = settings_for(resamples, 99);
        WorkerPool single(1);
        const std::vector<ColumnSummary> expected = intervals(single, table, settings);
        const std::vector<double> expected_means = means(single, table, settings);
        for (size_t workers : {2, 3, 8}) {
            WorkerPool pool(workers);
            SCOPED_TRACE(testing::Message() << workers << " workers, " << resamples << " resamples");
            expect_same(intervals(pool, table, settings), expected);
            const std::vector<double> got = means(pool, table, settings);
            EXPECT_EQ(std::memcmp(got.data(), expected_means.data(), got.size() * sizeof(double)), 0);
        }
    }
}

TEST(Bootstrap, SeedsGiveDifferentIntervalsAndTheSameSeedTheSame) {
    WorkerPool pool(2);
    const Table table = score_columns(2, 500, 3);
    const std::vector<ColumnSummary> a = intervals(pool, table, settings_for(300, 1));
    expect_same(intervals(pool, table, settings_for(300, 1)), a);
    const std::vector<ColumnSummary> b = intervals(pool, table, settings_for(300, 2));
    EXPECT_FALSE(same_bits(a[0].low, b[0].low) && same_bits(a[0].high, b[0].high));
    // The columns of one resample describe the same pairs: two equal
    // columns give equal resampled means.
    const Table twins{table[0], table[0]};
    const std::vector<double> twin_means = means(pool, twins, settings_for(300, 1));
    EXPECT_EQ(std::memcmp(twin_means.data(), twin_means.data() + 300, 300 * sizeof(double)), 0);
}

TEST(Bootstrap, EdgesOfTheArguments) {
    WorkerPool pool(2);
    // One pair: every resample draws it n = 1 times.
    for (const ColumnSummary& s : intervals(pool, {{0.3}, {0.0}, {1.0}}, settings_for(25, 4))) {
        EXPECT_EQ(s.low, s.mean);
        EXPECT_EQ(s.mid, s.mean);
        EXPECT_EQ(s.high, s.mean);
    }
    EXPECT_EQ(intervals(pool, {{0.3}}, settings_for(25, 4))[0].mean, 0.3);

    // Constant columns of exactly representable sums stay exactly constant.
    const Table constant{std::vector<double>(3000, 0.75), std::vector<double>(3000, 0.0),
                         std::vector<double>(3000, 1.0)};
    const std::vector<double> constant_expected{0.75, 0.0, 1.0};
    const std::vector<ColumnSummary> flat = intervals(pool, constant, settings_for(40, 4));
    for (size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(flat[c].mean, constant_expected[c]);
        EXPECT_EQ(flat[c].low, constant_expected[c]);
        EXPECT_EQ(flat[c].mid, constant_expected[c]);
        EXPECT_EQ(flat[c].high, constant_expected[c]);
        EXPECT_FALSE(std::signbit(flat[c].low));
    }

    const Table table = score_columns(3, 800, 11);
    // A single resample: its mean is every percentile.
    const std::vector<double> single = means(pool, table, settings_for(1, 8));
    const std::vector<ColumnSummary> one = intervals(pool, table, settings_for(1, 8));
    for (size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(one[c].low, single[c]);
        EXPECT_EQ(one[c].mid, single[c]);
        EXPECT_EQ(one[c].high, single[c]);
    }

    // Confidence 0 collapses to the median; 1 spans the extremes.
    const std::vector<double> all = means(pool, table, settings_for(101, 8));
    const std::vector<ColumnSummary> zero = intervals(pool, table, settings_for(101, 8, 0.0));
    const std::vector<ColumnSummary> full = intervals(pool, table, settings_for(101, 8, 1.0));
    for (size_t c = 0; c < 3; ++c) {
        std::vector<double> column(all.begin() + static_cast<ptrdiff_t>(c * 101),
                                   all.begin() + static_cast<ptrdiff_t>((c + 1) * 101));
        std::sort(column.begin(), column.end());
        EXPECT_EQ(zero[c].low, column[50]);
        EXPECT_EQ(zero[c].mid, column[50]);
        EXPECT_EQ(zero[c].high, column[50]);
        EXPECT_EQ(full[c].low, column.front());
        EXPECT_EQ(full[c].mid, column[50]);
        EXPECT_EQ(full[c].high, column.back());
    }

    // No columns: nothing to summarise.
    EXPECT_TRUE(intervals(pool, {}, settings_for(10, 0)).empty());
}

TEST(Bootstrap, SumsThatOverflowGiveNanIntervalsNotDisorder) {
    // Finite values whose weighted sums overflow, with opposite signs: some
    // resampled means are inf - inf = NaN, which no sort can order.
    WorkerPool pool(2);
    const Table table{{1.7e308, -1.7e308, 1.7e308, -1.7e308, 0.5}, {0.1, 0.2, 0.3, 0.4, 0.5}};
    const std::vector<ColumnSummary> s = intervals(pool, table, settings_for(200, 1));
    EXPECT_TRUE(std::isnan(s[0].low) && std::isnan(s[0].mid) && std::isnan(s[0].high));
    EXPECT_EQ(s[0].mean, 0.1);
    EXPECT_FALSE(std::isnan(s[1].low));
}

TEST(Bootstrap, RefusesArgumentsItCannotSummarise) {
    WorkerPool pool(2);
    const Table good = score_columns(2, 10, 1);
    const auto refuses = [&](const Table& table, const BootstrapSettings& settings) {
        const ColumnSpans columns(table);
        EXPECT_THROW(bootstrap_intervals(pool, columns.get(), settings, kNeverCancelled), std::invalid_argument);
        EXPECT_THROW(resample_means(pool, columns.get(), settings, kNeverCancelled), std::invalid_argument);
    };
    refuses({{0.1, 0.2}, {0.1}}, settings_for(10, 0));
    refuses({{}, {}}, settings_for(10, 0));
    refuses(good, settings_for(0, 0));
    for (double confidence : {-0.01, 1.01, std::nan("")}) refuses(good, settings_for(10, 0, confidence));
    refuses(good, settings_for(10, 0, 0.95, kMaxBlockShift + 1));
    // Columns x resamples past what an array holds (here 2 x 2**63, which
    // wraps to 0).
    refuses(good, settings_for(size_t{1} << 63, 0));
    for (double bad : {std::nan(""), double{INFINITY}, -double{INFINITY}}) {
        Table table = score_columns(2, 3000000, 2);
        table[1][2999999] = bad;
        refuses(table, settings_for(10, 0));
    }
    // The pool is fine afterwards.
    EXPECT_EQ(intervals(pool, good, settings_for(10, 0)).size(), 2u);
}

// Runs `body` on its own thread and ends the whole test process if it has not
// returned after `limit`: a stuck run cannot be interrupted otherwise.
template <class Body>
void with_watchdog(std::chrono::seconds limit, Body body) {
    std::packaged_task<void()> task(body);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "watchdog: the run did not return within %lld s\n", static_cast<long long>(limit.count()));
        std::_Exit(3);
    }
    runner.join();
    done.get();
}

TEST(Bootstrap, CancellationStopsTheRunAndLeavesThePoolUsable) {
    // Uncancelled, this run would take many minutes.
    const Table big = score_columns(9, 1000000, 21);
    const ColumnSpans columns(big);
    const Table small = score_columns(9, 3000, 22);
    WorkerPool fresh(1);
    const std::vector<ColumnSummary> small_expected = intervals(fresh, small, settings_for(64, 5));

    WorkerPool pool(2);
    for (int delay_ms : {-1, 0, 5, 40, 300}) {
        SCOPED_TRACE(testing::Message() << "cancelled after " << delay_ms << " ms");
        with_watchdog(std::chrono::seconds(120), [&] {
            std::atomic<bool> cancelled{delay_ms < 0};
            std::chrono::steady_clock::time_point cancelled_at = std::chrono::steady_clock::now();
            std::thread canceller([&] {
                if (delay_ms < 0) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
                cancelled_at = std::chrono::steady_clock::now();
                cancelled.store(true);
            });
            const auto result = bootstrap_intervals(pool, columns.get(), settings_for(200000, 1), cancelled);
            const auto returned_at = std::chrono::steady_clock::now();
            canceller.join();
            EXPECT_FALSE(result.has_value());
            // For reading, not asserting: shared machines stall threads.
            std::printf("  cancelled after %d ms: returned %.1f ms later\n", delay_ms,
                        std::chrono::duration<double, std::milli>(returned_at - cancelled_at).count());
        });
        expect_same(intervals(pool, small, settings_for(64, 5)), small_expected);
    }
}

}  // namespace
