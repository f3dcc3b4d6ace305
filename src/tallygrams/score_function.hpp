// score(reference, prediction): one pair, a dict of three Scores.
#pragma once

#include "boundary/module_function.hpp"

namespace tallygrams::module {

extern const boundary::ModuleFunction kScoreFunction;

}  // namespace tallygrams::module
