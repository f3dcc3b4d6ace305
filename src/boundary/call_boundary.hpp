// The call boundary: the one layer between the interpreter and the module.
// Each entry point runs its body here, so that whatever the body does, the
// interpreter sees either a result or a set exception, never a C++
// exception, and the thread still holds the interpreter lock.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "boundary/allocation.hpp"
#include "boundary/diagnostics.hpp"
#include "boundary/panic.hpp"
#include "boundary/py_err.hpp"
#include "common/allocation_failure.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::boundary {

namespace detail {

inline constexpr const char* kFailureWithoutMessage = "internal failure in native code (no message)";

// Converts whatever unwound out of a body into a raised PanicException,
// except memory that could not be had, which ends the process as a failed
// operator new does. Must be called from inside a catch handler.
inline void raise_current_failure() noexcept {
    try {
        throw;
    } catch (const AllocationFailure& failure) {
        end_process_out_of_memory(failure.size());
    } catch (const InternalFailure& failure) {
        write_failure_diagnostic(failure);
        raise_panic(failure.message());
    } catch (const std::exception& other) {
        const std::string message = other.what();
        write_failure_diagnostic(message);
        raise_panic(message);
    } catch (...) {
        write_failure_diagnostic(kFailureWithoutMessage);
        raise_panic(kFailureWithoutMessage);
    }
}

}  // namespace detail

// Function and getter shape: `body` returns Result<PyRef>. Returns a new
// reference, or null with the exception set.
template <class Body>
PyObject* boundary_object(Body&& body) noexcept {
    try {
        Result<PyRef> result = body();
        if (result) return std::move(result).take_value().release();
        std::move(result).take_error().restore();
    } catch (...) {
        detail::raise_current_failure();
    }
    return nullptr;
}

// Module-execution shape: `body` returns Status. Returns 0, or -1 with the
// exception set.
template <class Body>
int boundary_status(Body&& body) noexcept {
    try {
        Status status = body();
        if (status) return 0;
        std::move(status).take_error().restore();
    } catch (...) {
        detail::raise_current_failure();
    }
    return -1;
}

// Deallocation shape: nothing can be raised from a deallocator, so a failure
// is reported as unraisable and deallocation carries on.
template <class Body>
void boundary_dealloc(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        PyObject* pending = PyErr_GetRaisedException();  // keep whatever was in flight
        detail::raise_current_failure();
        PyErr_WriteUnraisable(nullptr);
        PyErr_SetRaisedException(pending);
    }
}

}  // namespace tallygrams::boundary
