#include "arrow/validity_bitmap.hpp"

#include <cstring>

#include "arrow/validity_bits.hpp"
#include "common/arithmetic.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::arrow {

ValidityBitmap::ValidityBitmap(size_t length)
    : bits_(OwnedBuffer::zeroed(round_up(ceil_div(length, 8), 64))), length_(length) {
    auto* bits = static_cast<uint8_t*>(bits_.data());
    if (length == 0) return;
    std::memset(bits, 0xFF, length / 8);
    if (length % 8 != 0) bits[length / 8] = static_cast<uint8_t>((1u << (length % 8)) - 1);
}

void ValidityBitmap::set_null(size_t row) noexcept {
    auto* bits = static_cast<uint8_t*>(bits_.data());
    if (row >= length_ || !bit_is_set(bits, row)) return;
    bits[row >> 3] = static_cast<uint8_t>(bits[row >> 3] & ~(1u << (row & 7)));
    ++null_count_;
}

}  // namespace tallygrams::arrow
