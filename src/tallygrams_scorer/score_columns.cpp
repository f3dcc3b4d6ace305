#include "tallygrams_scorer/score_columns.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "boundary/arrow_exchange.hpp"
#include "boundary/method_record.hpp"
#include "boundary/native_object.hpp"
#include "boundary/new_object.hpp"

namespace tallygrams::companion {
namespace {

using boundary::BoundArguments;
using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

struct ScoreTable {
    arrow::Float64Batch batch;

    int visit(visitproc, void*) { return 0; }
    void clear() {}
};

const arrow::Float64Batch& batch_of(PyObject* self) { return boundary::payload_of<ScoreTable>(self).batch; }

bool is_null(const arrow::Float64Column& column, size_t row) {
    const arrow::ValidityBitmap* validity = column.validity();
    return validity != nullptr && ((validity->bits()[row / 8] >> (row % 8)) & 1) == 0;
}

Result<PyRef> column_list(const arrow::Float64Column& column) {
    PyRef list = boundary::new_object_or_fail(PyList_New(static_cast<Py_ssize_t>(column.length())));
    for (size_t row = 0; row < column.length(); ++row) {
        PyObject* value = is_null(column, row) ? Py_NewRef(Py_None)
                                               : boundary::new_object_or_fail(PyFloat_FromDouble(column.values()[row])).release();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(row), value);
    }
    return list;
}

// --- the PyCapsule interface --------------------------------------------------------

// A requested schema is a request, not a demand; these columns only come as
// float64, so the batch's own schema is what every export has.
Result<PyRef> schema_body(PyObject* self, PyTypeObject*, const BoundArguments&) {
    return boundary::schema_capsule(batch_of(self));
}

Result<PyRef> array_body(PyObject* self, PyTypeObject*, const BoundArguments&) {
    Result<PyRef> schema = boundary::schema_capsule(batch_of(self));
    if (!schema) return schema;
    Result<PyRef> array = boundary::array_capsule(batch_of(self));
    if (!array) return array;
    return boundary::new_object_or_fail(PyTuple_Pack(2, schema.value().get(), array.value().get()));
}

Result<PyRef> stream_body(PyObject* self, PyTypeObject*, const BoundArguments&) {
    return boundary::stream_capsule(batch_of(self));
}

constexpr boundary::Method kArrowSchema{
    .name = "__arrow_c_schema__",
    .signature = {.function_name = "ScoreColumns.__arrow_c_schema__", .method = true},
    .doc = "__arrow_c_schema__($self)\n--\n\nThe Arrow schema of the columns, as a PyCapsule.",
    .body = schema_body,
};
static_assert(boundary::doc_matches_signature(kArrowSchema));

constexpr boundary::Method kArrowArray{
    .name = "__arrow_c_array__",
    .signature = {.function_name = "ScoreColumns.__arrow_c_array__", .parameters = {{"requested_schema"}},
                  .required = 0,
                  .method = true},
    .doc = "__arrow_c_array__($self, requested_schema=None)\n--\n\n"
           "The columns as one Arrow record batch: a (schema, array) pair of PyCapsules.",
    .body = array_body,
};
static_assert(boundary::doc_matches_signature(kArrowArray));

constexpr boundary::Method kArrowStream{
    .name = "__arrow_c_stream__",
    .signature = {.function_name = "ScoreColumns.__arrow_c_stream__", .parameters = {{"requested_schema"}},
                  .required = 0,
                  .method = true},
    .doc = "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"
           "The columns as an Arrow stream of one record batch, in a PyCapsule.",
    .body = stream_body,
};
static_assert(boundary::doc_matches_signature(kArrowStream));

// --- reading columns back ---------------------------------------------------------

Result<PyRef> column_body(PyObject* self, PyTypeObject*, const BoundArguments& arguments) {
    Result<std::string_view> name = arguments.get<boundary::Text>(0);
    if (!name) return std::move(name).take_error();
    const arrow::Float64Batch& batch = batch_of(self);
    for (size_t k = 0; k < batch.column_count(); ++k) {
        if (batch.column(k).name() == name.value()) return column_list(batch.column(k));
    }
    return PyErr::from_exception(PyRef(PyObject_CallOneArg(PyExc_KeyError, arguments[0])));
}

constexpr boundary::Method kColumn{
    .name = "column",
    .signature = {.function_name = "ScoreColumns.column", .parameters = {{"name", &boundary::kText}}, .required = 1,
                  .method = true},
    .doc = "column($self, name)\n--\n\n"
           "One column as a new list of floats (None where the pair had a null text).",
    .body = column_body,
};
static_assert(boundary::doc_matches_signature(kColumn));

Result<PyRef> to_pydict_body(PyObject* self, PyTypeObject*, const BoundArguments&) {
    const arrow::Float64Batch& batch = batch_of(self);
    PyRef dict = boundary::new_object_or_fail(PyDict_New());
    for (size_t k = 0; k < batch.column_count(); ++k) {
        Result<PyRef> values = column_list(batch.column(k));
        if (!values) return values;
        if (PyDict_SetItemString(dict.get(), batch.column(k).name().c_str(), values.value().get()) < 0) {
            return PyErr::fetch();
        }
    }
    return dict;
}

constexpr boundary::Method kToPydict{
    .name = "to_pydict",
    .signature = {.function_name = "ScoreColumns.to_pydict", .method = true},
    .doc = "to_pydict($self)\n--\n\nEvery column as a list, in a dict by name.",
    .body = to_pydict_body,
};
static_assert(boundary::doc_matches_signature(kToPydict));

// --- pickling -------------------------------------------------------------------------

Result<PyRef> reduce_body(PyObject* self, PyTypeObject* defining_class, const BoundArguments&) {
    const arrow::Float64Batch& batch = batch_of(self);
    const auto count = static_cast<Py_ssize_t>(batch.column_count());
    PyRef names = boundary::new_object_or_fail(PyTuple_New(count));
    PyRef values = boundary::new_object_or_fail(PyTuple_New(count));
    PyRef nulls = boundary::new_object_or_fail(PyTuple_New(count));
    for (Py_ssize_t k = 0; k < count; ++k) {
        const arrow::Float64Column& column = batch.column(static_cast<size_t>(k));
        PyTuple_SET_ITEM(names.get(), k, boundary::new_object_or_fail(PyUnicode_FromString(column.name().c_str())).release());
        PyTuple_SET_ITEM(values.get(), k,
                         boundary::new_object_or_fail(
                             PyBytes_FromStringAndSize(reinterpret_cast<const char*>(column.values()),
                                                       static_cast<Py_ssize_t>(column.length() * sizeof(double))))
                             .release());
        // One byte per row, 1 where the row is null; None when none is.
        PyObject* null_rows = Py_NewRef(Py_None);
        if (column.null_count() > 0) {
            Py_DECREF(null_rows);
            null_rows = boundary::new_object_or_fail(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(column.length()))).release();
            char* bytes = PyBytes_AS_STRING(null_rows);
            for (size_t row = 0; row < column.length(); ++row) bytes[row] = is_null(column, row) ? 1 : 0;
        }
        PyTuple_SET_ITEM(nulls.get(), k, null_rows);
    }
    PyObject* module = PyType_GetModule(defining_class);
    if (module == nullptr) return PyErr::fetch();
    PyRef rebuild(PyObject_GetAttrString(module, "_score_columns_from_buffers"));
    if (!rebuild) return PyErr::fetch();
    PyRef rows = boundary::new_object_or_fail(PyLong_FromSize_t(batch.length()));
    PyRef args = boundary::new_object_or_fail(PyTuple_Pack(4, names.get(), rows.get(), values.get(), nulls.get()));
    return boundary::new_object_or_fail(PyTuple_Pack(2, rebuild.get(), args.get()));
}

constexpr boundary::Method kReduce{
    .name = "__reduce__",
    .signature = {.function_name = "ScoreColumns.__reduce__", .method = true},
    .doc = "__reduce__($self)\n--\n\nPickled as its column names, values and null rows.",
    .body = reduce_body,
};
static_assert(boundary::doc_matches_signature(kReduce));

PyObject* get_column_names(PyObject* self, void*) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        const arrow::Float64Batch& batch = batch_of(self);
        PyRef names = boundary::new_object_or_fail(PyTuple_New(static_cast<Py_ssize_t>(batch.column_count())));
        for (size_t k = 0; k < batch.column_count(); ++k) {
            PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(k),
                             boundary::new_object_or_fail(PyUnicode_FromString(batch.column(k).name().c_str())).release());
        }
        return names;
    });
}

PyObject* get_num_rows(PyObject* self, void*) {
    return boundary::boundary_object(
        [&]() -> Result<PyRef> { return boundary::new_object_or_fail(PyLong_FromSize_t(batch_of(self).length())); });
}

Py_ssize_t table_length(PyObject* self) { return static_cast<Py_ssize_t>(batch_of(self).length()); }

PyObject* table_repr(PyObject* self) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        const arrow::Float64Batch& batch = batch_of(self);
        std::string text = "ScoreColumns(" + std::to_string(batch.length()) + " rows: ";
        for (size_t k = 0; k < batch.column_count(); ++k) text += (k ? ", " : "") + batch.column(k).name();
        text += ")";
        return boundary::new_object_or_fail(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    });
}

PyMethodDef table_methods[] = {
    boundary::method_table_entry<kArrowSchema>(),
    boundary::method_table_entry<kArrowArray>(),
    boundary::method_table_entry<kArrowStream>(),
    boundary::method_table_entry<kColumn>(),
    boundary::method_table_entry<kToPydict>(),
    boundary::method_table_entry<kReduce>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {.name = "column_names", .get = get_column_names, .set = nullptr, .doc = "The columns' names, in order.",
     .closure = nullptr},
    {.name = "num_rows", .get = get_num_rows, .set = nullptr, .doc = "The number of rows (pairs).", .closure = nullptr},
    {.name = nullptr, .get = nullptr, .set = nullptr, .doc = nullptr, .closure = nullptr},
};

const PyType_Slot table_own_slots[] = {
    {Py_tp_doc, const_cast<char*>("Scores of many pairs as named float64 columns, one row per pair; an Arrow\n"
                                  "record batch and stream through the PyCapsule interface, and picklable.")},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_getset},
    {Py_tp_repr, reinterpret_cast<void*>(table_repr)},
    {Py_sq_length, reinterpret_cast<void*>(table_length)},
};
const auto table_slots = boundary::native_object_slots<ScoreTable>(table_own_slots);

// Made only by scoring, or by unpickling through a module function.
PyType_Spec table_spec = boundary::native_object_spec<ScoreTable>("tallygrams_scorer.ScoreColumns", table_slots,
                                                                  Py_TPFLAGS_DISALLOW_INSTANTIATION);

// --- rebuilding from a pickle -------------------------------------------------------

Result<PyRef> from_buffers_body(PyObject* module, const BoundArguments& arguments) {
    PyObject* names = arguments[0];
    PyObject* values = arguments[2];
    PyObject* nulls = arguments[3];
    const size_t rows = PyLong_AsSize_t(arguments[1]);
    if (rows == static_cast<size_t>(-1) && PyErr_Occurred()) return PyErr::fetch();
    const auto malformed = [] { return PyErr::new_message(PyExc_ValueError, "malformed pickled ScoreColumns"); };
    // A row count whose bytes would overflow could otherwise match a short
    // buffer; no real batch comes near the limit.
    constexpr size_t kMostRows = static_cast<size_t>(PY_SSIZE_T_MAX) / sizeof(double);
    if (rows > kMostRows || !PyTuple_Check(names) || !PyTuple_Check(values) || !PyTuple_Check(nulls) ||
        PyTuple_GET_SIZE(values) != PyTuple_GET_SIZE(names) || PyTuple_GET_SIZE(nulls) != PyTuple_GET_SIZE(names)) {
        return malformed();
    }
    arrow::Float64Batch batch(rows);
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(names); ++k) {
        PyObject* name = PyTuple_GET_ITEM(names, k);
        PyObject* data = PyTuple_GET_ITEM(values, k);
        PyObject* null_rows = PyTuple_GET_ITEM(nulls, k);
        if (!PyUnicode_Check(name) || !PyBytes_Check(data) ||
            static_cast<size_t>(PyBytes_GET_SIZE(data)) != rows * sizeof(double) ||
            (null_rows != Py_None && (!PyBytes_Check(null_rows) || static_cast<size_t>(PyBytes_GET_SIZE(null_rows)) != rows))) {
            return malformed();
        }
        arrow::OwnedBuffer buffer = arrow::OwnedBuffer::zeroed(rows * sizeof(double));
        if (rows > 0) std::memcpy(buffer.data(), PyBytes_AS_STRING(data), rows * sizeof(double));
        std::shared_ptr<arrow::ValidityBitmap> validity;
        if (null_rows != Py_None) {
            validity = std::make_shared<arrow::ValidityBitmap>(rows);
            for (size_t row = 0; row < rows; ++row) {
                if (PyBytes_AS_STRING(null_rows)[row] != 0) validity->set_null(row);
            }
        }
        batch.add_column(arrow::Float64Column(boundary::lossy_utf8(name), std::move(buffer), rows, std::move(validity)));
    }
    return new_score_columns(state_of_module(module), std::move(batch));
}

}  // namespace

constexpr boundary::ModuleFunction kScoreColumnsFromBuffers{
    .signature = {.function_name = "_score_columns_from_buffers",
                  .parameters = {{"names"}, {"rows"}, {"values"}, {"nulls"}},
                  .required = 4},
    .doc = "_score_columns_from_buffers(names, rows, values, nulls)\n--\n\n"
           "Rebuilds a pickled ScoreColumns.",
    .body = from_buffers_body,
    .receives_module = true,
};
static_assert(boundary::doc_matches_signature(kScoreColumnsFromBuffers));

Result<PyRef> create_score_columns_type(PyObject* module) { return boundary::new_module_class(module, table_spec); }

Result<PyRef> new_score_columns(const ModuleState& state, arrow::Float64Batch batch) {
    auto table = std::make_unique<ScoreTable>();
    table->batch = std::move(batch);
    return boundary::new_native_object(reinterpret_cast<PyTypeObject*>(state.score_columns_type), std::move(table));
}

}  // namespace tallygrams::companion
