// A run the waiting thread stops: its poll is called while the pool works,
// work that checks the flag ends early, the wait ends, and the pool serves
// the next run in full.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/interruption.hpp"
#include "engine/pool/worker_pool.hpp"
#include "engine/range_runner.hpp"

namespace {

using namespace std::chrono_literals;
using tallygrams::engine::Interruption;
using tallygrams::engine::WorkerPool;

TEST(Interruption, TheWaitingThreadStopsALongRunAndThePoolCarriesOn) {
    WorkerPool pool(3);
    const std::thread::id waiter = std::this_thread::get_id();
    std::atomic<int> polls{0};
    bool polled_on_the_waiting_thread = true;
    Interruption interruption(
        [&] {
            polled_on_the_waiting_thread &= std::this_thread::get_id() == waiter;
            return ++polls >= 3;  // the third poll stops the run
        },
        1ms);
    std::atomic<size_t> items{0};
    const size_t n = 1'000'000;
    const size_t done = tallygrams::engine::run_ranges(
        pool, n,
        [&](size_t start, size_t end) {
            for (size_t i = start; i < end; ++i) {
                if (interruption.stopped()) return i - start;
                std::this_thread::sleep_for(10us);
                ++items;
            }
            return end - start;
        },
        &interruption);
    EXPECT_TRUE(interruption.stopped());
    EXPECT_EQ(polls.load(), 3);
    EXPECT_TRUE(polled_on_the_waiting_thread);
    EXPECT_LT(done, n);
    EXPECT_EQ(done, items.load());

    Interruption never([] { return false; }, 1ms);
    std::atomic<size_t> all{0};
    EXPECT_EQ(tallygrams::engine::run_ranges(pool, 10'000, [&](size_t start, size_t end) {
                  all += end - start;
                  return end - start;
              }, &never),
              10'000u);
    EXPECT_EQ(all.load(), 10'000u);
    EXPECT_FALSE(never.stopped());
}

}  // namespace
