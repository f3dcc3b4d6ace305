#include "boundary/panic.hpp"

#include <cstdlib>
#include <string>

#include "boundary/diagnostics.hpp"
#include "boundary/once_cell.hpp"
#include "boundary/py_err.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::boundary {
namespace {

constexpr const char* kPanicDoc =
    "Raised when native code called from Python fails unrecoverably.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception,\n"
    "so that it typically propagates through the whole stack and ends the\n"
    "interpreter instead of being caught by a generic handler.";

OnceObjectCell panic_type_cell;

}  // namespace

PyObject* panic_exception_type() {
    if (PyObject* type = panic_type_cell.peek()) return type;
    Result<PyObject*> type = panic_type_cell.get_or_init([]() -> Result<PyRef> {
        // Both compiled modules carry this code; the first to need the type
        // leaves it in the interpreter's dict for extensions, so that the
        // other raises, and recognises, the same class.
        PyObject* shared = PyInterpreterState_GetDict(PyInterpreterState_Get());
        constexpr const char* kKey = "tallygrams.PanicException";
        if (shared != nullptr) {
            PyObject* found = nullptr;
            if (PyDict_GetItemStringRef(shared, kKey, &found) < 0) PyErr_Clear();
            if (found != nullptr) return PyRef(found);
        }
        PyObject* created =
            PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
        if (created != nullptr && shared != nullptr && PyDict_SetItemString(shared, kKey, created) < 0) PyErr_Clear();
        if (created == nullptr) {
            // Not PyErr::fetch(): that compares against this very type.
            return PyErr::from_exception(PyRef(PyErr_GetRaisedException()));
        }
        return PyRef(created);
    });
    if (!type) terminate_unreportable("the PanicException type could not be created");
    return type.value();
}

void terminate_unreportable(std::string_view message) noexcept {
    std::string line = "tallygrams: cannot report an internal failure to Python, aborting: ";
    line += message;
    line += '\n';
    write_to_stderr(line);
    std::abort();
}

void raise_panic(std::string_view message) noexcept {
    try {
        PyObject* type = panic_exception_type();
        PyRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
        if (!text) {
            PyErr_Clear();
            terminate_unreportable(message);
        }
        PyErr_SetObject(type, text.get());
    } catch (...) {
        terminate_unreportable(message);
    }
}

void resume_panic(PyRef exception) {
    std::string message = "Unwrapped panic from Python code";
    if (PyRef text{PyObject_Str(exception.get())}) {
        message = lossy_utf8(text.get());
    } else {
        PyErr_Clear();
    }
    write_to_stderr(
        "tallygrams: resuming an internal failure: a PanicException was fetched from Python code\n"
        "tallygrams: the Python traceback of that exception follows\n");
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    // Already reported: unwind without a second diagnostic.
    throw InternalFailure(std::move(message), std::source_location::current(), true);
}

}  // namespace tallygrams::boundary
