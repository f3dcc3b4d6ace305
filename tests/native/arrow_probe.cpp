// A test-only library that exposes the Arrow reader and writer to Python
// through plain C functions, so that arrow_interop_check.py can try them
// against real producers and consumers (pyarrow, polars) with ctypes.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arrow/batch_stream.hpp"
#include "arrow/float64_batch.hpp"
#include "arrow/imported_data.hpp"
#include "arrow/owned.hpp"
#include "arrow/pair_validity.hpp"
#include "arrow/text_column.hpp"

using namespace tallygrams::arrow;

namespace {

std::atomic<int64_t> live_columns{0};

struct CountedFree {
    void operator()(double* values) const noexcept {
        --live_columns;
        std::free(values);
    }
};

OwnedBuffer counted_column(size_t length, double first) {
    std::unique_ptr<double[], CountedFree> values(static_cast<double*>(std::calloc(length + 1, sizeof(double))));
    ++live_columns;
    for (size_t i = 0; i < length; ++i) values[i] = first + static_cast<double>(i);
    return OwnedBuffer(std::move(values));
}

const char* kind_name(ReadErrorKind kind) {
    switch (kind) {
        case ReadErrorKind::kUnsupportedType: return "unsupported_type";
        case ReadErrorKind::kInvalidData: return "invalid_data";
        case ReadErrorKind::kInvalidUtf8: return "invalid_utf8";
        case ReadErrorKind::kColumnNotFound: return "column_not_found";
        case ReadErrorKind::kDuplicateColumn: return "duplicate_column";
        case ReadErrorKind::kStreamFailed: return "stream_failed";
    }
    return "?";
}

// "E<kind>\n<message>" for an error; otherwise "R" and per row 'N' for a
// null or 'T', an 8-byte length and the bytes.
char* describe(const ReadResult<std::shared_ptr<const ImportedData>>& data, const char* column, size_t* size) {
    std::string out;
    auto fail = [&](const ReadError& error) { out = std::string("E") + kind_name(error.kind) + "\n" + error.message; };
    if (!data.ok()) {
        fail(data.error());
    } else {
        auto text = column != nullptr ? TextColumn::read_column(data.value(), column) : TextColumn::read(data.value());
        if (!text.ok()) {
            fail(text.error());
        } else if (auto bad = text.value().first_invalid_utf8(0, text.value().length())) {
            fail(text.value().invalid_utf8_error(*bad));
        } else {
            out = "R";
            TextColumn::Cursor rows = text.value().cursor(0);
            for (size_t i = 0; i < text.value().length(); ++i) {
                const std::optional<std::string_view> row = rows.next();
                if (!row) {
                    out += 'N';
                    continue;
                }
                out += 'T';
                const uint64_t length = row->size();
                out.append(reinterpret_cast<const char*>(&length), sizeof length);
                out.append(*row);
            }
        }
    }
    *size = out.size();
    char* copy = static_cast<char*>(std::malloc(out.size() + 1));
    std::memcpy(copy, out.data(), out.size());
    return copy;
}

// Column k, row i holds k * 1000 + i; row i is null when i % null_every == 0.
Float64Batch sample_batch(size_t rows, size_t null_every, size_t first_row) {
    std::shared_ptr<ValidityBitmap> validity;
    if (null_every > 0) {
        validity = std::make_shared<ValidityBitmap>(rows);
        for (size_t i = 0; i < rows; ++i) {
            if ((first_row + i) % null_every == 0) validity->set_null(i);
        }
    }
    Float64Batch batch(rows);
    const char* names[] = {"rouge1_precision", "rouge1_recall", "rougeL_fmeasure"};
    for (size_t k = 0; k < 3; ++k) {
        batch.add_column(Float64Column(names[k], counted_column(rows, static_cast<double>(k * 1000 + first_row)), rows,
                                       validity));
    }
    return batch;
}

}  // namespace

#define PROBE extern "C" __attribute__((visibility("default")))

PROBE char* probe_read_array(ArrowSchema* schema, ArrowArray* array, const char* column, size_t* size) {
    return describe(ImportedData::from_array(OwnedSchema::take(schema), OwnedArray::take(array)), column, size);
}

PROBE char* probe_read_stream(ArrowArrayStream* stream, const char* column, size_t* size) {
    return describe(ImportedData::from_stream(OwnedStream::take(stream)), column, size);
}

PROBE void probe_free(char* description) { std::free(description); }

PROBE void probe_export_batch(int64_t rows, int64_t null_every, ArrowSchema* schema, ArrowArray* array) {
    const Float64Batch batch = sample_batch(static_cast<size_t>(rows), static_cast<size_t>(null_every), 0);
    batch.export_schema(schema);
    batch.export_array(array);
}

PROBE void probe_export_stream(int64_t rows_per_batch, int64_t batches, int64_t null_every, ArrowArrayStream* stream) {
    std::vector<Float64Batch> parts;
    for (int64_t b = 0; b < batches; ++b) {
        parts.push_back(sample_batch(static_cast<size_t>(rows_per_batch), static_cast<size_t>(null_every),
                                     static_cast<size_t>(b * rows_per_batch)));
    }
    export_stream(std::move(parts), stream);
}

// Column buffers made by the exports above and not freed yet.
PROBE int64_t probe_live_columns() { return live_columns.load(); }

PROBE void probe_release_schema(ArrowSchema* schema) { OwnedSchema::take(schema).reset(); }
PROBE void probe_release_array(ArrowArray* array) { OwnedArray::take(array).reset(); }
PROBE void probe_release_stream(ArrowArrayStream* stream) { OwnedStream::take(stream).reset(); }
