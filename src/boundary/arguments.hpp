// Binding fast-call arguments to named parameters, and converting them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "boundary/parameter_types.hpp"
#include "boundary/py_err.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::boundary {

inline constexpr size_t kMaxParameters = 20;

// The parameters of a function or method, in the manner of a Python `def`
// with annotations: each has a name and a type (parameter_types.hpp); the
// first `required` have no default; those from `keyword_only_from` on can
// only be passed by keyword. A method's `function_name` is qualified
// ("RougeScorer.score") and, as the interpreter does for a `def` in a
// class, its messages count `self` among the positional arguments.
struct Signature {
    std::string_view function_name;
    Parameter parameters[kMaxParameters]{};
    size_t required = 0;
    size_t keyword_only_from = kMaxParameters;
    bool method = false;

    constexpr size_t count() const noexcept {
        size_t n = 0;
        while (n < kMaxParameters && !parameters[n].name.empty()) ++n;
        return n;
    }
    constexpr size_t positional_count() const noexcept {
        return keyword_only_from < count() ? keyword_only_from : count();
    }
};

struct BoundArguments {
    // Borrowed from the caller; null for an optional parameter not given.
    std::array<PyObject*, kMaxParameters> values{};
    const Signature* signature = nullptr;

    PyObject* operator[](size_t k) const noexcept { return values[k]; }
    std::string_view name(size_t k) const noexcept { return signature->parameters[k].name; }

    // The argument read through the converter of its type, which must be
    // the type its record states.
    template <class Converter>
    Result<typename Converter::Value> get(size_t k) const {
        const Parameter& parameter = signature->parameters[k];
        ensure(parameter.type == Converter::type, "a parameter is read as another type than its record states");
        return Converter::convert(values[k], parameter.name);
    }
    // The same, or `absent` when the argument was not given.
    template <class Converter>
    Result<typename Converter::Value> get(size_t k, typename Converter::Value absent) const {
        if (values[k] == nullptr) return absent;
        return get<Converter>(k);
    }
};

// The vectorcall convention: positional values, then keyword values in the
// order of `kwnames`. Errors read as the interpreter's own for a `def`.
Result<BoundArguments> bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames);

// The same from a call's argument tuple and keyword dict (a constructor).
Result<BoundArguments> bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs);

// A borrowed UTF-8 view of a str (or str subclass) argument, read in place;
// valid while the object lives.
Result<std::string_view> extract_text(PyObject* object);

// Adds the note "while processing '<name>'" to the error's exception. If the
// note cannot be added, the error is returned as it was.
PyErr annotate_argument_error(std::string_view parameter_name, PyErr error);

// The same for item `item` of a sequence argument: "while processing
// '<name>', item <item>"; a negative `item` names the argument alone.
PyErr annotate_item_error(std::string_view parameter_name, Py_ssize_t item, PyErr error);

// Adds `note` to the error's exception, if it can.
PyErr add_note(std::string_view note, PyErr error);

}  // namespace tallygrams::boundary
