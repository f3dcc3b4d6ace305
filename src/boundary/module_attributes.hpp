// Filling a module object during its execution step: every name added is
// also listed in `__all__`.
#pragma once

#include <string_view>

#include "boundary/py_err.hpp"

namespace tallygrams::boundary {

// `__all__` (created on first use), then the name, then the attribute: a
// failing store therefore leaves the name listed.
Status add_to_module(PyObject* module, std::string_view name, PyObject* value);

// A built-in function made from `definition` (which must outlive it), bound
// to the module and named by its own `__name__`.
Status add_function(PyObject* module, PyMethodDef* definition);

// A class obtained from its cell; the cell's failure passes through.
Status add_class(PyObject* module, std::string_view name, Result<PyObject*> type);

}  // namespace tallygrams::boundary
