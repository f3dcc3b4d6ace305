#include "boundary/arguments.hpp"

#include <string>

#include "boundary/once_cell.hpp"

namespace tallygrams::boundary {
namespace {

std::string display_name(const CallSignature& signature) {
    std::string name(signature.function_name);
    name += "()";
    return name;
}

PyErr too_many_positional(const CallSignature& signature, Py_ssize_t given) {
    std::string message = display_name(signature);
    message += " takes " + std::to_string(signature.positional_names.size()) + " positional arguments but ";
    message += std::to_string(given);
    message += given == 1 ? " was given" : " were given";
    return PyErr::new_message(PyExc_TypeError, std::move(message));
}

PyErr unexpected_keyword(const CallSignature& signature, PyObject* keyword) {
    std::string shown;
    if (PyRef text{PyObject_Str(keyword)}) {
        shown = lossy_utf8(text.get());
    } else {
        PyErr_Clear();
    }
    return PyErr::new_message(PyExc_TypeError,
                              display_name(signature) + " got an unexpected keyword argument '" + shown + "'");
}

PyErr multiple_values(const CallSignature& signature, std::string_view keyword) {
    return PyErr::new_message(PyExc_TypeError, display_name(signature) + " got multiple values for argument '" +
                                                   std::string(keyword) + "'");
}

PyErr missing_arguments(const CallSignature& signature, const BoundArguments& bound) {
    std::string names;
    size_t missing = 0;
    std::array<std::string_view, 2> missing_names;
    for (size_t k = 0; k < signature.required_positional; ++k) {
        if (bound.values[k] == nullptr) missing_names[missing++] = signature.positional_names[k];
    }
    for (size_t k = 0; k < missing; ++k) {
        if (k > 0) names += (k + 1 == missing) ? " and " : ", ";
        names += '\'';
        names += missing_names[k];
        names += '\'';
    }
    std::string message = display_name(signature) + " missing " + std::to_string(missing) + " required positional " +
                          (missing == 1 ? "argument" : "arguments") + ": " + names;
    return PyErr::new_message(PyExc_TypeError, std::move(message));
}

OnceObjectCell add_note_name_cell;

}  // namespace

Result<BoundArguments> bind_arguments(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
    const auto slot_count = static_cast<Py_ssize_t>(signature.positional_names.size());
    if (nargs > slot_count) return too_many_positional(signature, nargs);

    BoundArguments bound;
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
        size_t match = signature.positional_names.size();
        for (size_t slot = 0; slot < signature.positional_names.size(); ++slot) {
            if (signature.positional_names[slot] == name) {
                match = slot;
                break;
            }
        }
        if (match == signature.positional_names.size()) return unexpected_keyword(signature, keyword);
        if (bound.values[match] != nullptr) return multiple_values(signature, name);
        bound.values[match] = args[nargs + k];
    }

    for (size_t k = 0; k < signature.required_positional; ++k) {
        if (bound.values[k] == nullptr) return missing_arguments(signature, bound);
    }
    return bound;
}

Result<std::string_view> extract_text(PyObject* object) {
    if (!PyType_HasFeature(Py_TYPE(object), Py_TPFLAGS_UNICODE_SUBCLASS)) return type_mismatch(object, "str");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) return PyErr::fetch();
    return std::string_view(utf8, static_cast<size_t>(size));
}

PyErr annotate_argument_error(std::string_view parameter_name, PyErr error) {
    PyRef exception = std::move(error).into_exception();
    if (!exception) return PyErr::fetch();

    const std::string note_text = "while processing '" + std::string(parameter_name) + "'";
    PyRef note(PyUnicode_FromStringAndSize(note_text.data(), static_cast<Py_ssize_t>(note_text.size())));
    Result<PyObject*> method = add_note_name_cell.get_or_init([]() -> Result<PyRef> {
        PyObject* name = PyUnicode_InternFromString("add_note");
        if (name == nullptr) return PyErr::fetch();
        return PyRef(name);
    });
    if (note && method) {
        PyObject* call_args[] = {exception.get(), note.get()};
        PyRef outcome(PyObject_VectorcallMethod(method.value(), call_args, 2, nullptr));
        if (!outcome) PyErr_Clear();
    } else {
        PyErr_Clear();  // the note is a courtesy: never let it replace the real error
    }
    return PyErr::from_exception(std::move(exception));
}

Result<std::string_view> extract_text_argument(PyObject* object, std::string_view parameter_name) {
    Result<std::string_view> text = extract_text(object);
    if (!text) return annotate_argument_error(parameter_name, std::move(text).take_error());
    return text;
}

}  // namespace tallygrams::boundary
