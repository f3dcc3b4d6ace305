// The module definition, its execution step and the one exported symbol.
#include <string_view>

#include "batch/batch_score_result.hpp"
#include "batch/score_batch.hpp"
#include "boundary/call_boundary.hpp"
#include "boundary/new_object.hpp"
#include "boundary/python.hpp"
#include "module/score_function.hpp"
#include "module/score_type.hpp"

namespace tallygrams::module {
namespace {

constexpr const char* kVersion = "0.1.12";

PyMethodDef score_def = {
    "score",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(score_entry)),
    METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    "score(reference, prediction)\n--\n\n"
    "Score one reference/prediction pair with ROUGE-1, ROUGE-2, and ROUGE-L.\n\n"
    "Returns a dict mapping metric names to read-only Score objects. Empty\n"
    "token sequences produce zero scores. The native computation releases the GIL.",
};

PyMethodDef score_batch_def = {
    "score_batch",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(batch::score_batch_entry)),
    METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    "score_batch(references, predictions)\n--\n\n"
    "Score equally sized reference and prediction sequences in parallel.\n\n"
    "Returns a list of score dicts in input order. Raises ValueError when lengths\n"
    "differ and TypeError for non-string elements. The native computation releases the GIL.",
};

PyMethodDef score_batch_flat_def = {
    "score_batch_flat",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(batch::score_batch_flat_entry)),
    METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    "score_batch_flat(references, predictions)\n--\n\n"
    "Score equally sized sequences and return nine metric columns in input order.\n\n"
    "Each attribute access copies a column to a Python list; retain the list for\n"
    "repeated access. Raises ValueError for unequal lengths. Releases the GIL.",
};

// `__all__`, created on first use, then the name, then the attribute: a
// failing store therefore leaves the name listed.
boundary::Status add_to_module(PyObject* module, std::string_view name, PyObject* value) {
    boundary::PyRef all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return boundary::PyErr::fetch();
        PyErr_Clear();
        all = boundary::new_object_or_fail(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return boundary::PyErr::fetch();
    } else if (!PyList_Check(all.get())) {
        return boundary::type_mismatch(all.get(), "list");
    }
    boundary::PyRef key = boundary::new_object_or_fail(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
    if (PyList_Append(all.get(), key.get()) < 0) {
        PyErr_WriteUnraisable(nullptr);
        fail_internally("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, key.get(), value) < 0) return boundary::PyErr::fetch();
    return boundary::Unit{};
}

boundary::Status add_function(PyObject* module, PyMethodDef* definition) {
    boundary::PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return boundary::PyErr::fetch();
    boundary::PyRef function(PyCMethod_New(definition, module, module_name.get(), nullptr));
    if (!function) return boundary::PyErr::fetch();
    boundary::PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return boundary::PyErr::fetch();
    if (!PyUnicode_Check(name.get())) return boundary::type_mismatch(name.get(), "str");
    return add_to_module(module, boundary::lossy_utf8(name.get()), function.get());
}

boundary::Status add_class(PyObject* module, std::string_view name, boundary::Result<PyObject*> type) {
    if (!type) return std::move(type).take_error();
    return add_to_module(module, name, type.value());
}

boundary::Status execute_module(PyObject* module) {
    boundary::PyRef version = boundary::new_object_or_fail(PyUnicode_FromString(kVersion));
    if (boundary::Status s = add_to_module(module, "__version__", version.get()); !s) return s;
    if (boundary::Status s = add_class(module, "Score", score_type()); !s) return s;
    if (boundary::Status s = add_class(module, "BatchScoreResult", batch::batch_score_result_type()); !s) return s;
    for (PyMethodDef* definition : {&score_def, &score_batch_def, &score_batch_flat_def}) {
        if (boundary::Status s = add_function(module, definition); !s) return s;
    }
    return boundary::Unit{};
}

int exec_slot(PyObject* module) {
    return boundary::boundary_status([&] { return execute_module(module); });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_slot)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "tallygrams",
    "Fast, exact ROUGE-1, ROUGE-2 and ROUGE-L scoring of text pairs, with stemming disabled.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tallygrams::module

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_tallygrams() {
    return PyModuleDef_Init(&tallygrams::module::module_def);
}
