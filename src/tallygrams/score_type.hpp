// The Python class Score (one metric's precision, recall and F-measure,
// read-only, created only by the module), and the dict of Scores that
// `score` and `score_batch` return for a pair.
#pragma once

#include "boundary/py_err.hpp"
#include "scorer/score_arithmetic.hpp"

namespace tallygrams::module {

// The calling interpreter's class, created on first need there and shared
// by every module object of that interpreter.
boundary::Result<PyObject*> score_type();
// The same, for use after module execution, which created it.
PyObject* score_type_or_fail();

// A new Score instance holding `value`. `type` is the Score class.
boundary::Result<boundary::PyRef> new_score(PyObject* type, const scorer::Score& value);

// {"rouge1": Score, "rouge2": Score, "rougeL": Score}, all new objects.
// `type` is the Score class.
boundary::Result<boundary::PyRef> pair_scores_to_dict(PyObject* type, const scorer::PairScores& scores);

}  // namespace tallygrams::module
