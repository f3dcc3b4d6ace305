// One validated chunk of a text column, reduced to the pointers that reading
// a row needs. Everything here points into the producer's buffers, which the
// column keeps alive; nothing is copied.
//
// The three layouts (see the Arrow columnar format):
//   string        "u"   validity, int32 offsets, data
//   large_string  "U"   validity, int64 offsets, data
//   string_view   "vu"  validity, 16-byte views, data buffers..., and, in
//                       the C interface only, a last buffer of int64 sizes
//                       of the data buffers
// A view holds its length in bytes 0-3; a text of up to 12 bytes follows
// inline in bytes 4-15, a longer one is in data buffer (bytes 8-11) at
// offset (bytes 12-15), with bytes 4-7 a copy of its first four bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "arrow/array_slice.hpp"
#include "arrow/c_data_interface.hpp"
#include "arrow/read_error.hpp"
#include "arrow/validity_bits.hpp"

namespace tallygrams::arrow {

enum class TextType : uint8_t { kString, kLargeString, kStringView };

namespace detail {

// Buffers carry no alignment guarantee we could rely on; a fixed-size copy
// compiles to a plain load.
template <class T>
inline T load(const unsigned char* bytes) noexcept {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

inline constexpr size_t kViewSize = 16;
inline constexpr int32_t kMaxInlineView = 12;

}  // namespace detail

struct TextChunk {
    TextType type = TextType::kString;
    size_t first_row = 0;  // index of the chunk's row 0 in the whole column
    size_t length = 0;
    size_t null_count = 0;
    // Row i is null when either bitmap is present and has bit `*_bit + i`
    // clear.
    const uint8_t* validity = nullptr;
    size_t validity_bit = 0;
    const uint8_t* outer_validity = nullptr;
    size_t outer_bit = 0;
    // Offsets (string, large_string) or views (string_view) of row 0.
    const unsigned char* index = nullptr;
    // string, large_string: the data buffer (null only if every row is empty).
    const char* data = nullptr;
    // string_view: the producer's list of buffers, data buffer k at [2 + k].
    const void* const* view_buffers = nullptr;

    bool is_valid(size_t i) const noexcept {
        return (validity == nullptr || bit_is_set(validity, validity_bit + i)) &&
               (outer_validity == nullptr || bit_is_set(outer_validity, outer_bit + i));
    }

    // The text of row i, which must not be null.
    std::string_view text(size_t i) const noexcept {
        switch (type) {
            case TextType::kString: return offset_text<int32_t>(i);
            case TextType::kLargeString: return offset_text<int64_t>(i);
            case TextType::kStringView: break;
        }
        return view_text(i);
    }

private:
    template <class Offset>
    std::string_view offset_text(size_t i) const noexcept {
        const auto start = detail::load<Offset>(index + i * sizeof(Offset));
        const auto end = detail::load<Offset>(index + (i + 1) * sizeof(Offset));
        if (start == end) return {};
        return {data + start, static_cast<size_t>(end - start)};
    }

    std::string_view view_text(size_t i) const noexcept {
        const unsigned char* view = index + i * detail::kViewSize;
        const auto size = detail::load<int32_t>(view);
        if (size <= detail::kMaxInlineView) return {reinterpret_cast<const char*>(view + 4), static_cast<size_t>(size)};
        const auto buffer = detail::load<int32_t>(view + 8);
        const auto offset = detail::load<int32_t>(view + 12);
        return {static_cast<const char*>(view_buffers[2 + buffer]) + offset, static_cast<size_t>(size)};
    }
};

// The text type of a format string, if it is one.
bool text_type_of(const char* format, TextType& type) noexcept;

// Checks the rows of `slice`, an array of the given text type whose header
// has not been checked yet, and describes them as a chunk whose row 0 is row
// `first_row` of the column. Errors name rows by their index in the column.
ReadResult<TextChunk> read_text_chunk(TextType type, const ArraySlice& slice, size_t first_row);

}  // namespace tallygrams::arrow
