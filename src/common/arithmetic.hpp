// Small integer helpers shared by every layer.
#pragma once

#include <cstddef>

namespace tallygrams {

// The number of `divisor`-sized pieces that cover `value`: value / divisor,
// rounded up. `divisor` must not be 0.
constexpr size_t ceil_div(size_t value, size_t divisor) noexcept { return value / divisor + (value % divisor != 0); }

// `value` rounded up to a multiple of `multiple` (not 0).
constexpr size_t round_up(size_t value, size_t multiple) noexcept { return ceil_div(value, multiple) * multiple; }

}  // namespace tallygrams
