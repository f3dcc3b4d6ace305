// Drawing how often each pair is chosen by one resample, block by block.
//
// A resample is n independent uniform draws from the n pairs, so the counts
// follow the multinomial distribution. Drawing a pair index and keeping only
// its block gives how many draws fall into each block; given those totals,
// the draws within a block are again independent and uniform over its pairs.
// Drawing in that order (all totals first, then each block's counts while
// the block is in cache) yields exactly the same distribution as drawing the
// n indices directly.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/statistics/bounded_draw.hpp"
#include "engine/statistics/random_stream.hpp"
#include "engine/statistics/resample_blocks.hpp"

namespace tallygrams::engine {

// Between two looks at the cancellation flag: well under a millisecond.
inline constexpr size_t kDrawsBetweenPolls = size_t{1} << 16;

// Sets totals[b] (block_count of them) to the number of the resample's n
// draws that fall into block b; `resample_key` is the resample's own key,
// from which every stream of its draws derives. Returns false, leaving the totals partial, if
// `cancelled` was set meanwhile. The pair count must be below 2^31.
inline bool draw_block_totals(uint64_t resample_key, const BlockLayout& layout, uint32_t* totals,
                              const std::atomic<bool>& cancelled) noexcept {
    std::fill(totals, totals + layout.block_count(), 0u);
    Draws32 stream(substream_key(resample_key, kBlockTotalsSubstream));
    const BoundedDraw pick(static_cast<uint32_t>(layout.pairs()));
    const unsigned shift = layout.shift();
    for (size_t done = 0; done < layout.pairs();) {
        if (cancelled.load(std::memory_order_relaxed)) return false;
        const size_t end = std::min(layout.pairs(), done + kDrawsBetweenPolls);
        for (; done < end; ++done) ++totals[pick(stream) >> shift];
    }
    return true;
}

// Adds to counts[i * stride] how often the resample picks pair i of `block`,
// given that `total` of its draws fall into the block.
inline void draw_block_counts(uint64_t resample_key, const BlockLayout& layout, size_t block, uint32_t total,
                              int32_t* counts, size_t stride) noexcept {
    Draws32 stream(substream_key(resample_key, block_counts_substream(block)));
    const BoundedDraw pick(static_cast<uint32_t>(layout.size(block)));
    for (uint32_t i = 0; i < total; ++i) ++counts[size_t{pick(stream)} * stride];
}

}  // namespace tallygrams::engine
