// The one place that includes the interpreter's headers, so that
// PY_SSIZE_T_CLEAN and friends are set consistently.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
