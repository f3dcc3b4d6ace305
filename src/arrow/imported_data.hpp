// Everything one producer exported for a call: its schema and every chunk of
// data, taken over from the C structures and released together when the
// last reader lets go.
//
// A stream is drained here, on the calling thread: a producer's callbacks
// may run its own Python code, and so must not run on a pool worker while
// the caller waits for that worker with the interpreter lock held. For the
// same reason the last reader should be destroyed on the calling thread.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "arrow/c_data_interface.hpp"
#include "arrow/read_error.hpp"
#include "arrow/owned.hpp"

namespace tallygrams::arrow {

class ImportedData {
public:
    // One array and its schema (__arrow_c_array__).
    static ReadResult<std::shared_ptr<const ImportedData>> from_array(OwnedSchema schema, OwnedArray array);
    // Every chunk of a stream (__arrow_c_stream__). The stream itself is
    // released once drained; the chunks live on.
    static ReadResult<std::shared_ptr<const ImportedData>> from_stream(OwnedStream stream);

    const ArrowSchema& schema() const noexcept { return *schema_; }
    size_t chunk_count() const noexcept { return chunks_.size(); }
    const ArrowArray& chunk(size_t i) const noexcept { return *chunks_[i]; }
    bool came_from_stream() const noexcept { return from_stream_; }

    ImportedData(OwnedSchema schema, std::vector<OwnedArray> chunks, bool from_stream) noexcept
        : schema_(std::move(schema)), chunks_(std::move(chunks)), from_stream_(from_stream) {}

private:
    OwnedSchema schema_;
    std::vector<OwnedArray> chunks_;
    bool from_stream_;
};

}  // namespace tallygrams::arrow
