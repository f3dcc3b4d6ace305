#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tallygrams/parallel_copy.hpp"

namespace {

using tallygrams::batch::CopyItem;
using tallygrams::engine::WorkerPool;

struct Copies {
    std::vector<std::string> sources;
    std::vector<std::string> destinations;

    explicit Copies(size_t count) {
        std::mt19937_64 rng(count);
        for (size_t i = 0; i < count; ++i) {
            sources.push_back(std::string(rng() % 700, static_cast<char>('a' + i % 26)) + std::to_string(i));
            destinations.push_back(std::string(sources.back().size(), '\0'));
        }
    }
    std::vector<CopyItem> items() {
        std::vector<CopyItem> out;
        for (size_t i = 0; i < sources.size(); ++i) {
            out.push_back({sources[i].data(), destinations[i].data(), sources[i].size()});
        }
        return out;
    }
};

class CopyCounts : public testing::TestWithParam<size_t> {};

// Every byte arrives, with or without helpers, for one chunk or many.
TEST_P(CopyCounts, CopiesEveryItem) {
    for (size_t workers : {0u, 1u, 2u, 7u}) {
        WorkerPool pool(workers == 0 ? 1 : workers);
        Copies copies(GetParam());
        tallygrams::batch::copy_in_parallel(copies.items(), workers == 0 ? nullptr : &pool);
        EXPECT_EQ(copies.destinations, copies.sources) << workers << " workers";
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, CopyCounts, testing::Values(0, 1, 511, 512, 513, 5000));

// With every worker busy elsewhere, the caller copies alone and returns
// without waiting for them; the helpers that start later find nothing left.
TEST(ParallelCopy, BusyPoolDoesNotHoldTheCallerBack) {
    WorkerPool pool(2);
    std::atomic<bool> release{false};
    std::thread busy([&] {
        pool.run_and_wait([&] {
            pool.fork_join([&](bool) { while (!release) std::this_thread::yield(); },
                           [&](bool) { while (!release) std::this_thread::yield(); });
        });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Copies copies(20000);
    tallygrams::batch::copy_in_parallel(copies.items(), &pool);
    EXPECT_EQ(copies.destinations, copies.sources);
    release = true;
    busy.join();
}

}  // namespace
