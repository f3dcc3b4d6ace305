// score(reference, prediction) and the conversion of one pair's nine numbers
// into the result dict, shared with score_batch.
#pragma once

#include "boundary/py_err.hpp"
#include "scorer/score_arithmetic.hpp"

namespace tallygrams::module {

// {"rouge1": Score, "rouge2": Score, "rougeL": Score}, all new objects.
boundary::Result<boundary::PyRef> pair_scores_to_dict(const scorer::PairScores& scores);

PyObject* score_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace tallygrams::module
