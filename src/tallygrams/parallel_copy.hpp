// Copying many byte ranges with the help of whichever pool workers are idle.
//
// The calling thread copies too and never waits for a worker to become
// free: work is handed out in chunks from a shared counter, and the caller
// waits only for chunks already being copied. So a pool busy with someone
// else's batch costs nothing but the help it cannot give.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "common/arithmetic.hpp"
#include "engine/pool/worker_pool.hpp"

namespace tallygrams::batch {

// `size` bytes from `source` to `destination`; both valid, size above 0.
struct CopyItem {
    const char* source;
    char* destination;
    size_t size;
};

// Up to this many items, one thread copies alone: helpers would not pay.
inline constexpr size_t kItemsCopiedAlone = 512;

namespace detail {

class SharedCopy {
public:
    static constexpr size_t kChunkItems = kItemsCopiedAlone;

    explicit SharedCopy(std::vector<CopyItem> items)
        : items_(std::move(items)), chunks_(ceil_div(items_.size(), kChunkItems)) {}

    size_t chunks() const noexcept { return chunks_; }

    // Copies chunks until none is left unclaimed.
    void copy_some() noexcept {
        for (;;) {
            const size_t chunk = next_.fetch_add(1, std::memory_order_relaxed);
            if (chunk >= chunks_) return;
            const size_t end = std::min(items_.size(), (chunk + 1) * kChunkItems);
            for (size_t i = chunk * kChunkItems; i < end; ++i) {
                std::memcpy(items_[i].destination, items_[i].source, items_[i].size);
            }
        }
    }

    // Workers announce themselves before claiming any chunk, so that once
    // every chunk is claimed, `active` counts every copy still in flight
    // (and perhaps a helper about to find nothing left, a short wait).
    void help() noexcept {
        active_.fetch_add(1, std::memory_order_seq_cst);
        copy_some();
        if (active_.fetch_sub(1, std::memory_order_release) == 1) active_.notify_all();
    }

    void wait_for_helpers() noexcept {
        for (int seen = active_.load(std::memory_order_acquire); seen != 0; seen = active_.load(std::memory_order_acquire)) {
            active_.wait(seen, std::memory_order_acquire);
        }
    }

private:
    std::vector<CopyItem> items_;
    size_t chunks_;
    std::atomic<size_t> next_{0};
    std::atomic<int> active_{0};
};

// Shares ownership of the copy, so a helper that starts only after the copy
// is complete finds nothing to do and touches nothing freed.
class CopyHelpJob final : public engine::Job {
public:
    explicit CopyHelpJob(std::shared_ptr<SharedCopy> copy) : copy_(std::move(copy)) {}
    void run(size_t /*executing_worker*/) noexcept override {
        copy_->help();
        delete this;
    }

private:
    std::shared_ptr<SharedCopy> copy_;
};

}  // namespace detail

// Copies every item; returns when all bytes are in place. With no pool,
// or a single chunk, the calling thread copies alone.
inline void copy_in_parallel(std::vector<CopyItem> items, engine::WorkerPool* pool) {
    if (pool == nullptr || items.size() <= kItemsCopiedAlone) {
        for (const CopyItem& item : items) std::memcpy(item.destination, item.source, item.size);
        return;
    }
    auto copy = std::make_shared<detail::SharedCopy>(std::move(items));
    // More than one chunk here: the caller takes one, helpers the others.
    const size_t helpers = std::min(pool->worker_count(), copy->chunks() - 1);
    for (size_t i = 0; i < helpers; ++i) pool->submit(new detail::CopyHelpJob(copy));
    copy->copy_some();
    copy->wait_for_helpers();
}

}  // namespace tallygrams::batch
