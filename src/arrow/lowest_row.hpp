// The lowest row at which any of several concurrent tasks failed.
//
// Each task scans its own range of rows in order and offers the first row
// that fails there, so the lowest offer is the lowest failing row over the
// whole input, however the rows were split between tasks: the error a batch
// reports does not depend on the number of workers. A task may stop as soon
// as it reaches a row above the lowest one offered so far.
#pragma once

#include <atomic>
#include <cstddef>
#include <limits>
#include <optional>

namespace tallygrams::arrow {

class LowestRow {
public:
    void offer(size_t row) noexcept {
        size_t current = row_.load(std::memory_order_relaxed);
        while (row < current && !row_.compare_exchange_weak(current, row, std::memory_order_relaxed)) {
        }
    }

    // True when some task has failed below `row`: work at `row` and above is
    // wasted.
    bool failed_below(size_t row) const noexcept { return row_.load(std::memory_order_relaxed) < row; }

    // Read after every task has finished (the pool's join orders it after
    // their offers).
    std::optional<size_t> lowest() const noexcept {
        const size_t row = row_.load(std::memory_order_relaxed);
        if (row == kNone) return std::nullopt;
        return row;
    }

private:
    static constexpr size_t kNone = std::numeric_limits<size_t>::max();
    std::atomic<size_t> row_{kNone};
};

}  // namespace tallygrams::arrow
