// BatchScoreResult and score_batch_flat(references, predictions): nine
// columns of floats, each handed out as a new list when read.
#pragma once

#include "boundary/py_err.hpp"

namespace tallygrams::batch {

// The class, created on first need and shared by every module object.
boundary::Result<PyObject*> batch_score_result_type();

PyObject* score_batch_flat_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace tallygrams::batch
