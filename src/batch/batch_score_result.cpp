#include "batch/batch_score_result.hpp"

#include <cstdlib>

#include "batch/batch_call.hpp"
#include "boundary/call_boundary.hpp"
#include "boundary/heap_type.hpp"
#include "boundary/new_object.hpp"

namespace tallygrams::batch {
namespace {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

struct Column {
    double* values;  // owned, from engine::ColumnOutput (calloc)
    size_t length;
};

struct BatchScoreResultObject {
    PyObject_HEAD
    Column columns[engine::ColumnOutput::kColumnCount];
};

BatchScoreResultObject* as_result(PyObject* object) noexcept {
    return reinterpret_cast<BatchScoreResultObject*>(object);
}

template <size_t K>
PyObject* get_column(PyObject* self, void* /*closure*/) {
    return boundary::boundary_object([&]() -> boundary::Result<boundary::PyRef> {
        const Column& column = as_result(self)->columns[K];
        const auto n = static_cast<Py_ssize_t>(column.length);
        boundary::PyRef list = boundary::new_object_or_fail(PyList_New(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyList_SET_ITEM(list.get(), i, boundary::new_object_or_fail(PyFloat_FromDouble(column.values[i])).release());
        }
        return list;
    });
}

void dealloc_result(PyObject* self) {
    boundary::boundary_dealloc([&] {
        for (Column& column : as_result(self)->columns) {
            std::free(column.values);
            column.values = nullptr;
        }
        boundary::free_heap_instance(self);
    });
}

PyGetSetDef result_getset[] = {
    {"rouge1_precision", get_column<0>, nullptr, nullptr, nullptr},
    {"rouge1_recall", get_column<1>, nullptr, nullptr, nullptr},
    {"rouge1_fmeasure", get_column<2>, nullptr, nullptr, nullptr},
    {"rouge2_precision", get_column<3>, nullptr, nullptr, nullptr},
    {"rouge2_recall", get_column<4>, nullptr, nullptr, nullptr},
    {"rouge2_fmeasure", get_column<5>, nullptr, nullptr, nullptr},
    {"rougeL_precision", get_column<6>, nullptr, nullptr, nullptr},
    {"rougeL_recall", get_column<7>, nullptr, nullptr, nullptr},
    {"rougeL_fmeasure", get_column<8>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot result_slots[] = {
    {Py_tp_doc, const_cast<char*>("Column-oriented ROUGE scores returned by `score_batch_flat`.")},
    {Py_tp_getset, result_getset},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_result)},
    {0, nullptr},
};

PyType_Spec result_type_definition = {
    "tallygrams.BatchScoreResult",
    static_cast<int>(sizeof(BatchScoreResultObject)),
    0,
    Py_TPFLAGS_DISALLOW_INSTANTIATION,
    result_slots,
};

boundary::HeapTypeCell result_type_cell(result_type_definition, "BatchScoreResult");

// Moves the columns into a new instance; on failure they are freed with
// `columns`.
boundary::Result<boundary::PyRef> new_result(engine::ColumnOutput& columns) {
    boundary::Result<boundary::PyRef> instance = boundary::new_instance(result_type_cell.get_or_fail());
    if (!instance) return instance;
    for (size_t k = 0; k < engine::ColumnOutput::kColumnCount; ++k) {
        as_result(instance.value().get())->columns[k] = Column{columns.take_column(k).release(), columns.length()};
    }
    return instance;
}

constexpr boundary::CallSignature kScoreBatchFlatSignature{"score_batch_flat", {"references", "predictions"}};

boundary::Result<boundary::PyRef> score_batch_flat_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    boundary::Result<BatchInputs> inputs = bind_and_extract(kScoreBatchFlatSignature, args, nargs, kwnames);
    if (!inputs) return std::move(inputs).take_error();
    engine::ColumnOutput columns = score_detached<engine::ColumnOutput>(std::move(inputs).take_value());
    return new_result(columns);
}

}  // namespace

boundary::Result<PyObject*> batch_score_result_type() { return result_type_cell.get(); }

PyObject* score_batch_flat_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary::boundary_object([&] { return score_batch_flat_body(args, nargs, kwnames); });
}

}  // namespace tallygrams::batch
