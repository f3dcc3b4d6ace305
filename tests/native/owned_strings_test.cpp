#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/pool/worker_pool.hpp"
#include "tallygrams/owned_strings.hpp"

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

// With a pool warming full-size blocks ahead of the copy, the strings must
// come out byte for byte, and the warm-up jobs must neither disturb the
// contents nor outlive their memory.
TEST(OwnedStrings, BlocksWarmedByAPoolKeepTheirContents) {
    tallygrams::engine::WorkerPool pool(2);
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

// Spare blocks are bounded by a constant, not by the number of workers that
// could warm them: the same accounting with 2, 64 and 256 workers.
TEST(OwnedStrings, SpareBlocksAreBoundedWhateverTheWorkerCount) {
    constexpr size_t kBlock = OwnedStrings::kLargestBlockBytes;
    for (size_t workers : {2u, 64u, 256u}) {
        tallygrams::engine::WorkerPool pool(workers);
        OwnedStrings strings;
        strings.warm_pages_with(&pool);
        const std::string text(700, 'w');
        for (int i = 0; i < 30000; ++i) strings.append(text);  // 21 MB: ten full-size blocks
        EXPECT_LE(strings.peak_spare_bytes(), OwnedStrings::kMaxSpareBlocks * kBlock) << workers << " workers";
        EXPECT_GE(strings.peak_spare_bytes(), kBlock) << "blocks are warmed ahead at all";
        EXPECT_LE(strings.allocated_bytes(), strings.total_bytes() + kBlock) << "only the last block has room";
        strings.warm_pages_with(nullptr);  // gives back the spares
        for (size_t i = 0; i < strings.size(); ++i) ASSERT_EQ(strings.view(i), text);
        EXPECT_EQ(strings.total_bytes(), 30000u * 700u);
    }
}

}  // namespace
