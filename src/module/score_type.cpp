#include "module/score_type.hpp"

#include "module/call_boundary.hpp"
#include "module/new_object.hpp"
#include "module/once_cell.hpp"

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
    boundary_dealloc([&] {
        PyTypeObject* type = Py_TYPE(self);
        type->tp_free(self);
        Py_DECREF(type);  // every instance of a heap type holds its type
    });
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

PyType_Spec score_spec = {
    "tallygrams.Score",
    static_cast<int>(sizeof(ScoreObject)),
    0,
    Py_TPFLAGS_DISALLOW_INSTANTIATION,
    score_slots,
};

OnceObjectCell score_type_cell;

}  // namespace

Result<PyObject*> score_type() {
    return score_type_cell.get_or_init([]() -> Result<PyRef> {
        PyObject* type = PyType_FromSpec(&score_spec);
        if (type == nullptr) return PyErr::fetch();
        return PyRef(type);
    });
}

PyObject* created_score_type() {
    Result<PyObject*> type = score_type();
    if (!type) {
        std::move(type).take_error().restore();
        PyErr_WriteUnraisable(nullptr);
        fail_internally("failed to create type object for `Score`");
    }
    return type.value();
}

Result<PyRef> new_score(PyObject* type, const scorer::Score& value) {
    // The class refuses instantiation from Python, so go through object's
    // constructor slot directly.
    PyRef no_arguments = new_object_or_fail(PyTuple_New(0));
    PyObject* instance =
        PyBaseObject_Type.tp_new(reinterpret_cast<PyTypeObject*>(type), no_arguments.get(), nullptr);
    if (instance == nullptr) return PyErr::fetch();
    as_score(instance)->value = value;
    return PyRef(instance);
}

}  // namespace tallygrams::module
