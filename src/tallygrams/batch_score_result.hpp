// The Python class BatchScoreResult: nine columns of floats, each handed out
// as a new list when its attribute is read.
#pragma once

#include "boundary/py_err.hpp"
#include "tallygrams/batch_runner.hpp"

namespace tallygrams::batch {

// The calling interpreter's class, created on first need there and shared
// by every module object of that interpreter.
boundary::Result<PyObject*> batch_score_result_type();

// A new instance that takes over the nine columns without copying them; on
// failure they are freed with `columns`.
boundary::Result<boundary::PyRef> new_batch_score_result(engine::ColumnOutput& columns);

}  // namespace tallygrams::batch
