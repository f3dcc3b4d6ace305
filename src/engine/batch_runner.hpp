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

#include "engine/owned_strings.hpp"
#include "engine/range_runner.hpp"
#include "engine/worker_pool.hpp"
#include "common/allocation_failure.hpp"
#include "common/internal_failure.hpp"
#include "scorer/pair_scorer.hpp"

namespace tallygrams::engine {

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

// Columns of doubles, all of the batch's length. With the default nine,
// column k holds value k of each pair's record (score_batch_flat); other
// writers fill columns of their own layout through column().
class ColumnOutput {
public:
    static constexpr size_t kColumnCount = 9;  // the values of one PairScores
    struct FreeColumn {
        void operator()(double* values) const noexcept { std::free(values); }
    };
    // Owned memory from calloc, released with std::free.
    using Column = std::unique_ptr<double[], FreeColumn>;

    // Zero-filled at their final length; nothing is allocated for 0 pairs.
    // calloc hands out large columns as fresh zero pages, so they are not
    // written here on the calling thread but first touched by the workers
    // that fill them, in parallel. A column that cannot be had is an
    // AllocationFailure, like any other memory the module cannot get.
    explicit ColumnOutput(size_t length, size_t columns = kColumnCount) : columns_(columns), length_(length) {
        if (length == 0) return;
        for (Column& column : columns_) {
            column.reset(static_cast<double*>(std::calloc(length, sizeof(double))));
            if (!column) throw AllocationFailure(length * sizeof(double));
        }
    }

    size_t capacity() const noexcept { return length_; }
    size_t column_count() const noexcept { return columns_.size(); }
    void write(size_t i, const scorer::PairScores& scores) noexcept {
        const double* values = &scores.rouge1.precision;
        for (size_t k = 0; k < kColumnCount; ++k) columns_[k][i] = values[k];
    }
    void set_length(size_t /*written*/) noexcept {}

    size_t length() const noexcept { return length_; }
    double* column(size_t k) noexcept { return columns_[k].get(); }
    // Hands column k to its new owner.
    Column take_column(size_t k) noexcept { return std::move(columns_[k]); }

private:
    std::vector<Column> columns_;
    size_t length_;
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
void run_batch(WorkerPool& pool, OwnedStrings& references, OwnedStrings& predictions, Output& output,
               const Scorer& score = Scorer{}) {
    const size_t n = references.size();
    ensure(predictions.size() == n, "reference and prediction arrays differ in length");
    ensure(output.capacity() >= n, "output has no room for every pair");
    const auto leaf = [&](size_t start, size_t end) {
        return detail::score_leaf(references, predictions, output, score, start, end);
    };
    const bool small = references.total_bytes() + predictions.total_bytes() < kInlineBatchBytes;
    const size_t written = small ? leaf(0, n) : run_ranges(pool, n, leaf);
    if (written != n) {
        fail_internally("expected " + std::to_string(n) + " total writes, but got " + std::to_string(written));
    }
    output.set_length(written);
}

}  // namespace tallygrams::engine
