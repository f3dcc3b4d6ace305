// A column of text read in place from Arrow data: string, large_string or
// string_view, from one array or any number of chunks, sliced or not, with
// or without nulls. Rows are read straight out of the producer's buffers;
// the column keeps every exported array alive while it exists.
//
// Every structural rule is checked when the column is read, so reading a row
// afterwards cannot go out of bounds. The text itself is not checked: UTF-8
// validation is left to whoever reads the rows (is_valid_utf8), where the
// text is about to be used anyway; README.md explains why.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "arrow/read_error.hpp"
#include "arrow/imported_data.hpp"
#include "arrow/text_chunk.hpp"

namespace tallygrams::arrow {

class TextColumn {
public:
    // The exported object itself is the column.
    static ReadResult<TextColumn> read(std::shared_ptr<const ImportedData> data);
    // The column named `name` of an exported record batch, or of each batch
    // of a stream of them.
    static ReadResult<TextColumn> read_column(std::shared_ptr<const ImportedData> data, std::string_view name);

    size_t length() const noexcept { return length_; }
    size_t null_count() const noexcept { return null_count_; }
    TextType type() const noexcept { return type_; }

    // Row `row` (< length()): its text, or nothing for a null. Finds the
    // chunk by binary search; a Cursor reads consecutive rows faster.
    std::optional<std::string_view> row(size_t row) const noexcept;

    // Reads rows in order, starting anywhere. Each scoring task makes its own;
    // it stays valid as long as the column.
    class Cursor {
    public:
        // The text of the next row, or nothing for a null. There must be one.
        std::optional<std::string_view> next() noexcept {
            if (local_ == chunk_->length) {
                ++chunk_;  // chunks are never empty
                local_ = 0;
            }
            const size_t i = local_++;
            if (!chunk_->is_valid(i)) return std::nullopt;
            return chunk_->text(i);
        }

    private:
        friend class TextColumn;
        Cursor(const TextChunk* chunk, size_t local) noexcept : chunk_(chunk), local_(local) {}
        const TextChunk* chunk_;
        size_t local_;
    };

    // A cursor whose first next() reads row `first_row` (<= length()).
    Cursor cursor(size_t first_row) const noexcept;

    // The lowest row in [begin, end) whose text is not valid UTF-8; nulls are
    // skipped.
    std::optional<size_t> first_invalid_utf8(size_t begin, size_t end) const noexcept;

    // The error for row `row`, whose text is not valid UTF-8: "invalid UTF-8
    // in row 17, at byte 9 of its text (bytes c3 28)".
    ReadError invalid_utf8_error(size_t row) const;

private:
    TextColumn(std::shared_ptr<const ImportedData> data, TextType type, std::vector<TextChunk> chunks) noexcept;
    size_t chunk_of(size_t row) const noexcept;

    std::shared_ptr<const ImportedData> data_;
    TextType type_;
    // Only chunks with rows, in row order.
    std::vector<TextChunk> chunks_;
    size_t length_ = 0;
    size_t null_count_ = 0;
};

}  // namespace tallygrams::arrow
