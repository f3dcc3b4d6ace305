#include "boundary/py_err.hpp"

#include "boundary/panic.hpp"
#include "common/stable_texts.hpp"

namespace tallygrams::boundary {

PyErr PyErr::new_message(PyObject* builtin_type, std::string message) {
    PyErr err;
    err.builtin_type_ = builtin_type;
    err.message_ = std::move(message);
    return err;
}

PyErr PyErr::from_exception(PyRef exception) {
    PyErr err;
    err.exception_ = std::move(exception);
    return err;
}

PyErr PyErr::fetch() {
    PyRef raised(PyErr_GetRaisedException());
    if (!raised) {
        return new_message(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    // Identity, not a subclass test: only the module's own failures resume.
    if (reinterpret_cast<PyObject*>(Py_TYPE(raised.get())) == panic_exception_type()) {
        resume_panic(std::move(raised));
    }
    return from_exception(std::move(raised));
}

PyErr PyErr::fetch_as_is() {
    PyRef raised(PyErr_GetRaisedException());
    if (!raised) {
        return new_message(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return from_exception(std::move(raised));
}

void PyErr::restore() && {
    if (exception_) {
        PyErr_SetRaisedException(exception_.release());
        return;
    }
    PyRef text(PyUnicode_DecodeUTF8(message_.data(), static_cast<Py_ssize_t>(message_.size()), "replace"));
    if (!text) return;  // the MemoryError (or similar) is now the pending exception
    PyErr_SetObject(builtin_type_, text.get());
}

PyRef PyErr::into_exception() && {
    if (exception_) return std::move(exception_);
    std::move(*this).restore();
    return PyRef(PyErr_GetRaisedException());
}

std::string lossy_utf8(PyObject* text) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (utf8 != nullptr) {
        return std::string(utf8, static_cast<size_t>(size));
    }
    PyErr_Clear();
    // Lone surrogates: encode them as they stand, then decode replacing every
    // invalid sequence with U+FFFD.
    PyRef bytes(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!bytes) {
        PyErr_Clear();
        return std::string();
    }
    PyRef repaired(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()), "replace"));
    if (!repaired || !(utf8 = PyUnicode_AsUTF8AndSize(repaired.get(), &size))) {
        PyErr_Clear();
        return std::string();
    }
    return std::string(utf8, static_cast<size_t>(size));
}

std::string type_mismatch_message(PyObject* object, std::string_view expected) {
    std::string message;
    if (object == Py_None) {
        message = "'None'";
    } else {
        message = "'";
        if (PyRef qualname{PyType_GetQualName(Py_TYPE(object))}) {
            message += lossy_utf8(qualname.get());
        } else {
            PyErr_Clear();
            message += stable::kUnknownTypeName;
        }
        message += "' object";
    }
    message += stable::kIsNotAnInstanceOf;
    message += "'";
    message += expected;
    message += "'";
    return message;
}

PyErr type_mismatch(PyObject* object, std::string_view expected) {
    return PyErr::new_message(PyExc_TypeError, type_mismatch_message(object, expected));
}

}  // namespace tallygrams::boundary
