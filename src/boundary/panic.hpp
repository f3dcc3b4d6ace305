// PanicException: how internal failures reach Python. It derives from
// BaseException, so ordinary `except Exception` handlers do not swallow it.
#pragma once

#include <string>
#include <string_view>

#include "boundary/py_ref.hpp"

namespace tallygrams::boundary {

// The calling interpreter's PanicException type, created on first need and
// shared by every module of this project in that interpreter. If it cannot
// be created the process ends: without it no internal failure could be
// reported.
PyObject* panic_exception_type();

// Raises a PanicException carrying `message` in the interpreter. If even that
// is impossible, the process ends after a diagnostic.
void raise_panic(std::string_view message) noexcept;

// A PanicException came back from Python code: report it and continue as an
// internal failure carrying its message. Always throws.
[[noreturn]] void resume_panic(PyRef exception);

// Ends the process after writing a diagnostic: used when a failure cannot be
// handed to the interpreter at all.
[[noreturn]] void terminate_unreportable(std::string_view message) noexcept;

}  // namespace tallygrams::boundary
