#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "batch/owned_strings.hpp"
#include "batch/thread_count.hpp"
#include "batch/worker_pool.hpp"

#include <atomic>

namespace {

using tallygrams::batch::OwnedStrings;

TEST(OwnedStrings, KeepsExactCopiesInOrder) {
    OwnedStrings strings;
    std::vector<std::string> originals = {"", "a", std::string("x\0y", 3), std::string(10000, 'q'), "",
                                          std::string(3 << 20, 'L'), "tail"};
    for (int i = 0; i < 2000; ++i) originals.push_back("s" + std::to_string(i));
    strings.reserve(3);  // a hint only
    for (const auto& s : originals) strings.append(s);
    ASSERT_EQ(strings.size(), originals.size());
    for (size_t i = 0; i < originals.size(); ++i) EXPECT_EQ(strings.view(i), originals[i]) << i;
}

TEST(OwnedStrings, BlocksAreFreedWhenEveryStringIsReleasedFromAnyThread) {
    OwnedStrings strings;
    for (int i = 0; i < 100000; ++i) strings.append(std::string(20 + i % 50, 'a' + i % 26));
    ASSERT_GT(strings.allocated_bytes(), 0u);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = t; i < strings.size(); i += 4) strings.release(i);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(strings.allocated_bytes(), 0u);
}

TEST(OwnedStrings, ReleasingPartOfABlockKeepsItsOtherStrings) {
    OwnedStrings strings;
    strings.append("first");
    strings.append("second");
    strings.release(0);
    EXPECT_EQ(strings.view(1), "second");
}

struct CountCase {
    const char* primary;
    const char* secondary;
    size_t expected;  // 0: the logical CPU count
};

class WorkerCountTable : public testing::TestWithParam<CountCase> {};

TEST_P(WorkerCountTable, ParsesTheEnvironment) {
    const auto& c = GetParam();
    const size_t count = tallygrams::batch::configured_worker_count([&](std::string_view name) -> const char* {
        return name == "RAYON_NUM_THREADS" ? c.primary : c.secondary;
    });
    EXPECT_EQ(count, c.expected == 0 ? tallygrams::batch::logical_cpu_count() : c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkerCountTable,
    testing::Values(CountCase{nullptr, nullptr, 0}, CountCase{"3", nullptr, 3}, CountCase{"+3", nullptr, 3},
                    CountCase{"0", "5", 0}, CountCase{"abc", "5", 5}, CountCase{"-2", "5", 5},
                    CountCase{"++3", "5", 5}, CountCase{" 3", "5", 5}, CountCase{"3 ", nullptr, 0},
                    CountCase{"", "4", 4}, CountCase{"+", "4", 4}, CountCase{"100000", nullptr, 65535},
                    CountCase{"65535", nullptr, 65535}, CountCase{"18446744073709551615", nullptr, 65535},
                    CountCase{"18446744073709551616", "2", 2}, CountCase{nullptr, "0", 0},
                    CountCase{nullptr, "+7", 7}, CountCase{nullptr, "x", 0}));

}  // namespace

namespace {

// With a pool warming full-size blocks ahead of the copy, the strings must
// come out byte for byte, and the warm-up jobs must neither disturb the
// contents nor outlive their memory.
TEST(OwnedStrings, BlocksWarmedByAPoolKeepTheirContents) {
    tallygrams::batch::WorkerPool pool(2);
    std::vector<std::string> originals;
    for (int i = 0; i < 40000; ++i) originals.push_back(std::string(200 + i % 300, static_cast<char>('a' + i % 26)) + std::to_string(i));
    {
        OwnedStrings strings;
        strings.warm_pages_with(&pool);
        for (const auto& s : originals) strings.append(s);
        strings.warm_pages_with(nullptr);
        ASSERT_GT(strings.allocated_bytes(), 4u * 1024 * 1024) << "several full-size blocks";
        for (size_t i = 0; i < originals.size(); ++i) ASSERT_EQ(strings.view(i), originals[i]) << i;
        for (size_t i = 0; i < originals.size(); ++i) strings.release(i);
        EXPECT_EQ(strings.allocated_bytes(), 0u);
    }
    // Destroyed with warm-up jobs possibly still queued: the pool keeps serving.
    std::atomic<int> ran{0};
    pool.run_and_wait([&] { ran = 1; });
    EXPECT_EQ(ran, 1);
}

}  // namespace
