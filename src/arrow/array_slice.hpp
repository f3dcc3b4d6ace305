// The structural checks every imported structure passes before anything in
// it is read, and the rows of an array as its consumer sees them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "arrow/c_data_interface.hpp"
#include "arrow/read_error.hpp"

namespace tallygrams::arrow {

// Rows [0, length) of an array: physical row `offset + i` of its buffers,
// and null also where an enclosing struct's validity bitmap says so.
struct ArraySlice {
    const ArrowArray* array = nullptr;
    // The array's own offset, plus an enclosing struct's offset: a struct's
    // offset applies to its children as well.
    int64_t offset = 0;
    int64_t length = 0;
    // The enclosing struct's validity bitmap, or null, and the bit of row 0.
    const uint8_t* outer_validity = nullptr;
    int64_t outer_bit = 0;
};

// Offsets and lengths are bounded well inside the address space, so that no
// index or byte position computed from them can overflow: an array that long
// cannot exist in memory anyway.
inline constexpr int64_t kMaxRows = int64_t{1} << 56;

// A schema node: not released, with a format and a consistent child list.
ReadStatus check_schema_node(const ArrowSchema& schema);

// An array's shape, before its type is looked at: not released, length and
// offset non-negative and within kMaxRows together, a null count of -1
// (unknown) or within the length, buffer and child lists present when their
// counts are not 0, and no dictionary.
ReadStatus check_array_shape(const ArrowArray& array);

// How many buffers an array of some type has: exactly `min` for most types,
// more for the view types, which end with a variable number of data buffers.
struct BufferCount {
    int64_t min;
    int64_t max;
};

// As many buffers and children as the type requires.
ReadStatus check_array_layout(const ArrowArray& array, BufferCount buffers, int64_t n_children);

// True when `bytes` bytes from `start` do not run past the end of the
// address space, so that pointer arithmetic within them is defined.
inline bool fits_in_address_space(const void* start, uint64_t bytes) noexcept {
    return bytes <= UINTPTR_MAX - reinterpret_cast<uintptr_t>(start);
}

// The rows of a whole (header-checked) array.
inline ArraySlice whole_array(const ArrowArray& array) noexcept { return {&array, array.offset, array.length}; }

}  // namespace tallygrams::arrow
