// bootstrap(columns, n_samples=1000, *, seed=0, confidence_interval=0.95):
// the native, seeded bootstrap of score columns (src/engine/statistics/bootstrap.hpp),
// for large evaluations; the command-line tool's intervals come from it.
#pragma once

#include "boundary/module_function.hpp"
#include "boundary/py_err.hpp"
#include "tallygrams_scorer/module_state.hpp"

namespace tallygrams::companion {

// Interval(mean, low, mid, high), a named tuple, stored in `state`.
boundary::Status create_interval_class(ModuleState& state);

extern const boundary::ModuleFunction kBootstrapFunction;
// resample_means(columns, n_samples=1000, *, seed=0): the distribution behind
// bootstrap()'s intervals.
extern const boundary::ModuleFunction kResampleMeansFunction;

}  // namespace tallygrams::companion
