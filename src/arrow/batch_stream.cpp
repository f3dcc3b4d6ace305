#include "arrow/batch_stream.hpp"

#include <cerrno>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "common/internal_failure.hpp"

namespace tallygrams::arrow {

namespace {

struct StreamState {
    std::vector<Float64Batch> batches;
    // Only the names are kept for the schema: the batches' data is let go of
    // as they are yielded.
    std::vector<std::string> column_names;
    size_t next = 0;
    std::string last_error;
};

StreamState& state_of(ArrowArrayStream* stream) { return *static_cast<StreamState*>(stream->private_data); }

// Callbacks are called from C: nothing may escape them.
template <class Body>
int guarded(ArrowArrayStream* stream, Body body) noexcept {
    StreamState& state = state_of(stream);
    try {
        body(state);
        state.last_error.clear();
        return 0;
    } catch (const std::bad_alloc&) {
        state.last_error = "out of memory while exporting a batch of scores";
        return ENOMEM;
    } catch (const std::exception& failure) {
        state.last_error = failure.what();
        return EIO;
    }
}

int get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    return guarded(stream, [&](StreamState& state) { export_float64_schema(state.column_names, out); });
}

int get_next(ArrowArrayStream* stream, ArrowArray* out) {
    return guarded(stream, [&](StreamState& state) {
        if (state.next == state.batches.size()) {
            *out = ArrowArray{};  // released: the end of the stream
            return;
        }
        state.batches[state.next].export_array(out);
        state.batches[state.next++] = Float64Batch{};
    });
}

const char* get_last_error(ArrowArrayStream* stream) {
    const std::string& error = state_of(stream).last_error;
    return error.empty() ? nullptr : error.c_str();
}

void release(ArrowArrayStream* stream) {
    delete static_cast<StreamState*>(stream->private_data);
    stream->release = nullptr;
}

}  // namespace

void export_stream(std::vector<Float64Batch> batches, ArrowArrayStream* out) {
    ensure(!batches.empty(), "a stream of scores needs at least one batch for its schema");
    for (const Float64Batch& batch : batches) {
        ensure(batch.same_columns_as(batches.front()), "batches of one stream with different columns");
    }
    auto state = std::make_unique<StreamState>();
    state->column_names = batches.front().column_names();
    state->batches = std::move(batches);
    *out = ArrowArrayStream{};
    out->get_schema = &get_schema;
    out->get_next = &get_next;
    out->get_last_error = &get_last_error;
    out->release = &release;
    out->private_data = state.release();
}

}  // namespace tallygrams::arrow
