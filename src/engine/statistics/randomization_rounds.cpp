#include "engine/statistics/randomization_rounds.hpp"

#include <algorithm>
#include <span>

#include "common/arithmetic.hpp"
#include "engine/range_runner.hpp"
#include "engine/statistics/signed_block_sums.hpp"

namespace tallygrams::engine {
namespace {

// Rounds that share one walk over the columns: while a block of rows sits
// in the core's cache, every round of the pass adds its sums over it.
constexpr size_t kMaxPassRounds = 64;

// Enough passes that every worker gets several; a multiple of 8 so that
// the passes stay alike.
size_t rounds_per_pass(size_t rounds, size_t workers) {
    return std::clamp(round_up(ceil_div(rounds, 4 * workers), size_t{8}), size_t{8}, kMaxPassRounds);
}

// Rounds [first, first + count) over every block: per block and round,
// the block's 32 sign words, then every column's signed block sum, added to
// the round's sums in block order. Returns false if it stopped for
// cancellation.
bool run_pass(Columns columns, size_t rounds, uint64_t seed, size_t first, size_t count,
              const std::atomic<bool>& cancelled, double* means) {
    if (cancelled.load(std::memory_order_relaxed)) return false;
    const size_t pairs = columns[0].size();
    const size_t column_count = columns.size();
    const size_t blocks = ceil_div(pairs, kSignBlockRows);
    std::vector<uint64_t> keys(count);
    for (size_t r = 0; r < count; ++r) keys[r] = sign_stream_key(seed, first + r);
    std::vector<double> sums(count * column_count, 0.0);
    std::vector<double> block_sums(column_count);
    std::vector<const double*> starts(column_count);
    uint64_t words[kSignWordsPerBlock];
    for (size_t block = 0; block < blocks; ++block) {
        if (cancelled.load(std::memory_order_relaxed)) return false;
        const size_t begin = block * kSignBlockRows;
        const size_t size = std::min(kSignBlockRows, pairs - begin);
        const size_t word_count = ceil_div(size, size_t{64});
        for (size_t c = 0; c < column_count; ++c) starts[c] = columns[c].data() + begin;
        for (size_t r = 0; r < count; ++r) {
            for (size_t w = 0; w < word_count; ++w) words[w] = splitmix_word(keys[r], block * kSignWordsPerBlock + w);
            signed_block_sums(starts.data(), column_count, size, words, block_sums.data());
            double* round_sums = sums.data() + r * column_count;
            for (size_t c = 0; c < column_count; ++c) round_sums[c] += block_sums[c];
        }
    }
    const auto divisor = static_cast<double>(pairs);
    for (size_t r = 0; r < count; ++r) {
        for (size_t c = 0; c < column_count; ++c) means[c * rounds + first + r] = sums[r * column_count + c] / divisor;
    }
    return true;
}

}  // namespace

std::optional<std::vector<double>> randomization_means(WorkerPool& pool, Columns columns, size_t rounds,
                                                       uint64_t seed, const std::atomic<bool>& cancelled,
                                                       Interruption* waiter) {
    std::vector<double> means(columns.size() * rounds);
    if (columns.empty()) return means;
    const size_t per_pass = rounds_per_pass(rounds, pool.worker_count());
    std::atomic<bool> stopped{false};
    run_ranges(
        pool, ceil_div(rounds, per_pass),
        [&](size_t start, size_t end) {
            for (size_t index = start; index < end; ++index) {
                const size_t first = index * per_pass;
                if (!run_pass(columns, rounds, seed, first, std::min(per_pass, rounds - first), cancelled,
                              means.data())) {
                    stopped.store(true, std::memory_order_relaxed);
                }
            }
            return end - start;
        },
        waiter);
    if (stopped.load(std::memory_order_relaxed)) return std::nullopt;
    return means;
}

}  // namespace tallygrams::engine
