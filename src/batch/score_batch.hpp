// score_batch(references, predictions) -> list of score dicts.
#pragma once

#include "boundary/python.hpp"

namespace tallygrams::batch {

PyObject* score_batch_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace tallygrams::batch
