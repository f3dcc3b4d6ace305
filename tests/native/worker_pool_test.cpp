#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "engine/pool/worker_pool.hpp"
#include "common/internal_failure.hpp"

namespace {

using tallygrams::engine::PoolCreationError;
using tallygrams::engine::WorkerPool;

// Counts the leaves of a complete binary tree of the given depth with one
// fork_join per inner node.
uint64_t count_leaves(WorkerPool& pool, int depth) {
    if (depth == 0) return 1;
    uint64_t left = 0, right = 0;
    pool.fork_join([&](bool) { left = count_leaves(pool, depth - 1); },
                   [&](bool) { right = count_leaves(pool, depth - 1); });
    return left + right;
}

class PoolSizes : public testing::TestWithParam<size_t> {};

TEST_P(PoolSizes, NestedJoinsToDepthComplete) {
    WorkerPool pool(GetParam());
    EXPECT_EQ(pool.worker_count(), GetParam());
    for (int depth : {0, 1, 5, 16}) {
        uint64_t leaves = 0;
        pool.run_and_wait([&] { leaves = count_leaves(pool, depth); });
        EXPECT_EQ(leaves, uint64_t{1} << depth);
    }
}

TEST_P(PoolSizes, FailureWaitsForTheOtherHalfAndRethrowsInCaller) {
    WorkerPool pool(GetParam());
    for (bool left_fails : {true, false}) {
        std::atomic<bool> other_finished{false};
        auto failing = [&](bool) { throw std::runtime_error("half failed"); };
        auto slow = [&](bool) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            other_finished = true;
        };
        try {
            pool.run_and_wait([&] {
                if (left_fails) {
                    pool.fork_join(failing, slow);
                } else {
                    pool.fork_join(slow, failing);
                }
            });
            ADD_FAILURE() << "the failure was lost";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "half failed");
            EXPECT_TRUE(other_finished) << "rethrown before the other half finished";
        }
        // The workers survive and serve the next job.
        uint64_t leaves = 0;
        pool.run_and_wait([&] { leaves = count_leaves(pool, 8); });
        EXPECT_EQ(leaves, 256u);
    }
}

TEST_P(PoolSizes, LeftFailureWinsWhenBothFail) {
    WorkerPool pool(GetParam());
    try {
        pool.run_and_wait([&] {
            pool.fork_join([](bool) { throw std::runtime_error("left"); },
                           [](bool) { throw std::runtime_error("right"); });
        });
        ADD_FAILURE();
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "left");
    }
}

TEST_P(PoolSizes, ManyThreadsSubmitAtOnce) {
    WorkerPool pool(GetParam());
    constexpr int kSubmitters = 8;
    std::vector<std::thread> submitters;
    std::vector<uint64_t> results(kSubmitters);
    for (int t = 0; t < kSubmitters; ++t) {
        submitters.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                uint64_t leaves = 0;
                pool.run_and_wait([&] { leaves = count_leaves(pool, 6 + t % 3); });
                results[t] += leaves;
            }
        });
    }
    for (auto& thread : submitters) thread.join();
    for (int t = 0; t < kSubmitters; ++t) EXPECT_EQ(results[t], 20u * (uint64_t{1} << (6 + t % 3)));
}

TEST_P(PoolSizes, StolenHalvesKnowTheyMoved) {
    WorkerPool pool(GetParam());
    std::atomic<int> moved{0};
    std::atomic<int> stayed_left{0};
    pool.run_and_wait([&] {
        for (int i = 0; i < 200; ++i) {
            pool.fork_join([&](bool m) { stayed_left += m ? 0 : 1; },
                           [&](bool m) {
                               if (m) ++moved;
                               std::this_thread::sleep_for(std::chrono::microseconds(50));
                           });
        }
    });
    EXPECT_EQ(stayed_left, 200) << "the left half always runs where it was forked";
    if (GetParam() == 1) {
        EXPECT_EQ(moved, 0);
    }
}

// Calls spaced so that workers are caught in every state: still running,
// spinning, going to sleep and asleep. A single lost wake-up leaves a job
// queued with every worker asleep, and the test then hangs until ctest's
// timeout fails it.
TEST_P(PoolSizes, EveryCallIsServedWhateverStateTheWorkersAreIn) {
    WorkerPool pool(GetParam());
    std::mt19937_64 rng(GetParam());
    uint64_t total = 0;
    for (int call = 0; call < 600; ++call) {
        uint64_t leaves = 0;
        pool.run_and_wait([&] { leaves = count_leaves(pool, static_cast<int>(rng() % 4)); });
        total += leaves;
        const auto gap = rng() % 4;  // none, a few microseconds, about the spin time, well past it
        if (gap == 1) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20));
        if (gap == 2) std::this_thread::sleep_for(std::chrono::microseconds(50 + rng() % 150));
        if (gap == 3 && call % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GT(total, 0u);
}

// Independent submissions that nobody joins, as the string store's page
// warming and the batch copy make, each picked up by some worker.
TEST_P(PoolSizes, SubmittedJobsAllRun) {
    WorkerPool pool(GetParam());
    struct Counting final : tallygrams::engine::Job {
        std::atomic<int>* count;
        explicit Counting(std::atomic<int>* c) : count(c) {}
        void run(size_t) noexcept override {
            count->fetch_add(1);
            count->notify_all();
            delete this;
        }
    };
    std::atomic<int> count{0};
    for (int i = 0; i < 500; ++i) {
        pool.submit(new Counting(&count));
        if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int seen = count.load(); seen < 500; seen = count.load()) count.wait(seen);
    EXPECT_EQ(count.load(), 500);
}

INSTANTIATE_TEST_SUITE_P(Workers, PoolSizes, testing::Values(1, 2, 7));

TEST(WorkerPool, RunAndWaitFromAWorkerRunsInPlace) {
    WorkerPool pool(1);
    int inner = 0;
    pool.run_and_wait([&] { pool.run_and_wait([&] { inner = 42; }); });
    EXPECT_EQ(inner, 42);
}

TEST(WorkerPool, ForkJoinOutsideThePoolIsAnInternalFailure) {
    WorkerPool pool(2);
    EXPECT_THROW(pool.fork_join([](bool) {}, [](bool) {}), tallygrams::InternalFailure);
}

// In a child process: with address space for only some worker stacks,
// creation must fail cleanly (started workers stopped, an error reported).
[[noreturn]] void create_pool_with_little_address_space() {
    rlimit limit{512u << 20, 512u << 20};
    setrlimit(RLIMIT_AS, &limit);
    try {
        WorkerPool pool(500);
        std::exit(1);
    } catch (const PoolCreationError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        std::exit(3);
    }
}

// Address and thread sanitizers reserve terabytes of shadow address space up
// front, so an address-space limit stops them before the pool is reached.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TALLYGRAMS_SHADOW_MEMORY 1
#endif
#endif

TEST(WorkerPoolDeathTest, RefusedThreadStopsStartedWorkersAndReports) {
#ifdef TALLYGRAMS_SHADOW_MEMORY
    GTEST_SKIP() << "an address-space limit cannot be combined with shadow memory";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(create_pool_with_little_address_space(), testing::ExitedWithCode(3),
                "could not start worker thread [0-9]+ of 500: .*\\(os error [0-9]+\\)");
}

}  // namespace
