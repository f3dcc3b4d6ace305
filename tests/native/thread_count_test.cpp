// How many workers the pool gets, from the two environment variables.
#include <gtest/gtest.h>

#include <string_view>

#include "engine/pool/thread_count.hpp"

namespace {

struct CountCase {
    const char* primary;
    const char* secondary;
    size_t expected;  // 0: the logical CPU count
};

class WorkerCountTable : public testing::TestWithParam<CountCase> {};

TEST_P(WorkerCountTable, ParsesTheEnvironment) {
    const auto& c = GetParam();
    const size_t count = tallygrams::engine::configured_worker_count([&](std::string_view name) -> const char* {
        return name == "RAYON_NUM_THREADS" ? c.primary : c.secondary;
    });
    EXPECT_EQ(count, c.expected == 0 ? tallygrams::engine::logical_cpu_count() : c.expected);
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
