// The random streams of the bootstrap: SplitMix64 sequences keyed by hashes.
//
// Generator: SplitMix64 (G. L. Steele, D. Lea, C. H. Flood, "Fast splittable
// pseudorandom number generators", OOPSLA 2014), with the output mix of
// D. Stafford's "Better bit mixing" (2011), variant 13. Word j of the stream
// with key K is mix64(K + (j + 1) * gamma): a counter run through a strong
// 64-bit bijection. It needs no state beyond a counter, costs two multiplies
// per 64 bits, and passes BigCrush.
//
// Every stream is named by a path of indices, and each step of the path is
// one word of the parent stream: the key of resample r is word r of the
// stream keyed by mix64(seed), and substream p of that resample has as key word p
// of the resample's stream. So any substream of any resample can start on any
// thread without drawing what comes before it. Streams with different keys
// start at unrelated points of the 2^64-long sequence: the chance that two
// streams of a run share a word is about (streams x words drawn) / 2^64,
// below 10^-4 for a million pairs and a thousand resamples.
#pragma once

#include <cstdint>

#include "common/bits.hpp"

namespace tallygrams::engine {

// The odd constant by which SplitMix64 advances: 2^64 divided by the golden ratio.
inline constexpr uint64_t kSplitMixGamma = 0x9e3779b97f4a7c15u;

// Word `index` (from 0) of the SplitMix64 stream keyed by `key`.
constexpr uint64_t splitmix_word(uint64_t key, uint64_t index) noexcept {
    return mix64(key + (index + 1) * kSplitMixGamma);
}

// The key of resample `resample` of a run seeded with `seed`.
constexpr uint64_t resample_key(uint64_t seed, uint64_t resample) noexcept {
    return splitmix_word(mix64(seed), resample);
}

// The key of substream `substream` of the resample keyed by `resample_key`.
constexpr uint64_t substream_key(uint64_t resample_key, uint64_t substream) noexcept {
    return splitmix_word(resample_key, substream);
}

// 32-bit draws from one stream: the low half of each word, then its high half.
class Draws32 {
public:
    explicit constexpr Draws32(uint64_t key) noexcept : counter_(key) {}

    constexpr uint32_t next() noexcept {
        if (high_pending_) {
            high_pending_ = false;
            return static_cast<uint32_t>(high_);
        }
        counter_ += kSplitMixGamma;
        const uint64_t word = mix64(counter_);
        high_ = word >> 32;
        high_pending_ = true;
        return static_cast<uint32_t>(word);
    }

private:
    uint64_t counter_;
    uint64_t high_ = 0;
    bool high_pending_ = false;
};

}  // namespace tallygrams::engine
