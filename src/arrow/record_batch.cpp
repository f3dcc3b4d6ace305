#include "arrow/record_batch.hpp"

#include <string>

#include "arrow/type_names.hpp"

namespace tallygrams::arrow {

namespace {

std::string_view column_name(const ArrowSchema& column) { return column.name != nullptr ? column.name : ""; }

std::string quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

}  // namespace

ReadResult<size_t> find_column(const ArrowSchema& schema, std::string_view name) {
    if (ReadStatus node = check_schema_node(schema); !node.ok()) return std::move(node).error();
    if (std::string_view(schema.format) != "+s" || schema.dictionary != nullptr) {
        return ReadError{ReadErrorKind::kUnsupportedType,
                           "expected a record batch (a struct array of columns), found " + describe_type(schema)};
    }
    const auto columns = static_cast<size_t>(schema.n_children);
    size_t found = columns;
    size_t matches = 0;
    for (size_t i = 0; i < columns; ++i) {
        if (column_name(*schema.children[i]) != name) continue;
        if (matches++ == 0) found = i;
    }
    if (matches > 1) {
        return ReadError{ReadErrorKind::kDuplicateColumn, std::to_string(matches) +
                                                                  " columns of the record batch are named " +
                                                                  quoted(name) + "; the name must be unique"};
    }
    if (matches == 0) {
        std::string message = "the record batch has no column named " + quoted(name);
        if (columns == 0) {
            message += "; it has no columns";
        } else {
            constexpr size_t kListed = 20;
            message += "; its columns are ";
            for (size_t i = 0; i < columns && i < kListed; ++i) {
                if (i > 0) message += ", ";
                message += quoted(column_name(*schema.children[i]));
            }
            if (columns > kListed) message += " and " + std::to_string(columns - kListed) + " more";
        }
        return ReadError{ReadErrorKind::kColumnNotFound, std::move(message)};
    }
    return found;
}

ReadResult<ArraySlice> column_slice(const ArrowSchema& schema, const ArrowArray& batch, size_t column) {
    if (ReadStatus shape = check_array_shape(batch); !shape.ok()) return std::move(shape).error();
    // A struct has one buffer, its validity bitmap.
    if (ReadStatus layout = check_array_layout(batch, {1, 1}, schema.n_children); !layout.ok()) {
        return std::move(layout).error();
    }
    const auto* validity = static_cast<const uint8_t*>(batch.buffers[0]);
    if (validity == nullptr && batch.null_count > 0) {
        return invalid_data("the record batch has " + std::to_string(batch.null_count) +
                            " null rows but no validity bitmap");
    }
    const ArrowArray* child = batch.children[column];
    const std::string which = "column " + quoted(column_name(*schema.children[column]));
    if (child == nullptr) return invalid_data(which + " of the record batch is missing");
    if (ReadStatus shape = check_array_shape(*child); !shape.ok()) {
        ReadError error = std::move(shape).error();
        error.message = which + ": " + error.message;
        return error;
    }
    if (child->length < batch.offset + batch.length) {
        return invalid_data(which + " has " + std::to_string(child->length) + " rows where the record batch needs " +
                            std::to_string(batch.offset + batch.length));
    }
    return ArraySlice{child, child->offset + batch.offset, batch.length, validity, batch.offset};
}

}  // namespace tallygrams::arrow
