// An array of owned UTF-8 strings: the native copy of one batch argument,
// holding no Python reference, so it can be scored with the lock released.
//
// Strings are packed back to back into a few large blocks instead of one
// allocation each: that costs 16 bytes of header per string and keeps the
// copy fast. A block is freed as soon as every string in it has been
// released, so the batch's input memory shrinks while it is being scored.
//
// The copy runs on the calling thread while the pool's workers wait, and on
// a large batch much of its time goes to the system mapping in fresh pages.
// Given a pool, the array keeps up to two full-size blocks ready ahead of
// need and has workers fault their pages in while the caller fills the
// current one. Two keep a fast copy fed on any machine, and the bound holds
// whatever the number of workers: spare memory never exceeds 4 MiB.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "engine/pool/worker_pool.hpp"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it, which is harmless
#endif

namespace tallygrams::batch {

namespace detail {

// Faults in the pages of a block on a worker. It shares ownership of the
// block, so the memory outlives the job whatever happens to the array, and
// it deletes itself when done. Populating never changes the contents, so
// the caller may already be writing into the block meanwhile.
class PageWarmingJob final : public engine::Job {
public:
    PageWarmingJob(std::shared_ptr<char[]> memory, size_t size) : memory_(std::move(memory)), size_(size) {}

    void run(size_t /*executing_worker*/) noexcept override {
        const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        const auto start = reinterpret_cast<uintptr_t>(memory_.get());
        const uintptr_t first = (start + page - 1) & ~(page - 1);
        const uintptr_t last = (start + size_) & ~(page - 1);
        if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
        delete this;
    }

private:
    std::shared_ptr<char[]> memory_;
    size_t size_;
};

// Full-size blocks are mapped directly rather than taken from the heap: the
// allocator would otherwise keep freed blocks for reuse, and the input's
// memory would not shrink while the batch is scored.
inline std::shared_ptr<char[]> new_block(size_t size) {
    if (size >= 1024 * 1024) {
        void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped != MAP_FAILED) {
            return std::shared_ptr<char[]>(static_cast<char*>(mapped), [size](char* bytes) { ::munmap(bytes, size); });
        }
    }
    return std::make_shared_for_overwrite<char[]>(size);
}

}  // namespace detail


class OwnedStrings {
public:
    OwnedStrings() = default;
    OwnedStrings(OwnedStrings&&) noexcept = default;
    OwnedStrings& operator=(OwnedStrings&&) noexcept = default;

    // Only a hint: appending beyond it grows the array.
    void reserve(size_t count) { entries_.reserve(count); }

    // Lets `pool` warm up blocks ahead of appends; with null, stops that and
    // gives back the blocks not used (a job still warming one keeps it
    // until it finishes).
    void warm_pages_with(engine::WorkerPool* pool) noexcept {
        warming_pool_ = pool;
        if (pool == nullptr) spares_.clear();
    }

    // Adds a string of `size` bytes and returns where they go; the caller
    // writes them before anyone reads the string.
    char* append_uninitialized(size_t size) {
        if (size == 0) {
            entries_.push_back({nullptr, 0});
            return nullptr;
        }
        Block& block = block_with_room(size);
        char* destination = block.bytes.get() + block.used;
        block.used += size;
        total_bytes_ += size;
        block.live.fetch_add(1, std::memory_order_relaxed);
        entries_.push_back({destination, size});
        return destination;
    }

    // Copies `bytes` in.
    void append(std::string_view bytes) {
        if (char* destination = append_uninitialized(bytes.size())) {
            std::memcpy(destination, bytes.data(), bytes.size());
        }
    }

    size_t size() const noexcept { return entries_.size(); }

    // Bytes of all strings appended, released or not.
    size_t total_bytes() const noexcept { return total_bytes_; }

    // Valid until string i is released.
    std::string_view view(size_t i) const noexcept { return {entries_[i].data, entries_[i].length}; }

    // Gives up string i; its block is freed with its last string. Distinct
    // strings may be released from different threads at the same time.
    void release(size_t i) noexcept {
        if (entries_[i].length == 0) return;
        // The last block whose first string is at or before i.
        const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), i,
                                            [](size_t index, const auto& block) { return index < block->first_index; });
        Block& block = **(after - 1);
        if (block.live.fetch_sub(1, std::memory_order_acq_rel) == 1) block.bytes.reset();
    }

    // The block accounting, for tests: bytes in blocks that hold strings
    // and are still allocated, and the most bytes ever held in spare blocks
    // at once.
    size_t allocated_bytes() const noexcept {
        size_t total = 0;
        for (const auto& block : blocks_) total += block->bytes ? block->capacity : 0;
        return total;
    }
    size_t peak_spare_bytes() const noexcept { return peak_spare_bytes_; }

    static constexpr size_t kLargestBlockBytes = 2 * 1024 * 1024;
    static constexpr size_t kMaxSpareBlocks = 2;

private:
    struct Entry {
        const char* data;
        uint64_t length;
    };
    struct Block {
        std::shared_ptr<char[]> bytes;
        size_t capacity = 0;
        size_t used = 0;
        size_t first_index = 0;  // of the first string in the block
        std::atomic<size_t> live{0};
    };

    static constexpr size_t kFirstBlockBytes = 4 * 1024;

    Block& block_with_room(size_t needed) {
        if (!blocks_.empty()) {
            Block& last = *blocks_.back();
            if (last.capacity - last.used >= needed) return last;
        }
        // Blocks double up to a ceiling, so small batches stay small; a
        // string larger than that gets a block of its own size.
        const size_t previous = blocks_.empty() ? kFirstBlockBytes / 2 : blocks_.back()->capacity;
        const size_t capacity = std::max(needed, std::min(previous * 2, kLargestBlockBytes));
        auto block = std::make_unique<Block>();
        if (capacity == kLargestBlockBytes && !spares_.empty()) {
            block->bytes = std::move(spares_.front());
            spares_.erase(spares_.begin());
        } else {
            block->bytes = detail::new_block(capacity);
        }
        block->capacity = capacity;
        block->first_index = entries_.size();
        blocks_.push_back(std::move(block));
        // Blocks ahead of the copy, each warmed by a worker meanwhile. One
        // warms about as fast as this thread fills one; the second absorbs a
        // worker that starts late.
        while (capacity == kLargestBlockBytes && warming_pool_ != nullptr &&
               spares_.size() < std::min(warming_pool_->worker_count(), kMaxSpareBlocks)) {
            spares_.push_back(detail::new_block(kLargestBlockBytes));
            warming_pool_->submit(new detail::PageWarmingJob(spares_.back(), kLargestBlockBytes));
        }
        peak_spare_bytes_ = std::max(peak_spare_bytes_, spares_.size() * kLargestBlockBytes);
        return *blocks_.back();
    }

    std::vector<Entry> entries_;
    std::vector<std::unique_ptr<Block>> blocks_;
    std::vector<std::shared_ptr<char[]>> spares_;  // the next full-size blocks, being warmed
    engine::WorkerPool* warming_pool_ = nullptr;
    size_t total_bytes_ = 0;
    size_t peak_spare_bytes_ = 0;
};

}  // namespace tallygrams::batch
