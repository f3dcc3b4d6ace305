#include "arrow/array_slice.hpp"

#include <string>

namespace tallygrams::arrow {

ReadStatus check_schema_node(const ArrowSchema& schema) {
    if (schema.release == nullptr) return invalid_data("the schema has been released already");
    if (schema.format == nullptr) return invalid_data("the schema has no format string");
    if (schema.n_children < 0) {
        return invalid_data("the schema has a negative number of children (" + std::to_string(schema.n_children) + ")");
    }
    if (schema.n_children > 0 && schema.children == nullptr) {
        return invalid_data("the schema has " + std::to_string(schema.n_children) + " children but no child list");
    }
    for (int64_t i = 0; i < schema.n_children; ++i) {
        const ArrowSchema* child = schema.children[i];
        const std::string which = "child " + std::to_string(i) + " of the schema";
        if (child == nullptr) return invalid_data(which + " is missing");
        if (child->release == nullptr) return invalid_data(which + " has been released already");
        if (child->format == nullptr) return invalid_data(which + " has no format string");
    }
    return {};
}

ReadStatus check_array_shape(const ArrowArray& array) {
    if (array.release == nullptr) return invalid_data("the array has been released already");
    if (array.length < 0 || array.length > kMaxRows) {
        return invalid_data("the array's length " + std::to_string(array.length) + " is out of range");
    }
    if (array.offset < 0 || array.offset > kMaxRows - array.length) {
        return invalid_data("the array's offset " + std::to_string(array.offset) + " is out of range");
    }
    if (array.null_count < -1 || array.null_count > array.length) {
        return invalid_data("the array's null count " + std::to_string(array.null_count) +
                            " is neither -1 nor between 0 and its length " + std::to_string(array.length));
    }
    if (array.n_buffers < 0 || (array.n_buffers > 0 && array.buffers == nullptr)) {
        return invalid_data("the array has " + std::to_string(array.n_buffers) + " buffers but no buffer list");
    }
    if (array.n_children < 0 || (array.n_children > 0 && array.children == nullptr)) {
        return invalid_data("the array has " + std::to_string(array.n_children) + " children but no child list");
    }
    if (array.dictionary != nullptr) {
        return invalid_data("the array has a dictionary but its type is not dictionary-encoded");
    }
    return {};
}

ReadStatus check_array_layout(const ArrowArray& array, BufferCount buffers, int64_t n_children) {
    if (array.n_buffers < buffers.min || array.n_buffers > buffers.max) {
        const std::string expected = buffers.min == buffers.max ? std::to_string(buffers.min)
                                                                : "at least " + std::to_string(buffers.min);
        return invalid_data("the array has " + std::to_string(array.n_buffers) + " buffers where its type has " +
                            expected);
    }
    if (array.n_children != n_children) {
        return invalid_data("the array has " + std::to_string(array.n_children) + " children where its type has " +
                            std::to_string(n_children));
    }
    return {};
}

}  // namespace tallygrams::arrow
