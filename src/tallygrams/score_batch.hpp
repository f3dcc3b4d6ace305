// score_batch(references, predictions): a list of score dicts, one per pair.
#pragma once

#include "boundary/module_function.hpp"

namespace tallygrams::batch {

extern const boundary::ModuleFunction kScoreBatchFunction;

}  // namespace tallygrams::batch
