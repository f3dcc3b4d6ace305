// The compiled module `tallygrams`: its definition, its execution step and
// the one exported symbol. It only assembles what the layers below provide.
#include "boundary/call_boundary.hpp"
#include "boundary/module_attributes.hpp"
#include "boundary/module_function.hpp"
#include "boundary/new_object.hpp"
#include "tallygrams/batch_score_result.hpp"
#include "tallygrams/score_batch.hpp"
#include "tallygrams/score_batch_flat.hpp"
#include "tallygrams/score_function.hpp"
#include "tallygrams/score_type.hpp"

namespace tallygrams {
namespace {

using boundary::method_definition;
using boundary::Status;

// From pyproject.toml, through the build.
constexpr const char* kVersion = TALLYGRAMS_VERSION;

// In the order they enter the module.
PyMethodDef* const kFunctions[] = {
    &method_definition<module::kScoreFunction>,
    &method_definition<batch::kScoreBatchFunction>,
    &method_definition<batch::kScoreBatchFlatFunction>,
};

Status execute_module(PyObject* module) {
    boundary::PyRef version = boundary::new_object_or_fail(PyUnicode_FromString(kVersion));
    if (Status s = boundary::add_to_module(module, "__version__", version.get()); !s) return s;
    if (Status s = boundary::add_class(module, "Score", module::score_type()); !s) return s;
    if (Status s = boundary::add_class(module, "BatchScoreResult", batch::batch_score_result_type()); !s) return s;
    for (PyMethodDef* definition : kFunctions) {
        if (Status s = boundary::add_function(module, definition); !s) return s;
    }
    return boundary::Unit{};
}

int exec_slot(PyObject* module) {
    return boundary::boundary_status([&] { return execute_module(module); });
}

// Every Python object the module keeps lives in the interpreter it was made
// for (boundary/per_interpreter.hpp), and the worker pool, which is shared by
// the whole process, never touches one. So interpreters with a GIL of their
// own may load it, and run it at the same time.
PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_slot)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tallygrams",
    .m_doc = "Fast, exact ROUGE-1, ROUGE-2 and ROUGE-L scoring of text pairs, with stemming disabled.",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace tallygrams

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_tallygrams() {
    return PyModuleDef_Init(&tallygrams::module_definition);
}
