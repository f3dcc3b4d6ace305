// The arguments the resampling functions share (bootstrap, resample_means,
// compare), read with one set of rules and messages.
#pragma once

#include <cstddef>
#include <cstdint>

#include "boundary/py_err.hpp"

namespace tallygrams::companion {

// A count of samples: an int (or anything with __index__, such as a NumPy
// integer) of at least 1. A float or a bool is a TypeError, a mistake to
// report as one rather than a count of 1.
boundary::Result<size_t> read_sample_count(PyObject* value, const char* argument);

// A seed: an int from 0 to 2**64 - 1.
boundary::Result<uint64_t> read_seed(PyObject* value);

// A confidence level: a float from 0 to 1.
boundary::Result<double> read_confidence(PyObject* value);

}  // namespace tallygrams::companion
