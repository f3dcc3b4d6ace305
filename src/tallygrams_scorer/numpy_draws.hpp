// The resampled means of BootstrapAggregator, drawn with NumPy's random
// generator exactly as rouge-score's aggregator draws them: the generator's
// randint gives each resample's row numbers, and the means are summed in
// NumPy's order (resample_means.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "boundary/py_err.hpp"

namespace tallygrams::companion {

// numpy.random, or an ImportError that says why the aggregator needs it.
boundary::Result<boundary::PyRef> import_numpy_random();

// numpy.float64, the type of the numbers NumPy's percentiles give.
boundary::Result<boundary::PyRef> numpy_float64();

// The randint to draw with: the global generator's, looked up anew at each
// call as the caller may replace it, or, given a seed, that of a generator
// of its own, started afresh. One call of size (k, n) draws exactly what k
// calls of rouge-score's np.random.choice(np.arange(n), size=n) draw, in
// the same order.
boundary::Result<boundary::PyRef> numpy_randint(PyObject* numpy_random, std::optional<uint64_t> seed);

// Refuses `samples` resamples of scores of `width` values, before any are
// drawn: more means than one array can hold as a ValueError, more memory
// than this process can get for them as a MemoryError.
boundary::Status check_resample_memory(size_t samples, size_t width);

// The means of `samples` resamples of the rows of `values` (rows of `width`
// values): `samples` rows of `width` means, drawn with `randint` and
// computed on the pool. The sizes must have passed check_resample_memory.
// A draw out of range, the caller's replaced randint's fault, is a
// ValueError.
boundary::Result<std::vector<double>> resampled_means(std::span<const double> values, size_t width, size_t samples,
                                                      PyObject* randint);

}  // namespace tallygrams::companion
