// RougeScorer: rouge-score's RougeScorer, with the same constructor and
// methods, scoring natively with the interpreter lock released.
#pragma once

#include "boundary/py_err.hpp"

namespace tallygrams::companion {

boundary::Result<boundary::PyRef> create_rouge_scorer_type(PyObject* module);

}  // namespace tallygrams::companion
