// Arrow data across the Python boundary, by the Arrow PyCapsule interface:
// taking over what an object exports through __arrow_c_stream__ or
// __arrow_c_array__, and wrapping what we export in the capsules those
// methods return. The structures themselves are handled by src/arrow.
#pragma once

#include <memory>
#include <string_view>

#include "arrow/float64_batch.hpp"
#include "arrow/imported_data.hpp"
#include "arrow/read_error.hpp"
#include "boundary/py_err.hpp"

namespace tallygrams::boundary {

// Everything `exporter` exports: a stream if it offers one (every chunk of a
// chunked array or a polars Series), else its one array. Call with the lock
// held; the producer's code may run. A failure carries the note naming
// `argument`.
Result<std::shared_ptr<const arrow::ImportedData>> import_arrow(PyObject* exporter, std::string_view argument);

// The Python exception for an error found in exported data: TypeError for
// an unsupported type, KeyError for a missing column, ValueError otherwise
// (an OSError for a stream the producer failed, with its errno).
PyErr arrow_read_error(const arrow::ReadError& error, std::string_view argument);

// Capsules for the PyCapsule interface: "arrow_schema", "arrow_array" and
// "arrow_array_stream". Each frees its structure when it goes, unless a
// consumer has taken the structure over (marking it released).
Result<PyRef> schema_capsule(const arrow::Float64Batch& batch);
Result<PyRef> array_capsule(const arrow::Float64Batch& batch);
Result<PyRef> stream_capsule(const arrow::Float64Batch& batch);

}  // namespace tallygrams::boundary
