// Scores every index-aligned pair of a batch on the worker pool
// (range_runner.hpp): each leaf scores its own contiguous range and writes
// pair i to slot i of an output sized before the run, so results come back
// in input order without any locking. Each pair's strings are released as
// soon as the pair is scored.
//
// A small batch is scored on the calling thread instead: handing it to the
// pool (waking workers, splitting, waiting) would cost more than the
// workers could save. What decides is the batch's total text, since a pair
// costs time roughly in proportion to its bytes. Either way each pair is
// scored by the same function, alone, so results never depend on where.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tallygrams/owned_strings.hpp"
#include "engine/column_output.hpp"
#include "engine/range_runner.hpp"
#include "engine/pool/worker_pool.hpp"
#include "common/allocation_failure.hpp"
#include "common/internal_failure.hpp"
#include "scorer/pair_scorer.hpp"

namespace tallygrams::batch {

// One PairScores record per pair (score_batch). A few records live in the
// object itself, so that a call with a handful of pairs allocates nothing
// for them.
class RecordOutput {
public:
    explicit RecordOutput(size_t capacity)
        : heap_(capacity <= kInline ? nullptr : std::make_unique<scorer::PairScores[]>(capacity)),
          capacity_(capacity) {}
    RecordOutput(RecordOutput&& other) noexcept
        : heap_(std::move(other.heap_)), capacity_(other.capacity_), length_(other.length_) {
        std::copy_n(other.inline_, kInline, inline_);
    }
    RecordOutput& operator=(RecordOutput&&) = delete;

    size_t capacity() const noexcept { return capacity_; }
    void write(size_t i, const scorer::PairScores& scores) noexcept { records()[i] = scores; }

    // Called once after the run with the total number of records written.
    void set_length(size_t length) noexcept { length_ = length; }
    size_t length() const noexcept { return length_; }
    const scorer::PairScores& operator[](size_t i) const noexcept { return records()[i]; }

private:
    static constexpr size_t kInline = 4;

    scorer::PairScores* records() noexcept { return heap_ ? heap_.get() : inline_; }
    const scorer::PairScores* records() const noexcept { return heap_ ? heap_.get() : inline_; }

    std::unique_ptr<scorer::PairScores[]> heap_;
    scorer::PairScores inline_[kInline];
    size_t capacity_;
    size_t length_ = 0;
};

// The scoring function of a leaf; tests substitute their own to inject
// failures at a chosen pair.
struct ScorePair {
    scorer::PairScores operator()(std::string_view reference, std::string_view prediction) const {
        return scorer::score_pair(reference, prediction);
    }
};

namespace detail {

template <class Output, class Scorer>
size_t score_leaf(OwnedStrings& references, OwnedStrings& predictions, Output& output, const Scorer& score,
                  size_t start, size_t end) {
    ensure(end <= references.size() && end <= predictions.size() && end <= output.capacity(),
           "leaf range exceeds the arrays it covers");
    for (size_t i = start; i < end; ++i) {
        output.write(i, score(references.view(i), predictions.view(i)));
        references.release(i);
        predictions.release(i);
    }
    return end - start;
}

}  // namespace detail

// Batches with fewer bytes of text than this (both sides together) are
// scored on the calling thread: about 40 summary pairs, some 30 microseconds
// of scoring, which is where two workers start to finish sooner than one
// thread even when they have to be woken first.
inline constexpr size_t kInlineBatchBytes = 32 * 1024;

// Scores pair i (references[i] against predictions[i]) into output slot i for
// every i. Both arrays must have the same length; their strings are released
// as they are scored. Batches of fewer than 2 pairs or kInlineBatchBytes run
// on the calling thread. Must not be called from one of the pool's workers.
template <class Output, class Scorer = ScorePair>
void run_batch(engine::WorkerPool& pool, OwnedStrings& references, OwnedStrings& predictions, Output& output,
               const Scorer& score = Scorer{}) {
    const size_t n = references.size();
    ensure(predictions.size() == n, "reference and prediction arrays differ in length");
    ensure(output.capacity() >= n, "output has no room for every pair");
    const auto leaf = [&](size_t start, size_t end) {
        return detail::score_leaf(references, predictions, output, score, start, end);
    };
    const bool small = references.total_bytes() + predictions.total_bytes() < kInlineBatchBytes;
    const size_t written = small ? leaf(0, n) : engine::run_ranges(pool, n, leaf);
    if (written != n) {
        fail_internally("expected " + std::to_string(n) + " total writes, but got " + std::to_string(written));
    }
    output.set_length(written);
}

}  // namespace tallygrams::batch
