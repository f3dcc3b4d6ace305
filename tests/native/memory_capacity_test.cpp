// Refusing requests for more memory than the process can get: the sizes in
// messages, the saturating product, and the bootstrap's refusal before any
// work, here and under an address-space limit in a child process.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

#include "engine/memory_capacity.hpp"
#include "engine/pool/worker_pool.hpp"
#include "engine/statistics/bootstrap.hpp"

namespace {

using namespace tallygrams::engine;

TEST(MemoryCapacity, NamesSizesAndSaturates) {
    const struct {
        size_t bytes;
        const char* text;
    } sizes[] = {{0, "0 bytes"},
                 {1023, "1023 bytes"},
                 {1024, "1.0 KiB"},
                 {3 * (size_t{1} << 29), "1.5 GiB"},
                 {8'000'000'000'000, "7.3 TiB"},
                 {SIZE_MAX, "16.0 EiB"}};
    for (const auto& size : sizes) EXPECT_EQ(memory_text(size.bytes), size.text);
    EXPECT_EQ(memory_product(3, 8), 24u);
    EXPECT_EQ(memory_product(SIZE_MAX / 8 + 1, 8), SIZE_MAX);
    EXPECT_EQ(memory_product(SIZE_MAX, 0), 0u);
}

TEST(MemoryCapacity, RefusesWhatNoMachineHas) {
    EXPECT_GT(obtainable_memory(), 0u);
    EXPECT_NO_THROW(ensure_obtainable(4096, "a page"));
    try {
        ensure_obtainable(SIZE_MAX, "all of it");
        FAIL() << "not refused";
    } catch (const MemoryRequestRefused& refused) {
        EXPECT_EQ(std::string(refused.what()).rfind("all of it need 16.0 EiB of memory; this process can get about ", 0), 0u)
            << refused.what();
    }
}

// 10^12 resamples of one column: 8 TB of resampled means, refused before a
// worker touches the columns (the cancellation flag is never looked at).
TEST(MemoryCapacity, TheBootstrapRefusesResamplesBeyondMemoryFirst) {
    WorkerPool pool(2);
    const std::vector<double> values = {0.5, 0.7};
    const std::span<const double> column(values);
    BootstrapSettings settings;
    settings.resamples = 1'000'000'000'000;
    const std::atomic<bool> never{false};
    EXPECT_THROW(bootstrap_intervals(pool, std::span(&column, 1), settings, never), MemoryRequestRefused);
    EXPECT_THROW(resample_means(pool, std::span(&column, 1), settings, never), MemoryRequestRefused);
    settings.resamples = 1000;
    EXPECT_TRUE(bootstrap_intervals(pool, std::span(&column, 1), settings, never).has_value());
}

// Under ulimit -v, what is obtainable is bounded by the room left under it.
TEST(MemoryCapacity, AnAddressSpaceLimitBoundsWhatIsObtainable) {
    long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    ASSERT_NE(statm, nullptr);
    ASSERT_EQ(std::fscanf(statm, "%ld", &pages), 1);
    std::fclose(statm);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    const size_t in_use = static_cast<size_t>(pages) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
    rlimit limited = saved;
    limited.rlim_cur = in_use + (size_t{256} << 20);
    if (saved.rlim_max != RLIM_INFINITY && limited.rlim_cur > saved.rlim_max) GTEST_SKIP() << "hard limit too low";
    ASSERT_EQ(setrlimit(RLIMIT_AS, &limited), 0);
    const size_t obtainable = obtainable_memory();
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    EXPECT_LE(obtainable, size_t{256} << 20);
    EXPECT_GT(obtainable, size_t{192} << 20);
}

}  // namespace
