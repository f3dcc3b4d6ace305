// The straightforward bootstrap: the same draws and the same order of
// additions as the engine's, written as plain loops over one resample at a
// time, sharing no code with the engine's generator, drawing, lanes or
// passes. The engine must agree with it bit for bit.
//
// For resample r of seed s (all arithmetic modulo 2^64):
//   word j of the stream with key K     = mix(K + (j + 1) * gamma)
//   32-bit draws of a stream            = low half of word 0, high half of word 0, low half of word 1, ...
//   key of resample r                   = word r of the stream with key mix(s)
//   key of substream p of a resample    = word p of the resample's stream
//   a draw below `bound`                = Lemire's method (high half of draw * bound, rejecting
//                                         draws whose low half is below 2^32 mod bound)
//   substream 0: n draws below n, each adding 1 to the total of block (draw >> block_shift)
//   substream 1 + b: block b's total draws below its size, each adding 1 to that pair's count
//   block sum of column c = sum over the block's pairs, in order, from +0.0, of double(count) * value
//   resample mean of c    = (sum over blocks, in order, from +0.0, of the block sums) / n
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tallygrams::straightforward {

struct BootstrapInterval {
    double low;
    double mid;
    double high;
};

class SplitMixStream {
public:
    explicit SplitMixStream(uint64_t key) : key_(key) {}

    static uint64_t mix(uint64_t z) {
        z ^= z >> 30;
        z *= 0xbf58476d1ce4e5b9u;
        z ^= z >> 27;
        z *= 0x94d049bb133111ebu;
        z ^= z >> 31;
        return z;
    }

    uint64_t word(uint64_t index) const { return mix(key_ + (index + 1) * 0x9e3779b97f4a7c15u); }

    uint32_t next_draw() {
        const uint64_t w = word(draws_ / 2);
        const uint32_t draw = draws_ % 2 == 0 ? static_cast<uint32_t>(w) : static_cast<uint32_t>(w >> 32);
        ++draws_;
        return draw;
    }

    // Lemire's method in the paper's own shape.
    uint32_t below(uint32_t bound) {
        uint64_t m = uint64_t{next_draw()} * bound;
        uint32_t l = static_cast<uint32_t>(m);
        if (l < bound) {
            const uint32_t t = static_cast<uint32_t>(-bound) % bound;
            while (l < t) {
                m = uint64_t{next_draw()} * bound;
                l = static_cast<uint32_t>(m);
            }
        }
        return static_cast<uint32_t>(m >> 32);
    }

private:
    uint64_t key_;
    uint64_t draws_ = 0;
};

// means[c][r]: the mean of column c over resample r.
inline std::vector<std::vector<double>> bootstrap_resample_means(const std::vector<std::vector<double>>& columns,
                                                                 size_t resamples, uint64_t seed,
                                                                 unsigned block_shift) {
    const size_t n = columns.at(0).size();
    const size_t block_size = size_t{1} << block_shift;
    const size_t blocks = (n + block_size - 1) / block_size;
    std::vector<std::vector<double>> means(columns.size(), std::vector<double>(resamples));
    const SplitMixStream seeds(SplitMixStream::mix(seed));
    for (size_t r = 0; r < resamples; ++r) {
        const SplitMixStream parts(seeds.word(r));

        std::vector<uint64_t> block_totals(blocks, 0);
        SplitMixStream totals_stream(parts.word(0));
        for (size_t d = 0; d < n; ++d) block_totals[totals_stream.below(static_cast<uint32_t>(n)) >> block_shift] += 1;

        std::vector<double> sums(columns.size(), 0.0);
        for (size_t b = 0; b < blocks; ++b) {
            const size_t first = b * block_size;
            const size_t size = std::min(block_size, n - first);
            std::vector<uint64_t> counts(size, 0);
            SplitMixStream block_stream(parts.word(1 + b));
            for (uint64_t d = 0; d < block_totals[b]; ++d) counts[block_stream.below(static_cast<uint32_t>(size))] += 1;
            for (size_t c = 0; c < columns.size(); ++c) {
                double block_sum = 0.0;
                for (size_t i = 0; i < size; ++i) block_sum += static_cast<double>(counts[i]) * columns[c][first + i];
                sums[c] += block_sum;
            }
        }
        for (size_t c = 0; c < columns.size(); ++c) means[c][r] = sums[c] / static_cast<double>(n);
    }
    return means;
}

inline double linear_percentile(const std::vector<double>& sorted, double q) {
    const double position = static_cast<double>(sorted.size() - 1) * (q / 100);
    const double below = std::floor(position);
    const size_t i = static_cast<size_t>(below);
    const size_t j = std::min(i + 1, sorted.size() - 1);
    const double fraction = position - below;
    const double difference = sorted[j] - sorted[i];
    return fraction >= 0.5 ? sorted[j] - difference * (1 - fraction) : sorted[i] + difference * fraction;
}

inline std::vector<BootstrapInterval> bootstrap_intervals(const std::vector<std::vector<double>>& columns,
                                                          size_t resamples, uint64_t seed, double confidence,
                                                          unsigned block_shift) {
    std::vector<BootstrapInterval> intervals;
    const double tail = (1 - confidence) / 2;
    for (std::vector<double> means : bootstrap_resample_means(columns, resamples, seed, block_shift)) {
        if (std::any_of(means.begin(), means.end(), [](double m) { return std::isnan(m); })) {
            intervals.push_back({NAN, NAN, NAN});
            continue;
        }
        std::sort(means.begin(), means.end());
        intervals.push_back({linear_percentile(means, 100 * tail), linear_percentile(means, 50.0),
                             linear_percentile(means, 100 * (1 - tail))});
    }
    return intervals;
}

}  // namespace tallygrams::straightforward
