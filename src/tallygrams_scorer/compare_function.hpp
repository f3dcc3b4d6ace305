// compare(baseline, system, *, test="bootstrap", n_samples=None,
// confidence_interval=0.95, seed=0): paired significance tests of two
// systems' score columns on the same inputs (src/engine/statistics/
// paired_tests.hpp), natively on all cores.
#pragma once

#include "boundary/module_function.hpp"
#include "boundary/py_err.hpp"
#include "tallygrams_scorer/module_state.hpp"

namespace tallygrams::companion {

// Comparison(baseline, system, difference, low, high, p_value), a named
// tuple, stored in `state`.
boundary::Status create_comparison_class(ModuleState& state);

extern const boundary::ModuleFunction kCompareFunction;

}  // namespace tallygrams::companion
