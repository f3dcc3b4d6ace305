// Runs work over the index range [0, n) on the worker pool.
//
// The range is split in halves with fork_join, about log2(T) times along
// each path (more where work has moved between workers, which means some
// worker ran dry); each piece that is not split further is handed to the
// leaf, leaf(start, end), which returns how many items it finished. Leaves
// get disjoint ranges, so whatever they write by index needs no locking.
#pragma once

#include <algorithm>
#include <cstddef>

#include "common/internal_failure.hpp"
#include "engine/interruption.hpp"
#include "engine/pool/worker_pool.hpp"

namespace tallygrams::engine {

namespace detail {

class SplitBudget {
public:
    explicit SplitBudget(size_t workers) : splits_(workers), workers_(workers) {}

    bool try_split(bool migrated) noexcept {
        if (migrated) {
            splits_ = std::max(splits_ / 2, workers_);
            return true;
        }
        if (splits_ > 0) {
            splits_ /= 2;
            return true;
        }
        return false;
    }

private:
    size_t splits_;
    size_t workers_;
};

template <class Leaf>
size_t run_range(WorkerPool& pool, const Leaf& leaf, size_t start, size_t end, SplitBudget budget, bool migrated) {
    const size_t length = end - start;
    if (length < 2 || !budget.try_split(migrated)) return leaf(start, end);
    const size_t middle = start + length / 2;
    size_t left_done = 0;
    size_t right_done = 0;
    pool.fork_join([&](bool moved) { left_done = run_range(pool, leaf, start, middle, budget, moved); },
                   [&](bool moved) { right_done = run_range(pool, leaf, middle, end, budget, moved); });
    return left_done + right_done;
}

}  // namespace detail

// Calls leaf(start, end) for pieces covering [0, n) exactly once, in
// parallel, and returns the sum of the leaves' results. A failure in any
// leaf is rethrown here after every piece has finished. With an
// interruption, the calling thread polls it while it waits; leaves that
// check it stop early (interruption.hpp). Without one, fewer than 2 items
// run on the calling thread; with one, a lone item runs on the pool too, as
// only a thread that waits can poll. Must not be called from one of the
// pool's workers.
template <class Leaf>
size_t run_ranges(WorkerPool& pool, size_t n, const Leaf& leaf, Interruption* interruption = nullptr) {
    if (n == 0 || (n == 1 && interruption == nullptr)) return leaf(0, n);
    size_t done = 0;
    pool.run_and_wait(
        [&] { done = detail::run_range(pool, leaf, 0, n, detail::SplitBudget(pool.worker_count() * 32), false); },
        interruption);
    return done;
}

}  // namespace tallygrams::engine
