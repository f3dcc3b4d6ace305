#include "arrow/imported_data.hpp"

#include <cstring>
#include <string>
#include <utility>

#include "arrow/array_slice.hpp"

namespace tallygrams::arrow {

namespace {

// The producer's description of its last failure, copied at once: the
// pointer is only good until the stream's next callback.
ReadError stream_failure(ArrowArrayStream& stream, int code, const std::string& what) {
    std::string message = "the Arrow stream failed " + what;
    const char* detail = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
    if (detail != nullptr && *detail != '\0') {
        message += ": ";
        message += detail;
    } else {
        message += " (error ";
        message += std::to_string(code);
        if (const char* name = std::strerror(code); name != nullptr) {
            message += ", ";
            message += name;
        }
        message += ")";
    }
    return {ReadErrorKind::kStreamFailed, std::move(message), code};
}

}  // namespace

ReadResult<std::shared_ptr<const ImportedData>> ImportedData::from_array(OwnedSchema schema, OwnedArray array) {
    if (schema.released()) return invalid_data("the schema has been released already");
    if (array.released()) return invalid_data("the array has been released already");
    if (ReadStatus node = check_schema_node(*schema); !node.ok()) return std::move(node).error();
    std::vector<OwnedArray> chunks;
    chunks.push_back(std::move(array));
    return std::make_shared<const ImportedData>(std::move(schema), std::move(chunks), false);
}

ReadResult<std::shared_ptr<const ImportedData>> ImportedData::from_stream(OwnedStream stream) {
    if (stream.released()) return invalid_data("the stream has been released already");
    ArrowArrayStream& source = *stream.get();
    if (source.get_schema == nullptr || source.get_next == nullptr || source.get_last_error == nullptr) {
        return invalid_data("the stream lacks one of its callbacks");
    }
    OwnedSchema schema;
    if (const int code = source.get_schema(&source, schema.fill()); code != 0) {
        schema.forget();
        return stream_failure(source, code, "to give its schema");
    }
    if (ReadStatus node = check_schema_node(*schema); !node.ok()) return std::move(node).error();

    std::vector<OwnedArray> chunks;
    for (;;) {
        OwnedArray chunk;
        if (const int code = source.get_next(&source, chunk.fill()); code != 0) {
            chunk.forget();
            return stream_failure(source, code, "at chunk " + std::to_string(chunks.size()));
        }
        // A released chunk marks the end of the stream.
        if (chunk.released()) break;
        chunks.push_back(std::move(chunk));
    }
    stream.reset();
    return std::make_shared<const ImportedData>(std::move(schema), std::move(chunks), true);
}

}  // namespace tallygrams::arrow
