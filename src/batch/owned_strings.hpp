// An array of owned UTF-8 strings: the native copy of one batch argument,
// holding no Python reference, so it can be scored with the lock released.
//
// Strings are packed back to back into a few large blocks instead of one
// allocation each: that costs 16 bytes of header per string and keeps the
// copy fast. A block is freed as soon as every string in it has been
// released, so the batch's input memory shrinks while it is being scored.
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

namespace tallygrams::batch {

namespace detail {

// Memory for one block of string bytes. Blocks of the largest size are
// mapped 2 MiB-aligned and marked for transparent huge pages: the copy runs
// on the calling thread while the workers wait, and faulting in fresh memory
// one 4 KiB page at a time costs more than copying into it. Smaller blocks,
// and any mapping the system refuses, come from the heap.
class BlockMemory {
public:
    static constexpr size_t kHugePage = 2 * 1024 * 1024;

    BlockMemory() = default;
    explicit BlockMemory(size_t size) : size_(size) {
        if (size % kHugePage == 0 && map_huge(size)) return;
        bytes_ = new char[size];
    }
    BlockMemory(BlockMemory&& other) noexcept
        : bytes_(std::exchange(other.bytes_, nullptr)), size_(other.size_), mapped_(other.mapped_) {}
    BlockMemory& operator=(BlockMemory&& other) noexcept {
        if (this != &other) {
            release();
            bytes_ = std::exchange(other.bytes_, nullptr);
            size_ = other.size_;
            mapped_ = other.mapped_;
        }
        return *this;
    }
    ~BlockMemory() { release(); }

    char* get() const noexcept { return bytes_; }
    explicit operator bool() const noexcept { return bytes_ != nullptr; }
    void release() noexcept {
        if (bytes_ == nullptr) return;
        if (mapped_) {
            ::munmap(bytes_, size_);
        } else {
            delete[] bytes_;
        }
        bytes_ = nullptr;
    }

private:
    bool map_huge(size_t size) noexcept {
        // Over-map by one huge page, then trim to an aligned range.
        void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) return false;
        const auto start = reinterpret_cast<uintptr_t>(raw);
        const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
        if (aligned > start) ::munmap(raw, aligned - start);
        const uintptr_t tail = aligned + size;
        const uintptr_t end = start + size + kHugePage;
        if (end > tail) ::munmap(reinterpret_cast<void*>(tail), end - tail);
        bytes_ = reinterpret_cast<char*>(aligned);
        mapped_ = true;
        ::madvise(bytes_, size, MADV_HUGEPAGE);  // a hint: without it, small pages
        return true;
    }

    char* bytes_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace detail

class OwnedStrings {
public:
    OwnedStrings() = default;
    OwnedStrings(OwnedStrings&&) noexcept = default;
    OwnedStrings& operator=(OwnedStrings&&) noexcept = default;

    // Only a hint: appending beyond it grows the array.
    void reserve(size_t count) { entries_.reserve(count); }

    // Copies `bytes` in.
    void append(std::string_view bytes) {
        if (bytes.empty()) {
            entries_.push_back({nullptr, 0});
            return;
        }
        Block& block = block_with_room(bytes.size());
        char* destination = block.bytes.get() + block.used;
        std::memcpy(destination, bytes.data(), bytes.size());
        block.used += bytes.size();
        block.live.fetch_add(1, std::memory_order_relaxed);
        entries_.push_back({destination, bytes.size()});
    }

    size_t size() const noexcept { return entries_.size(); }

    // Valid until string i is released.
    std::string_view view(size_t i) const noexcept { return {entries_[i].data, entries_[i].length}; }

    // Gives up string i; its block is freed with its last string. Distinct
    // strings may be released from different threads at the same time.
    void release(size_t i) noexcept {
        if (entries_[i].length == 0) return;
        const auto after = std::upper_bound(block_first_index_.begin(), block_first_index_.end(), i);
        Block& block = *blocks_[static_cast<size_t>(after - block_first_index_.begin()) - 1];
        if (block.live.fetch_sub(1, std::memory_order_acq_rel) == 1) block.bytes.release();
    }

    // Bytes held in blocks that are still allocated (for tests).
    size_t allocated_bytes() const noexcept {
        size_t total = 0;
        for (const auto& block : blocks_) total += block->bytes ? block->capacity : 0;
        return total;
    }

private:
    struct Entry {
        const char* data;
        uint64_t length;
    };
    struct Block {
        detail::BlockMemory bytes;
        size_t capacity = 0;
        size_t used = 0;
        std::atomic<size_t> live{0};
    };

    static constexpr size_t kFirstBlockBytes = 4 * 1024;
    static constexpr size_t kLargestBlockBytes = detail::BlockMemory::kHugePage;

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
        block->bytes = detail::BlockMemory(capacity);
        block->capacity = capacity;
        block_first_index_.push_back(entries_.size());
        blocks_.push_back(std::move(block));
        return *blocks_.back();
    }

    std::vector<Entry> entries_;
    std::vector<std::unique_ptr<Block>> blocks_;
    std::vector<size_t> block_first_index_;  // index of the first string of each block
};

}  // namespace tallygrams::batch
