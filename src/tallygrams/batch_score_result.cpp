#include "tallygrams/batch_score_result.hpp"

#include <cstdlib>

#include "boundary/call_boundary.hpp"
#include "boundary/heap_type.hpp"
#include "boundary/new_object.hpp"

namespace tallygrams::batch {
namespace {

using boundary::PyRef;
using boundary::Result;

struct Column {
    double* values;  // owned, taken from the runner's column output (calloc)
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
    return boundary::boundary_object([&]() -> Result<PyRef> {
        const Column& column = as_result(self)->columns[K];
        const auto n = static_cast<Py_ssize_t>(column.length);
        PyRef list = boundary::new_object_or_fail(PyList_New(n));
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
    {.name = "rouge1_precision", .get = get_column<0>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "rouge1_recall", .get = get_column<1>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "rouge1_fmeasure", .get = get_column<2>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "rouge2_precision", .get = get_column<3>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "rouge2_recall", .get = get_column<4>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "rouge2_fmeasure", .get = get_column<5>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "rougeL_precision", .get = get_column<6>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "rougeL_recall", .get = get_column<7>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = "rougeL_fmeasure", .get = get_column<8>, .set = nullptr, .doc = nullptr, .closure = nullptr},
    {.name = nullptr, .get = nullptr, .set = nullptr, .doc = nullptr, .closure = nullptr},
};

PyType_Slot result_slots[] = {
    {Py_tp_doc, const_cast<char*>("Column-oriented ROUGE scores returned by `score_batch_flat`.")},
    {Py_tp_getset, result_getset},
    {Py_tp_methods, boundary::not_picklable_methods},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_result)},
    {0, nullptr},
};

PyType_Spec result_type_definition = {
    .name = "tallygrams.BatchScoreResult",
    .basicsize = static_cast<int>(sizeof(BatchScoreResultObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = result_slots,
};

boundary::HeapTypeCell result_type_cell(result_type_definition, "BatchScoreResult");

}  // namespace

Result<PyObject*> batch_score_result_type() { return result_type_cell.get(); }

Result<PyRef> new_batch_score_result(engine::ColumnOutput& columns) {
    Result<PyRef> instance = boundary::new_instance(result_type_cell.get_or_fail());
    if (!instance) return instance;
    for (size_t k = 0; k < engine::ColumnOutput::kColumnCount; ++k) {
        as_result(instance.value().get())->columns[k] = Column{columns.take_column(k).release(), columns.length()};
    }
    return instance;
}

}  // namespace tallygrams::batch
