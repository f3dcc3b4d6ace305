// The Python class Score: one metric's precision, recall and F-measure,
// read-only, created only by the module.
#pragma once

#include "boundary/py_err.hpp"
#include "scorer/score_arithmetic.hpp"

namespace tallygrams::module {

// The class, created on first need and shared by every module object of the
// process.
boundary::Result<PyObject*> score_type();

// The class for use after module execution, which normally created it. If it
// still has to be created and that fails, the interpreter's exception is
// reported as unraisable and the call fails internally.
PyObject* created_score_type();

// A new Score instance holding `value`. `type` is the Score class.
boundary::Result<boundary::PyRef> new_score(PyObject* type, const scorer::Score& value);

}  // namespace tallygrams::module
