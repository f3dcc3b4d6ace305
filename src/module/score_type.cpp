#include "module/score_type.hpp"

#include "module/call_boundary.hpp"
#include "module/heap_type.hpp"
#include "module/new_object.hpp"

namespace tallygrams::module {
namespace {

struct ScoreObject {
    PyObject_HEAD
    scorer::Score value;
};

ScoreObject* as_score(PyObject* object) noexcept { return reinterpret_cast<ScoreObject*>(object); }

template <double scorer::Score::*Field>
PyObject* get_field(PyObject* self, void* /*closure*/) {
    return boundary_object([&]() -> Result<PyRef> {
        return new_object_or_fail(PyFloat_FromDouble(as_score(self)->value.*Field));
    });
}

void dealloc_score(PyObject* self) {
    boundary_dealloc([&] { free_heap_instance(self); });
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

HeapTypeCell score_type_cell(score_type_definition, "Score");

}  // namespace

Result<PyObject*> score_type() { return score_type_cell.get(); }

PyObject* created_score_type() { return score_type_cell.get_or_fail(); }

Result<PyRef> new_score(PyObject* type, const scorer::Score& value) {
    Result<PyRef> instance = new_instance(type);
    if (instance) as_score(instance.value().get())->value = value;
    return instance;
}

}  // namespace tallygrams::module
