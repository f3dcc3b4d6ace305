// One block's sums of several columns under one round's random signs: the
// inner loop of the approximate randomisation test.
//
// Row i of the block is negated when bit i % 64 of signs[i / 64] is set.
// Each column's block sum is defined as four lanes, lane l adding the signed
// values of rows l, l + 4, l + 8, ... in row order from +0.0, combined as
// (lane 0 + lane 1) + (lane 2 + lane 3). That is exactly what one AVX2
// register per column computes, and what the portable kernel spells out
// lane by lane, so the two give the same bits and the machine never changes
// a result.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallygrams::engine {

inline constexpr size_t kSignLanes = 4;

// sums[c] for each of the `column_count` columns, whose block starts at
// columns[c] and holds `size` values. Chooses the AVX2 kernel where the
// processor has it.
void signed_block_sums(const double* const* columns, size_t column_count, size_t size, const uint64_t* signs,
                       double* sums) noexcept;

// The two kernels, for the tests that hold them to each other.
void signed_block_sums_portable(const double* const* columns, size_t column_count, size_t size,
                                const uint64_t* signs, double* sums) noexcept;
// Only where the processor has AVX2.
void signed_block_sums_avx2(const double* const* columns, size_t column_count, size_t size, const uint64_t* signs,
                            double* sums) noexcept;
bool signed_block_sums_have_avx2() noexcept;

}  // namespace tallygrams::engine
