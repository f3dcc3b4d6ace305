// A validity bitmap to export with result columns: bit i set when row i
// holds a value. Immutable once shared, so several columns (and several
// exports of them) can point at the same bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "arrow/owned_buffer.hpp"

namespace tallygrams::arrow {

class ValidityBitmap {
public:
    // Every one of `length` rows valid. The bits are padded with zeros to a
    // multiple of 64 bytes, as the columnar format recommends.
    explicit ValidityBitmap(size_t length);

    // Marks one row null. Not for concurrent use.
    void set_null(size_t row) noexcept;

    size_t length() const noexcept { return length_; }
    size_t null_count() const noexcept { return null_count_; }
    const uint8_t* bits() const noexcept { return static_cast<const uint8_t*>(bits_.data()); }

private:
    OwnedBuffer bits_;
    size_t length_;
    size_t null_count_ = 0;
};

}  // namespace tallygrams::arrow
