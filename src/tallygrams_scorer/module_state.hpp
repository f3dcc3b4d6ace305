// What one `tallygrams_scorer` module object holds: the classes it created
// in its interpreter. Everything Python-level of the module lives here, not
// in process-wide variables, so that each interpreter has its own.
#pragma once

#include "boundary/python.hpp"

namespace tallygrams::companion {

struct ModuleState {
    PyObject* score_class = nullptr;      // Score(precision, recall, fmeasure), a named tuple
    PyObject* aggregate_class = nullptr;  // AggregateScore(low, mid, high), a named tuple
    PyObject* interval_class = nullptr;   // Interval(mean, low, mid, high), a named tuple
    PyObject* comparison_class = nullptr; // Comparison(baseline, system, difference, low, high, p_value)
    PyObject* rouge_scorer_type = nullptr;
    PyObject* aggregator_type = nullptr;
    PyObject* score_columns_type = nullptr;
    PyObject* default_scorer = nullptr;  // RougeScorer(["rouge1", "rouge2", "rougeL"]), for score_arrow
    PyObject* rouge155_interval_class = nullptr;  // Rouge155Interval(average, low, high), a named tuple
    PyObject* rouge155_figures_class = nullptr;   // Rouge155Figures(recall, precision, f), a named tuple
    PyObject* rouge155_counts_class = nullptr;    // Rouge155Counts(reference, prediction, hits), a named tuple
    PyObject* rouge155_result_class = nullptr;    // Rouge155Result, a dict
};

// The module definition, for finding a module from one of its classes.
PyModuleDef& module_definition();

inline ModuleState& state_of_module(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

// From a method's defining class (METH_METHOD), which belongs to the module.
inline ModuleState& state_of_class(PyTypeObject* defining_class) {
    return *static_cast<ModuleState*>(PyType_GetModuleState(defining_class));
}

}  // namespace tallygrams::companion
