// The compiled part of the package `tallygrams_scorer`: every configuration
// of the rouge-score package's scorer, exactly and natively. This file
// assembles the module `tallygrams_scorer._native` from the classes and
// functions beside it; the package's __init__.py takes all of them in. Each
// module object keeps its own classes in its state, so every interpreter
// has its own.
#include <utility>

#include "boundary/call_boundary.hpp"
#include "boundary/module_attributes.hpp"
#include "boundary/new_object.hpp"
#include "boundary/module_function.hpp"
#include "tallygrams_scorer/arrow_scoring.hpp"
#include "tallygrams_scorer/bootstrap_aggregator.hpp"
#include "tallygrams_scorer/bootstrap_function.hpp"
#include "tallygrams_scorer/compare_function.hpp"
#include "tallygrams_scorer/score_columns.hpp"
#include "tallygrams_scorer/module_state.hpp"
#include "tallygrams_scorer/rouge155_function.hpp"
#include "tallygrams_scorer/rouge155_result.hpp"
#include "tallygrams_scorer/rouge_scorer.hpp"
#include "tallygrams_scorer/score_tuples.hpp"

namespace tallygrams::companion {
namespace {

using boundary::PyRef;
using boundary::Result;
using boundary::Status;

// From pyproject.toml, through the build.
constexpr const char* kVersion = TALLYGRAMS_VERSION;
// The name the classes and functions give as their module: the package's,
// where they are found, so that pickles name them as before the package
// existed and do not depend on how the package is split.
constexpr const char* kPublicModule = "tallygrams_scorer";

Status add_public_function(PyObject* module, PyObject* public_name, PyMethodDef* definition) {
    PyRef function(PyCMethod_New(definition, module, public_name, nullptr));
    if (!function) return boundary::PyErr::fetch();
    return boundary::add_to_module(module, definition->ml_name, function.get());
}

Status add_owned_class(PyObject* module, std::string_view name, PyObject*& slot, Result<PyRef> created) {
    if (!created) return std::move(created).take_error();
    slot = std::move(created).take_value().release();
    return boundary::add_to_module(module, name, slot);
}

// In the order they enter the module.
PyMethodDef* const kFunctions[] = {
    &boundary::method_definition<kScoreArrowFunction>,
    &boundary::method_definition<kScoreRecordBatchFunction>,
    &boundary::method_definition<kBootstrapFunction>,
    &boundary::method_definition<kResampleMeansFunction>,
    &boundary::method_definition<kCompareFunction>,
    &boundary::method_definition<kRouge155Function>,
};

// The scorer behind score_arrow and score_record_batch's default.
Status create_default_scorer(ModuleState& state) {
    PyRef types = boundary::new_object_or_fail(Py_BuildValue("[sss]", "rouge1", "rouge2", "rougeL"));
    PyRef scorer(PyObject_CallOneArg(state.rouge_scorer_type, types.get()));
    if (!scorer) return boundary::PyErr::fetch();
    state.default_scorer = scorer.release();
    return boundary::Unit{};
}

Status execute_module(PyObject* module) {
    ModuleState& state = state_of_module(module);
    PyRef version = boundary::new_object_or_fail(PyUnicode_FromString(kVersion));
    if (Status s = boundary::add_to_module(module, "__version__", version.get()); !s) return s;
    if (Status s = create_score_classes(state); !s) return s;
    if (Status s = boundary::add_to_module(module, "Score", state.score_class); !s) return s;
    if (Status s = boundary::add_to_module(module, "AggregateScore", state.aggregate_class); !s) return s;
    if (Status s = create_interval_class(state); !s) return s;
    if (Status s = boundary::add_to_module(module, "Interval", state.interval_class); !s) return s;
    if (Status s = create_comparison_class(state); !s) return s;
    if (Status s = boundary::add_to_module(module, "Comparison", state.comparison_class); !s) return s;
    if (Status s = add_owned_class(module, "RougeScorer", state.rouge_scorer_type, create_rouge_scorer_type(module));
        !s) {
        return s;
    }
    if (Status s = add_owned_class(module, "BootstrapAggregator", state.aggregator_type, create_aggregator_type(module));
        !s) {
        return s;
    }
    if (Status s = add_owned_class(module, "ScoreColumns", state.score_columns_type, create_score_columns_type(module));
        !s) {
        return s;
    }
    if (Status s = create_rouge155_classes(state); !s) return s;
    for (const auto& [name, cls] : {std::pair{"Rouge155Result", state.rouge155_result_class},
                                    std::pair{"Rouge155Figures", state.rouge155_figures_class},
                                    std::pair{"Rouge155Interval", state.rouge155_interval_class},
                                    std::pair{"Rouge155Counts", state.rouge155_counts_class}}) {
        if (Status s = boundary::add_to_module(module, name, cls); !s) return s;
    }
    if (Status s = create_default_scorer(state); !s) return s;
    PyRef public_name = boundary::new_object_or_fail(PyUnicode_FromString(kPublicModule));
    for (PyMethodDef* definition : kFunctions) {
        if (Status s = add_public_function(module, public_name.get(), definition); !s) return s;
    }
    // What a pickled ScoreColumns is rebuilt with: on the module, so that a
    // pickle can name it, but not in __all__.
    PyRef rebuild(PyCMethod_New(&boundary::method_definition<kScoreColumnsFromBuffers>, module, public_name.get(),
                                nullptr));
    if (!rebuild) return boundary::PyErr::fetch();
    if (PyModule_AddObjectRef(module, "_score_columns_from_buffers", rebuild.get()) < 0) return boundary::PyErr::fetch();
    return boundary::Unit{};
}

int exec_slot(PyObject* module) {
    return boundary::boundary_status([&] { return execute_module(module); });
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
    ModuleState& state = state_of_module(module);
    Py_VISIT(state.score_class);
    Py_VISIT(state.aggregate_class);
    Py_VISIT(state.interval_class);
    Py_VISIT(state.comparison_class);
    Py_VISIT(state.rouge_scorer_type);
    Py_VISIT(state.aggregator_type);
    Py_VISIT(state.score_columns_type);
    Py_VISIT(state.default_scorer);
    Py_VISIT(state.rouge155_interval_class);
    Py_VISIT(state.rouge155_figures_class);
    Py_VISIT(state.rouge155_counts_class);
    Py_VISIT(state.rouge155_result_class);
    return 0;
}

int clear_module(PyObject* module) {
    ModuleState& state = state_of_module(module);
    Py_CLEAR(state.score_class);
    Py_CLEAR(state.aggregate_class);
    Py_CLEAR(state.interval_class);
    Py_CLEAR(state.comparison_class);
    Py_CLEAR(state.rouge_scorer_type);
    Py_CLEAR(state.aggregator_type);
    Py_CLEAR(state.score_columns_type);
    Py_CLEAR(state.default_scorer);
    Py_CLEAR(state.rouge155_interval_class);
    Py_CLEAR(state.rouge155_figures_class);
    Py_CLEAR(state.rouge155_counts_class);
    Py_CLEAR(state.rouge155_result_class);
    return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_slot)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tallygrams_scorer._native",
    .m_doc = "The compiled part of tallygrams_scorer; import that package instead.",
    .m_size = sizeof(ModuleState),
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = traverse_module,
    .m_clear = clear_module,
    .m_free = free_module,
};

}  // namespace

PyModuleDef& module_definition() { return definition; }

}  // namespace tallygrams::companion

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
    return PyModuleDef_Init(&tallygrams::companion::module_definition());
}
