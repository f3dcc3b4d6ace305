// The bootstrap of nine score columns: 1,000,000 pairs x 1,000 resamples on
// one and on two workers, and, at a smaller size, next to the straightforward
// bootstrap for scale. Every run reports the memory the call allocates at its
// peak beyond the input (counted by the global allocation functions below).
//
// Time is wall time per call; `process_cpu_s` is the CPU time of all threads
// per call and `ns_per_draw_cpu` that divided by pairs x resamples. On a
// shared machine compare the rows of one run, not runs with each other.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <span>
#include <vector>

#include "engine/statistics/bootstrap.hpp"
#include "oracles/straightforward_bootstrap.hpp"

namespace {

std::atomic<size_t> live_bytes{0};
std::atomic<size_t> peak_bytes{0};

void note_allocation(void* block) {
    if (block == nullptr) throw std::bad_alloc();
    const size_t now = live_bytes.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block);
    size_t peak = peak_bytes.load();
    while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace

void* operator new(size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    note_allocation(block);
    return block;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept {
    if (block == nullptr) return;
    live_bytes.fetch_sub(malloc_usable_size(block));
    std::free(block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, size_t) noexcept { operator delete(block); }
void operator delete[](void* block, size_t) noexcept { operator delete(block); }

namespace {

using namespace tallygrams::engine;

constexpr size_t kColumns = 9;

// Score-like columns: ratios of small integers, zeros and ones, correlated
// across the nine columns of a pair as precision, recall and F-measure are.
const std::vector<std::vector<double>>& score_columns(size_t pairs) {
    static std::vector<std::vector<double>> table;
    if (table.empty() || table[0].size() != pairs) {
        table.assign(kColumns, std::vector<double>(pairs));
        std::mt19937_64 rng(1);
        for (size_t i = 0; i < pairs; ++i) {
            const double overlap = static_cast<double>(rng() % 30);
            for (size_t c = 0; c < kColumns; ++c) {
                table[c][i] = std::min(1.0, overlap / static_cast<double>(20 + rng() % 40));
            }
        }
    }
    return table;
}

// CPU time of the whole process (every worker), for reading beside the wall
// time: on a busy machine it is what the run would take alone.
double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void report(benchmark::State& state, size_t pairs, size_t resamples, size_t baseline, double cpu_seconds) {
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["ns_per_draw_cpu"] = cpu_seconds * 1e9 / (iterations * static_cast<double>(pairs * resamples));
    state.counters["process_cpu_s"] = cpu_seconds / iterations;
    state.counters["peak_extra_MiB"] = static_cast<double>(peak_bytes.load() - baseline) / (1024.0 * 1024.0);
    state.counters["input_MiB"] = static_cast<double>(kColumns * pairs * sizeof(double)) / (1024.0 * 1024.0);
}

void BM_Bootstrap(benchmark::State& state) {
    const auto pairs = static_cast<size_t>(state.range(0));
    const auto resamples = static_cast<size_t>(state.range(1));
    const auto& table = score_columns(pairs);
    const std::vector<std::span<const double>> columns(table.begin(), table.end());
    WorkerPool pool(static_cast<size_t>(state.range(2)));
    const std::atomic<bool> never{false};
    BootstrapSettings settings;
    settings.resamples = resamples;
    const size_t baseline = live_bytes.load();
    peak_bytes.store(baseline);
    const double cpu_start = process_cpu_seconds();
    for (auto _ : state) {
        auto result = bootstrap_intervals(pool, columns, settings, never);
        benchmark::DoNotOptimize(result);
    }
    report(state, pairs, resamples, baseline, process_cpu_seconds() - cpu_start);
}

void BM_StraightforwardBootstrap(benchmark::State& state) {
    const auto pairs = static_cast<size_t>(state.range(0));
    const auto resamples = static_cast<size_t>(state.range(1));
    const auto& table = score_columns(pairs);
    const size_t baseline = live_bytes.load();
    peak_bytes.store(baseline);
    const double cpu_start = process_cpu_seconds();
    for (auto _ : state) {
        auto result = tallygrams::straightforward::bootstrap_intervals(table, resamples, 0, 0.95, kDefaultBlockShift);
        benchmark::DoNotOptimize(result);
    }
    report(state, pairs, resamples, baseline, process_cpu_seconds() - cpu_start);
}

}  // namespace

// pairs, resamples, workers
BENCHMARK(BM_Bootstrap)->ArgNames({"pairs", "resamples", "workers"})
    ->Args({1000000, 1000, 1})->Args({1000000, 1000, 2})
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Bootstrap)->ArgNames({"pairs", "resamples", "workers"})
    ->Args({100000, 100, 1})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StraightforwardBootstrap)->ArgNames({"pairs", "resamples"})
    ->Args({100000, 100})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
