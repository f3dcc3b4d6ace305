// Arrow structures built by hand for the tests, in every shape a producer
// may hand over, each counting how often its release callback runs.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arrow/c_data_interface.hpp"
#include "arrow/text_chunk.hpp"

namespace arrow_fixtures {

using Bytes = std::vector<unsigned char>;
using Rows = std::vector<std::optional<std::string>>;

// How often the structures made with it were released.
struct Releases {
    int arrays = 0;
    int schemas = 0;
    int streams = 0;
};

template <class T>
Bytes bytes_of(const std::vector<T>& values) {
    Bytes bytes(values.size() * sizeof(T));
    if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// ---------------------------------------------------------------- arrays

struct ArrayParts {
    int64_t length = 0;
    int64_t null_count = 0;
    int64_t offset = 0;
    // A missing buffer is a null pointer.
    std::vector<std::optional<Bytes>> buffers;
    std::vector<ArrowArray> children;
};

namespace detail {

struct ArrayData {
    std::vector<std::optional<Bytes>> storage;
    std::vector<const void*> buffers;
    std::vector<std::unique_ptr<ArrowArray>> children;
    std::vector<ArrowArray*> child_pointers;
    Releases* releases;
};

inline void release_array(ArrowArray* array) {
    auto* data = static_cast<ArrayData*>(array->private_data);
    for (auto& child : data->children) {
        if (child->release != nullptr) child->release(child.get());
    }
    ++data->releases->arrays;
    delete data;
    array->release = nullptr;
}

}  // namespace detail

inline ArrowArray make_array(ArrayParts parts, Releases& releases) {
    auto data = std::make_unique<detail::ArrayData>();
    data->releases = &releases;
    data->storage = std::move(parts.buffers);
    for (auto& buffer : data->storage) {
        // Pad every buffer, as producers do, so that empty ones are not null.
        if (buffer) buffer->reserve(buffer->size() + 64);
        data->buffers.push_back(buffer ? buffer->data() : nullptr);
    }
    for (ArrowArray& child : parts.children) {
        data->children.push_back(std::make_unique<ArrowArray>(child));
        data->child_pointers.push_back(data->children.back().get());
    }
    ArrowArray array{};
    array.length = parts.length;
    array.null_count = parts.null_count;
    array.offset = parts.offset;
    array.n_buffers = static_cast<int64_t>(data->buffers.size());
    array.n_children = static_cast<int64_t>(data->children.size());
    array.buffers = data->buffers.empty() ? nullptr : data->buffers.data();
    array.children = data->child_pointers.empty() ? nullptr : data->child_pointers.data();
    array.release = &detail::release_array;
    array.private_data = data.release();
    return array;
}

// Bit i set when rows[i] holds a value.
inline Bytes validity_of(const Rows& rows) {
    Bytes bits((rows.size() + 7) / 8, 0);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i]) bits[i / 8] = static_cast<unsigned char>(bits[i / 8] | (1u << (i % 8)));
    }
    return bits;
}

inline int64_t nulls_in(const Rows& rows) {
    int64_t nulls = 0;
    for (const auto& row : rows) nulls += !row;
    return nulls;
}

using tallygrams::arrow::TextType;

inline const char* format_of(TextType type) {
    switch (type) {
        case TextType::kString: return "u";
        case TextType::kLargeString: return "U";
        case TextType::kStringView: return "vu";
    }
    return "";
}

// The buffers after the validity bitmap: offsets and data, or views, data
// buffers and their sizes. A view's text longer than 12 bytes goes to data
// buffer 0 or 1 by turns, after `view_slack` bytes of other text.
inline std::vector<std::optional<Bytes>> text_buffers(const Rows& rows, TextType type, size_t view_slack = 3) {
    std::vector<std::optional<Bytes>> buffers;
    if (type != TextType::kStringView) {
        Bytes data;
        std::vector<int64_t> offsets = {0};
        for (const auto& row : rows) {
            if (row) data.insert(data.end(), row->begin(), row->end());
            offsets.push_back(static_cast<int64_t>(data.size()));
        }
        if (type == TextType::kString) {
            std::vector<int32_t> narrow(offsets.begin(), offsets.end());
            buffers.push_back(bytes_of(narrow));
        } else {
            buffers.push_back(bytes_of(offsets));
        }
        buffers.push_back(std::move(data));
        return buffers;
    }
    Bytes views(rows.size() * 16, 0);
    Bytes data[2] = {Bytes(view_slack, 'x'), Bytes(view_slack, 'y')};
    int next = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i]) continue;
        const std::string& text = *rows[i];
        const auto size = static_cast<int32_t>(text.size());
        unsigned char* view = views.data() + i * 16;
        std::memcpy(view, &size, 4);
        if (size <= 12) {
            std::memcpy(view + 4, text.data(), text.size());
            continue;
        }
        std::memcpy(view + 4, text.data(), 4);
        const int32_t buffer = next;
        const auto offset = static_cast<int32_t>(data[next].size());
        std::memcpy(view + 8, &buffer, 4);
        std::memcpy(view + 12, &offset, 4);
        data[next].insert(data[next].end(), text.begin(), text.end());
        next = 1 - next;
    }
    const std::vector<int64_t> sizes = {static_cast<int64_t>(data[0].size()), static_cast<int64_t>(data[1].size())};
    buffers.push_back(std::move(views));
    buffers.push_back(std::move(data[0]));
    buffers.push_back(std::move(data[1]));
    buffers.push_back(bytes_of(sizes));
    return buffers;
}

struct TextOptions {
    // Rows before and after the ones wanted, hidden by the array's offset
    // and length: a slice of a larger array.
    size_t rows_before = 0;
    size_t rows_after = 0;
    // Without a bitmap the null count must be 0 (or -1) and rows hold text.
    bool bitmap = true;
    // Report the null count as -1 (not computed).
    bool unknown_null_count = false;
};

inline ArrowArray text_array(const Rows& rows, TextType type, Releases& releases, TextOptions options = {}) {
    Rows all;
    for (size_t i = 0; i < options.rows_before; ++i) all.push_back(i % 3 == 0 ? std::nullopt : std::optional<std::string>("before " + std::to_string(i)));
    all.insert(all.end(), rows.begin(), rows.end());
    for (size_t i = 0; i < options.rows_after; ++i) all.push_back("after, and longer than twelve " + std::to_string(i));
    ArrayParts parts;
    parts.length = static_cast<int64_t>(rows.size());
    parts.offset = static_cast<int64_t>(options.rows_before);
    parts.null_count = options.unknown_null_count ? -1 : nulls_in(rows);
    if (options.bitmap) {
        parts.buffers.push_back(validity_of(all));
    } else {
        parts.buffers.push_back(std::nullopt);
    }
    for (auto& buffer : text_buffers(all, type)) parts.buffers.push_back(std::move(buffer));
    return make_array(std::move(parts), releases);
}

// ---------------------------------------------------------------- schemas

namespace detail {

struct SchemaData {
    std::string format;
    std::string name;
    std::vector<std::unique_ptr<ArrowSchema>> children;
    std::vector<ArrowSchema*> child_pointers;
    std::unique_ptr<ArrowSchema> dictionary;
    Releases* releases;
};

inline void release_schema(ArrowSchema* schema) {
    auto* data = static_cast<SchemaData*>(schema->private_data);
    for (auto& child : data->children) {
        if (child->release != nullptr) child->release(child.get());
    }
    if (data->dictionary && data->dictionary->release != nullptr) data->dictionary->release(data->dictionary.get());
    ++data->releases->schemas;
    delete data;
    schema->release = nullptr;
}

}  // namespace detail

inline ArrowSchema make_schema(std::string format, std::string name, std::vector<ArrowSchema> children,
                               Releases& releases, std::optional<ArrowSchema> dictionary = std::nullopt) {
    auto data = std::make_unique<detail::SchemaData>();
    data->format = std::move(format);
    data->name = std::move(name);
    data->releases = &releases;
    for (ArrowSchema& child : children) {
        data->children.push_back(std::make_unique<ArrowSchema>(child));
        data->child_pointers.push_back(data->children.back().get());
    }
    if (dictionary) data->dictionary = std::make_unique<ArrowSchema>(*dictionary);
    ArrowSchema schema{};
    schema.format = data->format.c_str();
    schema.name = data->name.c_str();
    schema.flags = ARROW_FLAG_NULLABLE;
    schema.n_children = static_cast<int64_t>(data->children.size());
    schema.children = data->child_pointers.empty() ? nullptr : data->child_pointers.data();
    schema.dictionary = data->dictionary.get();
    schema.release = &detail::release_schema;
    schema.private_data = data.release();
    return schema;
}

inline ArrowSchema text_schema(TextType type, Releases& releases, std::string name = "") {
    return make_schema(format_of(type), std::move(name), {}, releases);
}

// A record batch: a struct of columns.
inline ArrowArray struct_array(int64_t length, std::vector<ArrowArray> columns, Releases& releases,
                               int64_t offset = 0, std::optional<Bytes> validity = std::nullopt,
                               int64_t null_count = 0) {
    ArrayParts parts;
    parts.length = length;
    parts.offset = offset;
    parts.null_count = null_count;
    parts.buffers.push_back(std::move(validity));
    parts.children = std::move(columns);
    return make_array(std::move(parts), releases);
}

// ---------------------------------------------------------------- streams

struct StreamParts {
    ArrowSchema schema{};
    std::vector<ArrowArray> chunks;
    // The failure to report in place of chunk `fail_at` (or of the schema,
    // for -1), with this message (none: get_last_error gives null).
    std::optional<int> fail_at;
    int error_code = 0;
    std::optional<std::string> error_message;
};

namespace detail {

struct StreamData {
    StreamParts parts;
    size_t next = 0;
    Releases* releases;
};

inline StreamData& stream_data(ArrowArrayStream* stream) { return *static_cast<StreamData*>(stream->private_data); }

inline int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    StreamData& data = stream_data(stream);
    if (data.parts.fail_at == -1) return data.parts.error_code;
    // Hand over a fresh copy each time; the stream keeps its own.
    ArrowSchema& schema = data.parts.schema;
    std::vector<ArrowSchema> children;
    for (int64_t i = 0; i < schema.n_children; ++i) {
        children.push_back(make_schema(schema.children[i]->format, schema.children[i]->name, {}, *data.releases));
    }
    *out = make_schema(schema.format, schema.name, std::move(children), *data.releases);
    return 0;
}

inline int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
    StreamData& data = stream_data(stream);
    if (data.parts.fail_at && static_cast<size_t>(*data.parts.fail_at) == data.next) return data.parts.error_code;
    if (data.next == data.parts.chunks.size()) {
        out->release = nullptr;
        return 0;
    }
    *out = data.parts.chunks[data.next];
    data.parts.chunks[data.next++].release = nullptr;  // moved out
    return 0;
}

inline const char* stream_last_error(ArrowArrayStream* stream) {
    const auto& message = stream_data(stream).parts.error_message;
    return message ? message->c_str() : nullptr;
}

inline void stream_release(ArrowArrayStream* stream) {
    StreamData& data = stream_data(stream);
    for (ArrowArray& chunk : data.parts.chunks) {
        if (chunk.release != nullptr) chunk.release(&chunk);
    }
    if (data.parts.schema.release != nullptr) data.parts.schema.release(&data.parts.schema);
    ++data.releases->streams;
    delete &data;
    stream->release = nullptr;
}

}  // namespace detail

inline ArrowArrayStream make_stream(StreamParts parts, Releases& releases) {
    auto data = std::make_unique<detail::StreamData>();
    data->parts = std::move(parts);
    data->releases = &releases;
    ArrowArrayStream stream{};
    stream.get_schema = &detail::stream_get_schema;
    stream.get_next = &detail::stream_get_next;
    stream.get_last_error = &detail::stream_last_error;
    stream.release = &detail::stream_release;
    stream.private_data = data.release();
    return stream;
}

}  // namespace arrow_fixtures
