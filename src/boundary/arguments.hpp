// Binding fast-call arguments to named parameters, and converting them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "boundary/py_err.hpp"

namespace tallygrams::boundary {

// Every module function takes two required positional-or-keyword parameters.
struct CallSignature {
    std::string_view function_name;
    std::array<std::string_view, 2> positional_names;
    size_t positional_only = 0;
    size_t required_positional = 2;
};

struct BoundArguments {
    std::array<PyObject*, 2> values{};  // borrowed from the caller
};

// The vectorcall convention: positional values, then keyword values in the
// order of `kwnames`.
Result<BoundArguments> bind_arguments(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames);

// A borrowed UTF-8 view of a str (or str subclass) argument, read in place;
// valid while the object lives.
Result<std::string_view> extract_text(PyObject* object);

// Adds the note "while processing '<name>'" to the error's exception. If the
// note cannot be added, the error is returned as it was.
PyErr annotate_argument_error(std::string_view parameter_name, PyErr error);

// extract_text, with the argument note on failure.
Result<std::string_view> extract_text_argument(PyObject* object, std::string_view parameter_name);

}  // namespace tallygrams::boundary
