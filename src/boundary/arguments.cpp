#include "boundary/arguments.hpp"

#include <string>

#include "boundary/new_object.hpp"
#include "boundary/interned_name.hpp"
#include "common/internal_failure.hpp"
#include "common/stable_texts.hpp"

namespace tallygrams::boundary {
namespace {

std::string display_name(const Signature& signature) {
    std::string name(signature.function_name);
    name += "()";
    return name;
}

std::string plural(size_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

PyErr too_many_positional(const Signature& signature, Py_ssize_t given) {
    const size_t self = signature.method ? 1 : 0;
    given += static_cast<Py_ssize_t>(self);
    const size_t most = signature.positional_count() + self;
    const size_t least = (signature.required < signature.positional_count() ? signature.required
                                                                             : signature.positional_count()) +
                         self;
    std::string message = display_name(signature) + " takes ";
    message += least == most ? plural(most, "positional argument")
                             : "from " + std::to_string(least) + " to " + plural(most, "positional argument");
    message += " but " + std::to_string(given) + (given == 1 ? " was given" : " were given");
    return PyErr::new_message(PyExc_TypeError, std::move(message));
}

PyErr unexpected_keyword(const Signature& signature, PyObject* keyword) {
    std::string shown;
    if (PyRef text{PyObject_Str(keyword)}) {
        shown = lossy_utf8(text.get());
    } else {
        PyErr_Clear();
    }
    return PyErr::new_message(PyExc_TypeError,
                              display_name(signature) + " got an unexpected keyword argument '" + shown + "'");
}

PyErr multiple_values(const Signature& signature, std::string_view keyword) {
    return PyErr::new_message(PyExc_TypeError, display_name(signature) + " got multiple values for argument '" +
                                                   std::string(keyword) + "'");
}

// As the interpreter lists them: 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_list(const std::array<std::string_view, kMaxParameters>& names, size_t count) {
    std::string list;
    for (size_t k = 0; k < count; ++k) {
        if (k > 0) list += count == 2 ? " and " : (k + 1 == count ? ", and " : ", ");
        list += '\'';
        list += names[k];
        list += '\'';
    }
    return list;
}

PyErr missing_arguments(const Signature& signature, const BoundArguments& bound) {
    // Positional parameters are reported before keyword-only ones, as the
    // interpreter does.
    for (const bool keyword_only : {false, true}) {
        std::array<std::string_view, kMaxParameters> missing{};
        size_t count = 0;
        for (size_t k = 0; k < signature.required; ++k) {
            if ((k >= signature.keyword_only_from) == keyword_only && bound.values[k] == nullptr) {
                missing[count++] = signature.parameters[k].name;
            }
        }
        if (count == 0) continue;
        const std::string kind = keyword_only ? "keyword-only argument" : "positional argument";
        return PyErr::new_message(PyExc_TypeError, display_name(signature) + " missing " +
                                                       plural(count, "required " + kind) + ": " +
                                                       quoted_list(missing, count));
    }
    ensure(false, "no required argument is missing");
    return PyErr::new_message(PyExc_SystemError, "unreachable");
}

InternedName add_note_name("add_note");

}  // namespace

Result<BoundArguments> bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    const size_t count = signature.count();
    if (nargs > static_cast<Py_ssize_t>(signature.positional_count())) return too_many_positional(signature, nargs);

    BoundArguments bound;
    bound.signature = &signature;
    for (Py_ssize_t k = 0; k < nargs; ++k) bound.values[static_cast<size_t>(k)] = args[k];

    const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
        if (utf8 == nullptr) {
            PyErr_Clear();  // a lone surrogate can name no parameter
            return unexpected_keyword(signature, keyword);
        }
        const std::string_view name(utf8, static_cast<size_t>(size));
        size_t match = count;
        for (size_t slot = 0; slot < count; ++slot) {
            if (signature.parameters[slot].name == name) {
                match = slot;
                break;
            }
        }
        if (match == count) return unexpected_keyword(signature, keyword);
        if (bound.values[match] != nullptr) return multiple_values(signature, name);
        bound.values[match] = args[nargs + k];
    }

    for (size_t k = 0; k < signature.required; ++k) {
        if (bound.values[k] == nullptr) return missing_arguments(signature, bound);
    }
    return bound;
}

Result<BoundArguments> bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > static_cast<Py_ssize_t>(signature.positional_count())) return too_many_positional(signature, nargs);
    // Laid out as a vectorcall: the positional values, then the keyword
    // values in the order of a tuple of their names. Of more keywords than
    // there are parameters, one beyond the limit is enough: among that many
    // distinct names one is unexpected, and it is the first such in order.
    constexpr Py_ssize_t kMostKeywords = kMaxParameters + 1;
    std::array<PyObject*, kMaxParameters + kMostKeywords> vector{};
    for (Py_ssize_t k = 0; k < nargs; ++k) vector[static_cast<size_t>(k)] = PyTuple_GET_ITEM(args, k);
    const Py_ssize_t given = kwargs == nullptr ? 0 : PyDict_GET_SIZE(kwargs);
    const Py_ssize_t kept = given < kMostKeywords ? given : kMostKeywords;
    if (kept == 0) return bind_arguments(signature, vector.data(), nargs, nullptr);
    PyRef names = new_object_or_fail(PyTuple_New(kept));
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (Py_ssize_t k = 0; k < kept && PyDict_Next(kwargs, &position, &key, &value); ++k) {
        PyTuple_SET_ITEM(names.get(), k, Py_NewRef(key));
        vector[static_cast<size_t>(nargs + k)] = value;
    }
    return bind_arguments(signature, vector.data(), nargs, names.get());
}

Result<std::string_view> extract_text(PyObject* object) {
    if (!PyType_HasFeature(Py_TYPE(object), Py_TPFLAGS_UNICODE_SUBCLASS)) return type_mismatch(object, "str");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) return PyErr::fetch();
    return std::string_view(utf8, static_cast<size_t>(size));
}

PyErr annotate_argument_error(std::string_view parameter_name, PyErr error) {
    return annotate_item_error(parameter_name, -1, std::move(error));
}

PyErr annotate_item_error(std::string_view parameter_name, Py_ssize_t item, PyErr error) {
    std::string note = std::string(stable::kArgumentNote) + "'" + std::string(parameter_name) + "'";
    if (item >= 0) note += ", item " + std::to_string(item);
    return add_note(note, std::move(error));
}

PyErr add_note(std::string_view note_text, PyErr error) {
    PyRef exception = std::move(error).into_exception();
    if (!exception) return PyErr::fetch();

    PyRef note(PyUnicode_FromStringAndSize(note_text.data(), static_cast<Py_ssize_t>(note_text.size())));
    Result<PyObject*> method = add_note_name.get();
    if (note && method) {
        PyObject* call_args[] = {exception.get(), note.get()};
        PyRef outcome(PyObject_VectorcallMethod(method.value(), call_args, 2, nullptr));
        if (!outcome) PyErr_Clear();
    } else {
        PyErr_Clear();  // the note is a courtesy: never let it replace the real error
    }
    return PyErr::from_exception(std::move(exception));
}

}  // namespace tallygrams::boundary
