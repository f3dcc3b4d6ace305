// score_batch_flat(references, predictions): one BatchScoreResult of nine
// columns, no Python object per pair.
#pragma once

#include "boundary/module_function.hpp"

namespace tallygrams::batch {

extern const boundary::ModuleFunction kScoreBatchFlatFunction;

}  // namespace tallygrams::batch
