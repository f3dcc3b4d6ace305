#include "tallygrams_scorer/rouge155_result.hpp"

#include <array>
#include <span>

#include "boundary/new_object.hpp"
#include "scorer/rouge155/printed_numbers.hpp"
#include "tallygrams_scorer/score_tuples.hpp"

namespace tallygrams::companion {

namespace {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;
namespace rouge155 = scorer::rouge155;

// The mapping class, written in Python: a dict that keeps the report and the
// per-pair figures beside its items.
constexpr const char* kResultSource = R"(
class Rouge155Result(dict):
    """The figures of a rouge155 evaluation, as the ROUGE-1.5.5 script prints them.

    A dict from each measure's name (ROUGE-1, ROUGE-L, ROUGE-W-1.2, ROUGE-SU4,
    ...) to Rouge155Figures(recall, precision, f) of Rouge155Interval(average,
    low, high), or, with -t 2, to Rouge155Counts(reference, prediction, hits).
    report() gives the script's printed text for system 1; per_pair, with -d,
    maps each measure to the pairs' figures, in pair order.
    """

    __slots__ = ("_report", "per_pair")

    def report(self):
        """The script's printed text for system 1, line for line."""
        return self._report
)";

Result<PyRef> make_result_class() {
    PyRef globals = boundary::new_object_or_fail(PyDict_New());
    PyRef name = boundary::new_object_or_fail(PyUnicode_FromString("tallygrams_scorer"));
    if (PyDict_SetItemString(globals.get(), "__name__", name.get()) < 0) return PyErr::fetch();
    if (PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins()) < 0) return PyErr::fetch();
    PyRef ran(PyRun_String(kResultSource, Py_file_input, globals.get(), globals.get()));
    if (!ran) return PyErr::fetch();
    PyObject* cls = PyDict_GetItemString(globals.get(), "Rouge155Result");
    if (cls == nullptr) return PyErr::new_message(PyExc_RuntimeError, "Rouge155Result was not defined");
    return PyRef::borrow(cls);
}

Result<PyRef> triple(PyObject* cls, double a, double b, double c) {
    const std::array<PyRef, 3> values = {boundary::new_object_or_fail(PyFloat_FromDouble(a)),
                                         boundary::new_object_or_fail(PyFloat_FromDouble(b)),
                                         boundary::new_object_or_fail(PyFloat_FromDouble(c))};
    const std::array<PyObject*, 3> items = {values[0].get(), values[1].get(), values[2].get()};
    return new_named_tuple(cls, items);
}

// A measure's figures over the evaluation, each as printed.
Result<PyRef> measure_figures(const ModuleState& state, const rouge155::Options& options,
                              const rouge155::MeasureSummary& s) {
    if (options.units == rouge155::Units::counts) {
        return triple(state.rouge155_counts_class, s.totals[0], s.totals[1], s.totals[2]);
    }
    std::array<PyRef, 3> intervals;
    for (int v = 0; v < 3; ++v) {
        Result<PyRef> interval = triple(state.rouge155_interval_class, rouge155::fixed5(s.average[v]),
                                        rouge155::fixed5(s.low[v]), rouge155::fixed5(s.high[v]));
        if (!interval) return interval;
        intervals[v] = std::move(interval).take_value();
    }
    const std::array<PyObject*, 3> items = {intervals[0].get(), intervals[1].get(), intervals[2].get()};
    return new_named_tuple(state.rouge155_figures_class, items);
}

Result<PyRef> pair_figures(const ModuleState& state, const rouge155::Options& options, const rouge155::PairFigures& f) {
    if (options.units == rouge155::Units::pairs) return triple(state.rouge155_figures_class, f.recall, f.precision, f.f);
    return triple(state.rouge155_counts_class, f.reference, f.prediction, f.hits);
}

}  // namespace

boundary::Status create_rouge155_classes(ModuleState& state) {
    Result<PyRef> interval = make_named_tuple_class(
        "Rouge155Interval", {"average", "low", "high"},
        "Rouge155Interval(average, low, high)\n\nA figure of the ROUGE-1.5.5 script: its average over the "
        "bootstrap resamples and its confidence interval, each as printed (five decimals).");
    if (!interval) return std::move(interval).take_error();
    Result<PyRef> figures = make_named_tuple_class(
        "Rouge155Figures", {"recall", "precision", "f"},
        "Rouge155Figures(recall, precision, f)\n\nA measure's recall, precision and F, as the ROUGE-1.5.5 "
        "script prints them: Rouge155Interval for an evaluation, floats for one pair.");
    if (!figures) return std::move(figures).take_error();
    Result<PyRef> counts = make_named_tuple_class(
        "Rouge155Counts", {"reference", "prediction", "hits"},
        "Rouge155Counts(reference, prediction, hits)\n\nA measure's counts under -t 1 or 2: the references' "
        "n-grams (or tokens, skip-bigrams, weights), the prediction's, and the hits.");
    if (!counts) return std::move(counts).take_error();
    Result<PyRef> result = make_result_class();
    if (!result) return std::move(result).take_error();
    state.rouge155_interval_class = std::move(interval).take_value().release();
    state.rouge155_figures_class = std::move(figures).take_value().release();
    state.rouge155_counts_class = std::move(counts).take_value().release();
    state.rouge155_result_class = std::move(result).take_value().release();
    return boundary::Unit{};
}

Result<PyRef> rouge155_result(const ModuleState& state, const rouge155::Options& options,
                              const engine::Rouge155Evaluation& evaluation, size_t pairs, const std::string& report) {
    PyRef result(PyObject_CallNoArgs(state.rouge155_result_class));
    if (!result) return PyErr::fetch();
    const size_t m = evaluation.measures.size();
    for (size_t k = 0; k < m; ++k) {
        Result<PyRef> figures = measure_figures(state, options, evaluation.summaries[k]);
        if (!figures) return figures;
        if (PyDict_SetItemString(result.get(), evaluation.measures[k].name.c_str(), figures.value().get()) < 0) {
            return PyErr::fetch();
        }
    }
    PyRef text = boundary::new_object_or_fail(
        PyUnicode_FromStringAndSize(report.data(), static_cast<Py_ssize_t>(report.size())));
    if (PyObject_SetAttrString(result.get(), "_report", text.get()) < 0) return PyErr::fetch();
    PyRef per_pair = PyRef::borrow(Py_None);
    if (options.per_pair) {
        per_pair = boundary::new_object_or_fail(PyDict_New());
        for (size_t k = 0; k < m; ++k) {
            PyRef list = boundary::new_object_or_fail(PyList_New(static_cast<Py_ssize_t>(pairs)));
            for (size_t i = 0; i < pairs; ++i) {
                Result<PyRef> figures = pair_figures(state, options, evaluation.figures[i * m + k]);
                if (!figures) return figures;
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), std::move(figures).take_value().release());
            }
            if (PyDict_SetItemString(per_pair.get(), evaluation.measures[k].name.c_str(), list.get()) < 0) {
                return PyErr::fetch();
            }
        }
    }
    if (PyObject_SetAttrString(result.get(), "per_pair", per_pair.get()) < 0) return PyErr::fetch();
    return result;
}

}  // namespace tallygrams::companion
