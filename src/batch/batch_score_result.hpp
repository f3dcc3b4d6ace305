// The Python class BatchScoreResult: nine columns of floats, each handed out
// as a new list when its attribute is read.
#pragma once

#include "boundary/py_err.hpp"
#include "engine/batch_runner.hpp"

namespace tallygrams::batch {

// The class, created on first need and shared by every module object.
boundary::Result<PyObject*> batch_score_result_type();

// A new instance that takes over the nine columns without copying them; on
// failure they are freed with `columns`.
boundary::Result<boundary::PyRef> new_batch_score_result(engine::ColumnOutput& columns);

}  // namespace tallygrams::batch
