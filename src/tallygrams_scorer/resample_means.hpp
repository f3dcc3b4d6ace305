// The means of bootstrap resamples, summed in exactly the order NumPy's
// `np.mean(matrix[indices, :], axis=0)` sums them, so that the results are
// equal to the last bit: one value after another in draw order when a row
// has two or more values, and NumPy's pairwise summation (blocks of eight
// partial sums) for rows of one value, where the reduced axis is contiguous.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tallygrams::companion {

namespace detail {

// NumPy's pairwise sum of n values `stride` apart.
inline double pairwise_sum(const double* values, const int64_t* indices, size_t n) noexcept {
    if (n < 8) {
        double sum = 0.0;
        for (size_t i = 0; i < n; ++i) sum += values[indices[i]];
        return sum;
    }
    if (n <= 128) {
        double r[8];
        for (size_t j = 0; j < 8; ++j) r[j] = values[indices[j]];
        size_t i = 8;
        for (; i < n - (n % 8); i += 8) {
            for (size_t j = 0; j < 8; ++j) r[j] += values[indices[i + j]];
        }
        double sum = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
        for (; i < n; ++i) sum += values[indices[i]];
        return sum;
    }
    size_t half = n / 2;
    half -= half % 8;
    return pairwise_sum(values, indices, half) + pairwise_sum(values, indices + half, n - half);
}

}  // namespace detail

// `matrix`: rows of `width` values, row-major. `indices`: one resample, the
// drawn row numbers (each below the row count). Writes the resample's mean
// of each of the `width` columns to `means`.
inline void resample_means(std::span<const double> matrix, size_t width, std::span<const int64_t> indices,
                           double* means) noexcept {
    const size_t n = indices.size();
    const auto divisor = static_cast<double>(n);
    if (width == 1) {
        means[0] = detail::pairwise_sum(matrix.data(), indices.data(), n) / divisor;
        return;
    }
    for (size_t k = 0; k < width; ++k) means[k] = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double* row = matrix.data() + static_cast<size_t>(indices[i]) * width;
        for (size_t k = 0; k < width; ++k) means[k] += row[k];
    }
    for (size_t k = 0; k < width; ++k) means[k] /= divisor;
}

}  // namespace tallygrams::companion
