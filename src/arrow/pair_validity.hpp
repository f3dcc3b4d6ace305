// Which pairs of a batch can be scored: a pair whose reference or prediction
// is null gets null scores.
#pragma once

#include <memory>

#include "arrow/text_column.hpp"
#include "arrow/validity_bitmap.hpp"

namespace tallygrams::arrow {

// Row i valid when both columns hold text at row i; null (no bitmap at all)
// when every row does. The columns must have the same length.
std::shared_ptr<const ValidityBitmap> pair_validity(const TextColumn& references, const TextColumn& predictions);

}  // namespace tallygrams::arrow
