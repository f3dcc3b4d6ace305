// The intervals of BootstrapAggregator: per measure, the percentiles of its
// resampled means, and the bounds built as rouge-score builds them.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "boundary/py_err.hpp"

namespace tallygrams::companion {

// Per measure: the low, mid and high percentiles of its resampled means
// (`means`: rows of `width`, one row per resample). A measure with a NaN
// among its means has NaN percentiles.
std::array<std::vector<double>, 3> interval_values(std::vector<double> means, size_t width, double confidence);

// row_class(*values), as rouge-score builds each bound; plain tuples and
// lists, which cannot be built that way, are built from the values. Each
// value is a `number_type` (numpy.float64, as NumPy's percentiles are in
// rouge-score), so that the bounds print as rouge-score's do.
boundary::Result<boundary::PyRef> make_bound(PyObject* row_class, PyObject* number_type,
                                             const std::vector<double>& values);

}  // namespace tallygrams::companion
