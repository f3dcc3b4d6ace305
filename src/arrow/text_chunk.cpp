#include "arrow/text_chunk.hpp"

#include <limits>
#include <string>

namespace tallygrams::arrow {

namespace {

std::string row_name(size_t row) { return "row " + std::to_string(row); }

size_t count_nulls(const TextChunk& chunk) {
    if (chunk.validity != nullptr && chunk.outer_validity != nullptr) {
        size_t nulls = 0;
        for (size_t i = 0; i < chunk.length; ++i) nulls += !chunk.is_valid(i);
        return nulls;
    }
    if (chunk.validity != nullptr) return chunk.length - count_set_bits(chunk.validity, chunk.validity_bit, chunk.length);
    if (chunk.outer_validity != nullptr) {
        return chunk.length - count_set_bits(chunk.outer_validity, chunk.outer_bit, chunk.length);
    }
    return 0;
}

// Offsets are defined for every row, null or not: they must start at 0 or
// above and never decrease. Where the data buffer ends is not part of the
// interface, so the last offset cannot be checked against it.
template <class Offset>
ReadResult<TextChunk> check_offsets(TextChunk chunk, const ArrowArray& array, size_t offset) {
    const auto* offsets = static_cast<const unsigned char*>(array.buffers[1]);
    if (offsets == nullptr) return invalid_data("the offsets buffer is missing");
    if (!fits_in_address_space(offsets, (offset + chunk.length + 1) * sizeof(Offset))) {
        return invalid_data("the offsets buffer would run past the end of memory");
    }
    chunk.index = offsets + offset * sizeof(Offset);
    const auto first = detail::load<Offset>(chunk.index);
    if (first < 0) return invalid_data("the offset of " + row_name(chunk.first_row) + " is negative (" + std::to_string(first) + ")");
    Offset previous = first;
    for (size_t i = 1; i <= chunk.length; ++i) {
        const auto current = detail::load<Offset>(chunk.index + i * sizeof(Offset));
        if (current < previous) {
            return invalid_data("the offsets decrease at " + row_name(chunk.first_row + i - 1) + " (from " +
                                std::to_string(previous) + " to " + std::to_string(current) + ")");
        }
        previous = current;
    }
    chunk.data = static_cast<const char*>(array.buffers[2]);
    if (previous > first) {
        if (chunk.data == nullptr) return invalid_data("the data buffer is missing");
        if (!fits_in_address_space(chunk.data, static_cast<uint64_t>(previous))) {
            return invalid_data("the offsets point past the end of memory");
        }
    }
    return chunk;
}

// The views of null rows are not read, so they may hold anything; every
// other view must lie inside the data buffer it names, whose size the
// interface's last buffer gives.
ReadResult<TextChunk> check_views(TextChunk chunk, const ArrowArray& array, size_t offset) {
    const auto* views = static_cast<const unsigned char*>(array.buffers[1]);
    if (views == nullptr) return invalid_data("the views buffer is missing");
    if (!fits_in_address_space(views, (offset + chunk.length) * detail::kViewSize)) {
        return invalid_data("the views buffer would run past the end of memory");
    }
    const int64_t data_buffers = array.n_buffers - 3;
    const auto* sizes = static_cast<const unsigned char*>(array.buffers[array.n_buffers - 1]);
    if (data_buffers > 0 && sizes == nullptr) return invalid_data("the buffer of data buffer sizes is missing");
    const auto buffer_size = [&](int64_t k) {
        return detail::load<int64_t>(sizes + static_cast<size_t>(k) * sizeof(int64_t));
    };
    for (int64_t k = 0; k < data_buffers; ++k) {
        const int64_t size = buffer_size(k);
        const std::string which = "data buffer " + std::to_string(k);
        if (size < 0) return invalid_data(which + " has a negative size (" + std::to_string(size) + ")");
        const void* buffer = array.buffers[2 + k];
        if (size > 0 && buffer == nullptr) return invalid_data(which + " is missing");
        if (!fits_in_address_space(buffer, static_cast<uint64_t>(size))) {
            return invalid_data(which + " would run past the end of memory");
        }
    }
    chunk.index = views + offset * detail::kViewSize;
    chunk.view_buffers = array.buffers;
    for (size_t i = 0; i < chunk.length; ++i) {
        if (!chunk.is_valid(i)) continue;
        const unsigned char* view = chunk.index + i * detail::kViewSize;
        const auto size = detail::load<int32_t>(view);
        if (size < 0) {
            return invalid_data("the view of " + row_name(chunk.first_row + i) + " has a negative length (" +
                                std::to_string(size) + ")");
        }
        if (size <= detail::kMaxInlineView) continue;
        const auto buffer = detail::load<int32_t>(view + 8);
        const auto start = detail::load<int32_t>(view + 12);
        if (buffer < 0 || buffer >= data_buffers) {
            return invalid_data("the view of " + row_name(chunk.first_row + i) + " names data buffer " +
                                std::to_string(buffer) + " of " + std::to_string(data_buffers));
        }
        if (start < 0 || int64_t{start} + size > buffer_size(buffer)) {
            return invalid_data("the view of " + row_name(chunk.first_row + i) + " (" + std::to_string(size) +
                                " bytes at offset " + std::to_string(start) + ") lies outside data buffer " +
                                std::to_string(buffer) + " (" + std::to_string(buffer_size(buffer)) + " bytes)");
        }
    }
    return chunk;
}

}  // namespace

bool text_type_of(const char* format, TextType& type) noexcept {
    const std::string_view code = format;
    if (code == "u") {
        type = TextType::kString;
    } else if (code == "U") {
        type = TextType::kLargeString;
    } else if (code == "vu") {
        type = TextType::kStringView;
    } else {
        return false;
    }
    return true;
}

ReadResult<TextChunk> read_text_chunk(TextType type, const ArraySlice& slice, size_t first_row) {
    const ArrowArray& array = *slice.array;
    if (ReadStatus shape = check_array_shape(array); !shape.ok()) return std::move(shape).error();
    // Views: validity, views, any number of data buffers, their sizes.
    constexpr int64_t kMostViewBuffers = 3 + int64_t{std::numeric_limits<int32_t>::max()};
    const BufferCount buffers = type == TextType::kStringView ? BufferCount{3, kMostViewBuffers} : BufferCount{3, 3};
    if (ReadStatus layout = check_array_layout(array, buffers, 0); !layout.ok()) return std::move(layout).error();

    TextChunk chunk;
    chunk.type = type;
    chunk.first_row = first_row;
    chunk.length = static_cast<size_t>(slice.length);
    const auto offset = static_cast<size_t>(slice.offset);
    // A null count above 0 promises a bitmap. Without one every row holds a
    // value, whatever the count says otherwise (-1: not computed).
    chunk.validity = static_cast<const uint8_t*>(array.buffers[0]);
    if (chunk.validity == nullptr && array.null_count > 0) {
        return invalid_data("the array has " + std::to_string(array.null_count) + " nulls but no validity bitmap");
    }
    chunk.validity_bit = offset;
    chunk.outer_validity = slice.outer_validity;
    chunk.outer_bit = static_cast<size_t>(slice.outer_bit);
    if (chunk.length == 0) return chunk;  // no buffer is ever read
    chunk.null_count = count_nulls(chunk);

    switch (type) {
        case TextType::kString: return check_offsets<int32_t>(chunk, array, offset);
        case TextType::kLargeString: return check_offsets<int64_t>(chunk, array, offset);
        case TextType::kStringView: break;
    }
    return check_views(chunk, array, offset);
}

}  // namespace tallygrams::arrow
