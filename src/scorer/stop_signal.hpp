// Abandoning one long pair part-way. The work of a pair grows with the
// product of its two texts' lengths, so two texts of 250,000 tokens take
// seconds; whoever waits for it (Ctrl-C at the Python boundary) must not
// wait for all of it.
//
// A StopSignal looks at a flag that another thread may set. The quadratic
// loops check it now and then, between blocks of rows, a relaxed load far
// apart from their hot paths; once it is set, check() unwinds the pair's
// work as PairAbandoned (its arena scopes release what it took), and the
// caller, which asked for this by handing in the flag, catches it and
// treats the pair as not scored. A default StopSignal never stops.
#pragma once

#include <atomic>

namespace tallygrams::scorer {

// Thrown by StopSignal::check(); not a failure.
struct PairAbandoned {};

class StopSignal {
public:
    constexpr StopSignal() noexcept = default;
    explicit StopSignal(const std::atomic<bool>& stop) noexcept : stop_(&stop) {}

    bool requested() const noexcept { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }
    void check() const {
        if (requested()) throw PairAbandoned{};
    }

private:
    const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace tallygrams::scorer
