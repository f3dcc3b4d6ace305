// Checking the result of interpreter calls that return a new object.
#pragma once

#include <source_location>

#include "boundary/py_ref.hpp"
#include "common/internal_failure.hpp"
#include "common/stable_texts.hpp"

namespace tallygrams::boundary {

// Object constructors such as PyFloat_FromDouble or PyList_New only return
// null when the interpreter itself is in trouble (normally out of memory).
// That is not an error of the caller's making: report the pending exception
// as unraisable and fail internally, which reaches Python as PanicException.
inline PyRef new_object_or_fail(PyObject* created, std::source_location where = std::source_location::current()) {
    if (created == nullptr) [[unlikely]] {
        if (PyErr_Occurred()) PyErr_WriteUnraisable(nullptr);
        fail_internally(stable::kNullObject, where);
    }
    return PyRef(created);
}

}  // namespace tallygrams::boundary
