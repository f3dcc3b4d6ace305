#include "tallygrams_scorer/pair_results.hpp"

#include <array>

#include "boundary/new_object.hpp"
#include "tallygrams_scorer/score_tuples.hpp"

namespace tallygrams::companion {

using boundary::PyRef;
using boundary::Result;

namespace {

// rouge-score's Score(precision=0, recall=0, fmeasure=0), in integers.
Result<PyRef> integer_zero_score(const ModuleState& state) {
    PyRef zero = boundary::new_object_or_fail(PyLong_FromLong(0));
    const std::array<PyObject*, 3> items = {zero.get(), zero.get(), zero.get()};
    return new_named_tuple(state.score_class, items);
}

}  // namespace

Result<PyRef> pair_result_dict(const ModuleState& state, const ScorerOptions& options, PairResults& results,
                               size_t pair) {
    PyRef dict = boundary::new_object_or_fail(PyDict_New());
    const scorer::Score* scores = results.scores_of(pair);
    const bool* zeros = results.zeros_of(pair);
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(options.keys.get()); ++k) {
        const size_t metric = options.metric_of_key[static_cast<size_t>(k)];
        Result<PyRef> score = zeros[metric] ? integer_zero_score(state) : new_score(state, scores[metric]);
        if (!score) return std::move(score).take_error();
        if (PyDict_SetItem(dict.get(), PyTuple_GET_ITEM(options.keys.get(), k), score.value().get()) < 0) {
            return boundary::PyErr::fetch();
        }
    }
    return dict;
}

}  // namespace tallygrams::companion
