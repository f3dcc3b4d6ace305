// How a resample's draws are organised: the pairs are cut into blocks of a
// power-of-two size, and each resample draws from several substreams.
//
// Substream 0 of a resample decides how many of its n draws land in each block;
// substream 1 + b then places block b's share on the pairs of block b. The block
// size is therefore part of what a seed means: the same seed with another
// block size gives another (equally valid) resample.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "common/arithmetic.hpp"

namespace tallygrams::engine {

// 2048 pairs: nine columns of a block (144 KiB) stay in a core's L2 cache
// while all the resamples of a pass visit it.
inline constexpr unsigned kDefaultBlockShift = 11;
inline constexpr unsigned kMaxBlockShift = 20;

class BlockLayout {
public:
    BlockLayout(size_t pairs, unsigned block_shift) noexcept
        : pairs_(pairs), shift_(block_shift), count_(ceil_div(pairs, size_t{1} << block_shift)) {}

    size_t pairs() const noexcept { return pairs_; }
    unsigned shift() const noexcept { return shift_; }
    size_t block_pairs() const noexcept { return size_t{1} << shift_; }
    size_t block_count() const noexcept { return count_; }

    size_t begin(size_t block) const noexcept { return block << shift_; }
    size_t size(size_t block) const noexcept { return std::min(pairs_ - begin(block), block_pairs()); }

private:
    size_t pairs_;
    unsigned shift_;
    size_t count_;
};

// The substreams of a resample.
inline constexpr uint64_t kBlockTotalsSubstream = 0;
constexpr uint64_t block_counts_substream(size_t block) noexcept { return 1 + static_cast<uint64_t>(block); }

}  // namespace tallygrams::engine
