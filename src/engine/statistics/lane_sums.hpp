// The weighted sums of one block of a column for several resamples at once.
//
// Lane l holds one resample: its sum runs over the pairs of the block in
// index order, adding count * value, exactly as a loop over that resample
// alone would. Keeping the lanes side by side lets the compiler compute them
// in vector registers without changing any lane's order of additions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallygrams::engine {

// sums[l] = the sum over i in [0, size), in order, of counts[i * kLanes + l] * values[i].
template <size_t kLanes>
inline void lane_sums(const int32_t* counts, const double* values, size_t size, double* sums) noexcept {
    double running[kLanes] = {};
    for (size_t i = 0; i < size; ++i) {
        const double value = values[i];
        const int32_t* row = counts + i * kLanes;
        for (size_t lane = 0; lane < kLanes; ++lane) running[lane] += static_cast<double>(row[lane]) * value;
    }
    for (size_t lane = 0; lane < kLanes; ++lane) sums[lane] = running[lane];
}

}  // namespace tallygrams::engine
