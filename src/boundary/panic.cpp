#include "boundary/panic.hpp"

#include <cstdlib>
#include <string>

#include "boundary/diagnostics.hpp"
#include "boundary/per_interpreter.hpp"
#include "boundary/py_err.hpp"
#include "common/internal_failure.hpp"
#include "common/stable_texts.hpp"

namespace tallygrams::boundary {
namespace {

constexpr const char* kPanicDoc =
    "Raised when native code called from Python fails unrecoverably.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception,\n"
    "so that it typically propagates through the whole stack and ends the\n"
    "interpreter instead of being caught by a generic handler.";

// Where an interpreter keeps its PanicException. Every shared object that
// links this code (this module, its companion) reads it there, so within one
// interpreter a PanicException is one class whichever module raised it, and
// each module recognises the others' panics coming back from Python code. A
// Python object, not a C++ pointer, since the shared objects need not agree
// on anything else.
constexpr const char* kInterpreterDictKey = stable::kPanicExceptionKey;

class PanicTypeObject final : public PerInterpreterObject {
public:
    PanicTypeObject() noexcept : PerInterpreterObject("the PanicException type") {}

private:
    // Neither path runs Python code. Errors are taken as they are: fetch()
    // itself needs this type.
    Result<PyRef> create() override {
        PyObject* dict = PyInterpreterState_GetDict(PyInterpreterState_Get());
        if (dict == nullptr) {
            return PyErr::new_message(PyExc_RuntimeError, "the interpreter has no dict for extension state");
        }
        PyObject* found = nullptr;
        const int present = PyDict_GetItemStringRef(dict, kInterpreterDictKey, &found);
        if (present < 0) return PyErr::fetch_as_is();
        if (present == 0) {
            PyRef created(
                PyErr_NewExceptionWithDoc(stable::kPanicExceptionName, kPanicDoc, PyExc_BaseException, nullptr));
            if (!created) return PyErr::fetch_as_is();
            PyRef key(PyUnicode_FromString(kInterpreterDictKey));
            if (!key) return PyErr::fetch_as_is();
            // Another module (or thread) may have stored one meanwhile; the
            // first stored is the interpreter's.
            if (PyDict_SetDefaultRef(dict, key.get(), created.get(), &found) < 0) return PyErr::fetch_as_is();
        }
        PyRef type(found);
        if (!PyExceptionClass_Check(type.get())) {
            return PyErr::new_message(PyExc_SystemError,
                                      std::string("the interpreter's ") + kInterpreterDictKey + " is not a class");
        }
        return type;
    }
};

PanicTypeObject panic_type;

}  // namespace

PyObject* panic_exception_type() {
    try {
        Result<PyObject*> type = panic_type.get();
        if (type) return type.value();
    } catch (...) {
        // An internal failure here could only be reported with this type.
    }
    terminate_unreportable("the PanicException type could not be created");
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
    std::string message = stable::kUnreadablePanic;
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
