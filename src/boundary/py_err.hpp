// Errors as values. Every fallible step of the module surface returns
// Result<T>: its value or a PyErr, a pending Python exception that only the
// call boundary raises into the interpreter. Internal failures are not
// PyErrs; they unwind as tallygrams::InternalFailure.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "boundary/py_ref.hpp"

namespace tallygrams::boundary {

class PyErr {
public:
    // An exception of a built-in type with a message, instantiated only when
    // it is raised or needs to become an object.
    static PyErr new_message(PyObject* builtin_type, std::string message);
    // An exception object taken from the interpreter.
    static PyErr from_exception(PyRef exception);
    // Takes the interpreter's pending exception. A PanicException coming back
    // from Python code is not passed on: it is reported and resumed as an
    // internal failure (this throws). With nothing pending, a SystemError.
    static PyErr fetch();
    // Takes the pending exception as it is, PanicException or not. For the
    // code that creates the PanicException type and its home, which fetch()
    // itself depends on.
    static PyErr fetch_as_is();

    // Raises this error in the interpreter. Requires an attached thread.
    void restore() &&;
    // The exception as an object, instantiating it if needed.
    PyRef into_exception() &&;

private:
    PyRef exception_;
    PyObject* builtin_type_ = nullptr;
    std::string message_;
};

struct Unit {};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(PyErr error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T& value() & { return std::get<0>(state_); }
    T take_value() && { return std::move(std::get<0>(state_)); }
    PyErr take_error() && { return std::move(std::get<1>(state_)); }

private:
    std::variant<T, PyErr> state_;
};

using Status = Result<Unit>;

// The message of a TypeError for an object of the wrong type:
// "'int' object is not an instance of 'str'", or "'None' is not an instance
// of 'str'". `expected` is the expected type's qualified name.
std::string type_mismatch_message(PyObject* object, std::string_view expected);
PyErr type_mismatch(PyObject* object, std::string_view expected);

// UTF-8 text of a str object for use in a message; never fails. Lone
// surrogates become U+FFFD.
std::string lossy_utf8(PyObject* text);

}  // namespace tallygrams::boundary
