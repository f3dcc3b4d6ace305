#include "boundary/arrow_exchange.hpp"

#include <cerrno>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "arrow/batch_stream.hpp"
#include "boundary/arguments.hpp"
#include "boundary/new_object.hpp"

namespace tallygrams::boundary {
namespace {

constexpr const char* kSchemaName = "arrow_schema";
constexpr const char* kArrayName = "arrow_array";
constexpr const char* kStreamName = "arrow_array_stream";

PyErr not_arrow(PyObject* exporter) {
    return PyErr::new_message(PyExc_TypeError,
                              type_mismatch_message(exporter, "Arrow array or stream") +
                                  ": expected an object with __arrow_c_stream__ or __arrow_c_array__ (a pyarrow "
                                  "Array, ChunkedArray or column, a polars Series, a dataset column)");
}

// The structure inside a capsule of the given name, which must be one.
template <class CStruct>
Result<CStruct*> capsule_pointer(PyObject* capsule, const char* name) {
    if (!PyCapsule_IsValid(capsule, name)) {
        return PyErr::new_message(PyExc_TypeError, std::string("the Arrow export did not return a capsule named '") +
                                                       name + "'");
    }
    return static_cast<CStruct*>(PyCapsule_GetPointer(capsule, name));
}

Result<std::shared_ptr<const arrow::ImportedData>> take_stream(PyObject* capsule) {
    Result<ArrowArrayStream*> stream = capsule_pointer<ArrowArrayStream>(capsule, kStreamName);
    if (!stream) return std::move(stream).take_error();
    arrow::ReadResult<std::shared_ptr<const arrow::ImportedData>> data =
        arrow::ImportedData::from_stream(arrow::OwnedStream::take(stream.value()));
    if (!data.ok()) return arrow_read_error(data.error(), "");
    return std::move(data).value();
}

Result<std::shared_ptr<const arrow::ImportedData>> take_array(PyObject* pair) {
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
        return PyErr::new_message(PyExc_TypeError, "__arrow_c_array__ must return a (schema, array) pair of capsules");
    }
    Result<ArrowSchema*> schema = capsule_pointer<ArrowSchema>(PyTuple_GET_ITEM(pair, 0), kSchemaName);
    if (!schema) return std::move(schema).take_error();
    Result<ArrowArray*> array = capsule_pointer<ArrowArray>(PyTuple_GET_ITEM(pair, 1), kArrayName);
    if (!array) return std::move(array).take_error();
    arrow::ReadResult<std::shared_ptr<const arrow::ImportedData>> data = arrow::ImportedData::from_array(
        arrow::OwnedSchema::take(schema.value()), arrow::OwnedArray::take(array.value()));
    if (!data.ok()) return arrow_read_error(data.error(), "");
    return std::move(data).value();
}

// What calling the named export method gives, or null if there is none.
Result<PyRef> call_export(PyObject* exporter, const char* method) {
    PyObject* found = nullptr;
    if (PyObject_GetOptionalAttrString(exporter, method, &found) < 0) return PyErr::fetch();
    const PyRef bound(found);
    if (!bound) return PyRef();
    PyRef exported(PyObject_CallNoArgs(bound.get()));
    if (!exported) return PyErr::fetch();
    return exported;
}

Result<std::shared_ptr<const arrow::ImportedData>> import_exported(PyObject* exporter) {
    Result<PyRef> stream = call_export(exporter, "__arrow_c_stream__");
    if (!stream) return std::move(stream).take_error();
    if (stream.value()) return take_stream(stream.value().get());
    Result<PyRef> array = call_export(exporter, "__arrow_c_array__");
    if (!array) return std::move(array).take_error();
    if (array.value()) return take_array(array.value().get());
    return not_arrow(exporter);
}

template <class CStruct>
void release_capsule(PyObject* capsule, const char* name) {
    auto* structure = static_cast<CStruct*>(PyCapsule_GetPointer(capsule, name));
    if (structure == nullptr) {
        PyErr_Clear();
        return;
    }
    if (structure->release != nullptr) structure->release(structure);
    delete structure;
}

void release_schema_capsule(PyObject* capsule) { release_capsule<ArrowSchema>(capsule, kSchemaName); }
void release_array_capsule(PyObject* capsule) { release_capsule<ArrowArray>(capsule, kArrayName); }
void release_stream_capsule(PyObject* capsule) { release_capsule<ArrowArrayStream>(capsule, kStreamName); }

// A capsule owning a new structure that `fill` exports into.
template <class CStruct, class Fill>
Result<PyRef> capsule_of(const char* name, PyCapsule_Destructor destructor, Fill&& fill) {
    auto structure = std::make_unique<CStruct>();
    structure->release = nullptr;
    fill(structure.get());
    PyObject* capsule = PyCapsule_New(structure.get(), name, destructor);
    if (capsule == nullptr) {
        if (structure->release != nullptr) structure->release(structure.get());
        return PyErr::fetch();
    }
    structure.release();  // the capsule owns it now
    return PyRef(capsule);
}

}  // namespace

PyErr arrow_read_error(const arrow::ReadError& error, std::string_view argument) {
    PyErr raised = [&] {
        switch (error.kind) {
            case arrow::ReadErrorKind::kUnsupportedType:
                return PyErr::new_message(PyExc_TypeError, error.message);
            case arrow::ReadErrorKind::kColumnNotFound:
                return PyErr::new_message(PyExc_KeyError, error.message);
            case arrow::ReadErrorKind::kStreamFailed:
                return PyErr::new_message(PyExc_OSError, error.message + (error.code != 0 ? " (errno " + std::to_string(error.code) + ")" : ""));
            default:
                return PyErr::new_message(PyExc_ValueError, error.message);
        }
    }();
    if (argument.empty()) return raised;
    return annotate_argument_error(argument, std::move(raised));
}

Result<std::shared_ptr<const arrow::ImportedData>> import_arrow(PyObject* exporter, std::string_view argument) {
    Result<std::shared_ptr<const arrow::ImportedData>> data = import_exported(exporter);
    if (!data) return annotate_argument_error(argument, std::move(data).take_error());
    return data;
}

Result<PyRef> schema_capsule(const arrow::Float64Batch& batch) {
    return capsule_of<ArrowSchema>(kSchemaName, release_schema_capsule,
                                   [&](ArrowSchema* out) { batch.export_schema(out); });
}

Result<PyRef> array_capsule(const arrow::Float64Batch& batch) {
    return capsule_of<ArrowArray>(kArrayName, release_array_capsule,
                                  [&](ArrowArray* out) { batch.export_array(out); });
}

Result<PyRef> stream_capsule(const arrow::Float64Batch& batch) {
    return capsule_of<ArrowArrayStream>(kStreamName, release_stream_capsule, [&](ArrowArrayStream* out) {
        arrow::export_stream(std::vector<arrow::Float64Batch>{batch}, out);
    });
}

}  // namespace tallygrams::boundary
