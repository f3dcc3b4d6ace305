#include "batch/batch_score_result.hpp"

#include <cstdlib>

#include "batch/batch_call.hpp"
#include "module/call_boundary.hpp"
#include "module/heap_type.hpp"
#include "module/new_object.hpp"

namespace tallygrams::batch {
namespace {

using module::PyErr;
using module::PyRef;
using module::Result;

struct Column {
    double* values;  // owned, from ColumnOutput (calloc)
    size_t length;
};

struct BatchScoreResultObject {
    PyObject_HEAD
    Column columns[ColumnOutput::kColumnCount];
};

BatchScoreResultObject* as_result(PyObject* object) noexcept {
    return reinterpret_cast<BatchScoreResultObject*>(object);
}

template <size_t K>
PyObject* get_column(PyObject* self, void* /*closure*/) {
    return module::boundary_object([&]() -> Result<PyRef> {
        const Column& column = as_result(self)->columns[K];
        const auto n = static_cast<Py_ssize_t>(column.length);
        PyRef list = module::new_object_or_fail(PyList_New(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyList_SET_ITEM(list.get(), i, module::new_object_or_fail(PyFloat_FromDouble(column.values[i])).release());
        }
        return list;
    });
}

void dealloc_result(PyObject* self) {
    module::boundary_dealloc([&] {
        for (Column& column : as_result(self)->columns) {
            std::free(column.values);
            column.values = nullptr;
        }
        module::free_heap_instance(self);
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

module::HeapTypeCell result_type_cell(result_type_definition, "BatchScoreResult");

// Moves the columns into a new instance; on failure they are freed with
// `columns`.
Result<PyRef> new_result(ColumnOutput& columns) {
    Result<PyRef> instance = module::new_instance(result_type_cell.get_or_fail());
    if (!instance) return instance;
    for (size_t k = 0; k < ColumnOutput::kColumnCount; ++k) {
        as_result(instance.value().get())->columns[k] = Column{columns.take_column(k).release(), columns.length()};
    }
    return instance;
}

constexpr module::CallSignature kScoreBatchFlatSignature{"score_batch_flat", {"references", "predictions"}};

Result<PyRef> score_batch_flat_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Result<BatchInputs> inputs = bind_and_extract(kScoreBatchFlatSignature, args, nargs, kwnames);
    if (!inputs) return std::move(inputs).take_error();
    ColumnOutput columns = score_detached<ColumnOutput>(std::move(inputs).take_value());
    return new_result(columns);
}

}  // namespace

Result<PyObject*> batch_score_result_type() { return result_type_cell.get(); }

PyObject* score_batch_flat_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return module::boundary_object([&] { return score_batch_flat_body(args, nargs, kwnames); });
}

}  // namespace tallygrams::batch
