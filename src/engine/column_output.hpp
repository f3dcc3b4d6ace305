// The nine score columns of a batch (score_batch_flat, score_arrow and the
// companion's column results), written by the workers that score the pairs.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/allocation_failure.hpp"
#include "scorer/pair_scorer.hpp"

namespace tallygrams::engine {

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

}  // namespace tallygrams::engine
