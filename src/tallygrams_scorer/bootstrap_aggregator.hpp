// BootstrapAggregator: collects score dicts and reports, per score type, the
// percentile-bootstrap interval of the mean of each measure, drawing its
// resamples from NumPy's random generator exactly as rouge-score's
// aggregator does, so that the same generator state gives the same numbers.
#pragma once

#include "boundary/py_err.hpp"
#include "tallygrams_scorer/module_state.hpp"

namespace tallygrams::companion {

boundary::Result<boundary::PyRef> create_aggregator_type(PyObject* module);

}  // namespace tallygrams::companion
