#include "module/score_type.hpp"

#include "boundary/call_boundary.hpp"
#include "boundary/heap_type.hpp"
#include "boundary/new_object.hpp"

namespace tallygrams::module {
namespace {

struct ScoreObject {
    PyObject_HEAD
    scorer::Score value;
};

ScoreObject* as_score(PyObject* object) noexcept { return reinterpret_cast<ScoreObject*>(object); }

template <double scorer::Score::*Field>
PyObject* get_field(PyObject* self, void* /*closure*/) {
    return boundary::boundary_object([&]() -> boundary::Result<boundary::PyRef> {
        return boundary::new_object_or_fail(PyFloat_FromDouble(as_score(self)->value.*Field));
    });
}

void dealloc_score(PyObject* self) {
    boundary::boundary_dealloc([&] { boundary::free_heap_instance(self); });
}

PyGetSetDef score_getset[] = {
    {"precision", get_field<&scorer::Score::precision>, nullptr, nullptr, nullptr},
    {"recall", get_field<&scorer::Score::recall>, nullptr, nullptr, nullptr},
    {"fmeasure", get_field<&scorer::Score::fmeasure>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot score_slots[] = {
    {Py_tp_doc, const_cast<char*>("Precision, recall, and F-measure values for one ROUGE metric.")},
    {Py_tp_getset, score_getset},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_score)},
    {0, nullptr},
};

PyType_Spec score_type_definition = {
    "tallygrams.Score",
    static_cast<int>(sizeof(ScoreObject)),
    0,
    Py_TPFLAGS_DISALLOW_INSTANTIATION,
    score_slots,
};

boundary::HeapTypeCell score_type_cell(score_type_definition, "Score");

}  // namespace

boundary::Result<PyObject*> score_type() { return score_type_cell.get(); }

PyObject* created_score_type() { return score_type_cell.get_or_fail(); }

boundary::Result<boundary::PyRef> new_score(PyObject* type, const scorer::Score& value) {
    boundary::Result<boundary::PyRef> instance = boundary::new_instance(type);
    if (instance) as_score(instance.value().get())->value = value;
    return instance;
}

}  // namespace tallygrams::module
