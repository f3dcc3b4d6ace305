// ScoreColumns: the scores of many pairs as named float64 columns
// ("rouge1_precision", ...), handed on as Arrow without a copy: the object is
// itself an Arrow record batch and stream through the PyCapsule interface,
// so pyarrow.table(result) and polars.from_arrow(result) take it. It also
// pickles, for a cluster to ship.
#pragma once

#include "arrow/float64_batch.hpp"
#include "boundary/module_function.hpp"
#include "boundary/py_err.hpp"
#include "tallygrams_scorer/module_state.hpp"

namespace tallygrams::companion {

boundary::Result<boundary::PyRef> create_score_columns_type(PyObject* module);

// A new ScoreColumns holding `batch`.
boundary::Result<boundary::PyRef> new_score_columns(const ModuleState& state, arrow::Float64Batch batch);

// _score_columns_from_buffers(names, rows, values, nulls): what a pickled
// ScoreColumns is rebuilt with.
extern const boundary::ModuleFunction kScoreColumnsFromBuffers;

}  // namespace tallygrams::companion
