#include "arrow/text_column.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "arrow/array_slice.hpp"
#include "arrow/record_batch.hpp"
#include "arrow/type_names.hpp"
#include "arrow/utf8_validation.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::arrow {

namespace {

ReadError with_context(ReadError error, const std::string& context) {
    if (!context.empty()) error.message = context + ": " + error.message;
    return error;
}

// Where in the exported data a chunk sits, for messages: nothing for a
// lone array, its number for a chunk of a stream.
std::string chunk_context(const ImportedData& data, size_t chunk, std::string context) {
    if (!data.came_from_stream()) return context;
    if (!context.empty()) context += ", ";
    return context + "chunk " + std::to_string(chunk) + " of the stream";
}

ReadResult<TextType> text_type(const ArrowSchema& schema) {
    TextType type{};
    if (schema.dictionary != nullptr || !text_type_of(schema.format, type)) {
        return ReadError{ReadErrorKind::kUnsupportedType, "expected text: " + std::string(kAcceptedTextTypes) +
                                                                  "; found " + describe_type(schema)};
    }
    if (schema.n_children != 0) return invalid_data("the schema of a text type has children");
    return type;
}

// `slice_of(chunk)` gives the rows of each exported chunk.
template <class SliceOf>
ReadResult<std::vector<TextChunk>> read_chunks(const ImportedData& data, TextType type, const std::string& context,
                                                 SliceOf slice_of) {
    std::vector<TextChunk> chunks;
    size_t rows = 0;
    for (size_t i = 0; i < data.chunk_count(); ++i) {
        ReadResult<ArraySlice> slice = slice_of(data.chunk(i));
        if (!slice.ok()) return with_context(std::move(slice).error(), chunk_context(data, i, context));
        ReadResult<TextChunk> chunk = read_text_chunk(type, slice.value(), rows);
        if (!chunk.ok()) return with_context(std::move(chunk).error(), chunk_context(data, i, context));
        if (chunk.value().length == 0) continue;
        rows += chunk.value().length;
        if (rows > static_cast<size_t>(kMaxRows)) return invalid_data("the column has too many rows");
        chunks.push_back(chunk.value());
    }
    return chunks;
}

}  // namespace

TextColumn::TextColumn(std::shared_ptr<const ImportedData> data, TextType type, std::vector<TextChunk> chunks) noexcept
    : data_(std::move(data)), type_(type), chunks_(std::move(chunks)) {
    for (const TextChunk& chunk : chunks_) {
        length_ += chunk.length;
        null_count_ += chunk.null_count;
    }
}

ReadResult<TextColumn> TextColumn::read(std::shared_ptr<const ImportedData> data) {
    ReadResult<TextType> type = text_type(data->schema());
    if (!type.ok()) return std::move(type).error();
    ReadResult<std::vector<TextChunk>> chunks =
        read_chunks(*data, type.value(), "", [](const ArrowArray& array) -> ReadResult<ArraySlice> {
            return whole_array(array);
        });
    if (!chunks.ok()) return std::move(chunks).error();
    return TextColumn(std::move(data), type.value(), std::move(chunks).value());
}

ReadResult<TextColumn> TextColumn::read_column(std::shared_ptr<const ImportedData> data, std::string_view name) {
    const ArrowSchema& schema = data->schema();
    ReadResult<size_t> column = find_column(schema, name);
    if (!column.ok()) return std::move(column).error();
    const std::string context = "column \"" + std::string(name) + "\"";
    ReadResult<TextType> type = text_type(*schema.children[column.value()]);
    if (!type.ok()) return with_context(std::move(type).error(), context);
    ReadResult<std::vector<TextChunk>> chunks =
        read_chunks(*data, type.value(), context, [&](const ArrowArray& batch) -> ReadResult<ArraySlice> {
            return column_slice(schema, batch, column.value());
        });
    if (!chunks.ok()) return std::move(chunks).error();
    return TextColumn(std::move(data), type.value(), std::move(chunks).value());
}

size_t TextColumn::chunk_of(size_t row) const noexcept {
    const auto after = std::upper_bound(chunks_.begin(), chunks_.end(), row,
                                        [](size_t r, const TextChunk& chunk) { return r < chunk.first_row; });
    return static_cast<size_t>(after - chunks_.begin()) - 1;
}

std::optional<std::string_view> TextColumn::row(size_t row) const noexcept {
    const TextChunk& chunk = chunks_[chunk_of(row)];
    const size_t i = row - chunk.first_row;
    if (!chunk.is_valid(i)) return std::nullopt;
    return chunk.text(i);
}

TextColumn::Cursor TextColumn::cursor(size_t first_row) const noexcept {
    if (first_row >= length_) {
        // At the end: next() must not be called.
        return chunks_.empty() ? Cursor(nullptr, 0) : Cursor(&chunks_.back(), chunks_.back().length);
    }
    const size_t k = chunk_of(first_row);
    return Cursor(&chunks_[k], first_row - chunks_[k].first_row);
}

std::optional<size_t> TextColumn::first_invalid_utf8(size_t begin, size_t end) const noexcept {
    end = std::min(end, length_);
    if (begin >= end) return std::nullopt;
    Cursor rows = cursor(begin);
    for (size_t i = begin; i < end; ++i) {
        const std::optional<std::string_view> text = rows.next();
        if (text && !is_valid_utf8(*text)) return i;
    }
    return std::nullopt;
}

ReadError TextColumn::invalid_utf8_error(size_t row_index) const {
    const std::optional<std::string_view> text = row(row_index);
    ensure(text.has_value(), "a null row cannot hold invalid UTF-8");
    const size_t at = valid_utf8_prefix(*text);
    ensure(at < text->size(), "the row holds valid UTF-8");
    std::string bytes;
    constexpr char kHex[] = "0123456789abcdef";
    for (size_t i = at; i < text->size() && i < at + 4; ++i) {
        const auto byte = static_cast<unsigned char>((*text)[i]);
        if (!bytes.empty()) bytes += ' ';
        bytes += kHex[byte >> 4];
        bytes += kHex[byte & 15];
    }
    return {ReadErrorKind::kInvalidUtf8, "invalid UTF-8 in row " + std::to_string(row_index) + ", at byte " +
                                               std::to_string(at) + " of its text (bytes " + bytes + ")"};
}

}  // namespace tallygrams::arrow
