// rouge155(): every figure of the ROUGE-1.5.5 script, natively.
#pragma once

#include "boundary/module_function.hpp"

namespace tallygrams::companion {

extern const boundary::ModuleFunction kRouge155Function;

}  // namespace tallygrams::companion
