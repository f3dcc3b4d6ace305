// What rouge155 returns: Rouge155Result, a dict from each measure's name, as
// the script prints it, to its figures, with the script's printed text
// (report()) and, with -d, every pair's figures (per_pair).
#pragma once

#include <string>

#include "boundary/py_err.hpp"
#include "engine/rouge155/evaluation.hpp"
#include "scorer/rouge155/options.hpp"
#include "tallygrams_scorer/module_state.hpp"

namespace tallygrams::companion {

// Creates the result classes for a new module object and stores them in
// `state`: Rouge155Result (a dict), and the named tuples Rouge155Interval
// (average, low, high), Rouge155Figures (recall, precision, f) and
// Rouge155Counts (reference, prediction, hits).
boundary::Status create_rouge155_classes(ModuleState& state);

boundary::Result<boundary::PyRef> rouge155_result(const ModuleState& state,
                                                  const scorer::rouge155::Options& options,
                                                  const engine::Rouge155Evaluation& evaluation, size_t pairs,
                                                  const std::string& report);

}  // namespace tallygrams::companion
