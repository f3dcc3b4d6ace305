// Stopping a run from the thread that waits for it.
//
// A thread outside the pool blocks while the pool runs its job. With an
// Interruption, it wakes every `interval` meanwhile and calls `poll` (the
// Python boundary uses this to look at the interpreter's signals: Ctrl-C).
// Once poll returns true the run is stopped: stopped() turns true, work that
// checks it between items ends early, and the waiter goes on waiting for the
// job to finish, which it now does soon. Nothing about the pool changes: the
// job ends like any other, and the next run starts afresh.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <utility>

namespace tallygrams::engine {

class Interruption {
public:
    explicit Interruption(std::function<bool()> poll,
                          std::chrono::milliseconds interval = std::chrono::milliseconds(20))
        : poll_(std::move(poll)), interval_(interval) {}

    // For the work: true once the run has been stopped.
    bool stopped() const noexcept { return stopped_.load(std::memory_order_relaxed); }
    // The same, as a flag for code that takes one.
    const std::atomic<bool>& flag() const noexcept { return stopped_; }

    // For the waiting thread: asks `poll`, unless the run is stopped already.
    void poll() {
        if (!stopped() && poll_()) stopped_.store(true, std::memory_order_relaxed);
    }
    std::chrono::milliseconds interval() const noexcept { return interval_; }

private:
    std::function<bool()> poll_;
    std::chrono::milliseconds interval_;
    std::atomic<bool> stopped_{false};
};

}  // namespace tallygrams::engine
