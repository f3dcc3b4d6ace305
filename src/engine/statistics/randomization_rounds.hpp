// The rounds of the paired approximate randomisation test (E. W. Noreen,
// "Computer-Intensive Methods for Testing Hypotheses", Wiley 1989; S. Riezler
// and J. T. Maxwell, "On some pitfalls in automatic evaluation and
// significance testing for MT", ACL 2005 workshop).
//
// A round swaps each pair's two scores with probability 1/2. Swapping
// negates the pair's difference d_i = system_i - baseline_i, so a round's
// difference of the means is the mean of the d_i with random signs. How the
// signs are drawn and the sums added is set out in README.md beside this
// file; like the bootstrap's, the result depends on the seed alone.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/interruption.hpp"
#include "engine/pool/worker_pool.hpp"
#include "engine/statistics/bootstrap.hpp"
#include "engine/statistics/random_stream.hpp"

namespace tallygrams::engine {

// Rows per block of the sums: 32 words of signs. Part of what a seed means.
inline constexpr unsigned kSignBlockShift = 11;
inline constexpr size_t kSignBlockRows = size_t{1} << kSignBlockShift;
inline constexpr size_t kSignWordsPerBlock = kSignBlockRows / 64;

// The substream of a resample's stream that holds a round's signs: far past
// any block's substream, so that it is no stream the bootstrap draws from.
inline constexpr uint64_t kSignSubstream = ~uint64_t{0};

// The key of the stream whose word w gives round `round`'s signs of rows
// 64 w to 64 w + 63 (bit j for row 64 w + j; a set bit swaps the pair).
constexpr uint64_t sign_stream_key(uint64_t seed, uint64_t round) noexcept {
    return substream_key(resample_key(seed, round), kSignSubstream);
}

// Each round's mean of every column under its signs, column after column:
// round r's mean of column c at [c * rounds + r]. std::nullopt if
// `cancelled` was set before the end. The columns must be equally long,
// hold between 1 and 2^31 - 1 finite values, and rounds must be at least 1
// (checked by the caller). Must not be called from one of the pool's workers.
std::optional<std::vector<double>> randomization_means(WorkerPool& pool, Columns columns, size_t rounds,
                                                       uint64_t seed, const std::atomic<bool>& cancelled,
                                                       Interruption* waiter = nullptr);

}  // namespace tallygrams::engine
