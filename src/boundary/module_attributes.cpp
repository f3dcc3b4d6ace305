#include "boundary/module_attributes.hpp"

#include "boundary/new_object.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::boundary {

Status add_to_module(PyObject* module, std::string_view name, PyObject* value) {
    PyRef all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PyErr::fetch();
        PyErr_Clear();
        all = new_object_or_fail(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return PyErr::fetch();
    } else if (!PyList_Check(all.get())) {
        return type_mismatch(all.get(), "list");
    }
    PyRef key = new_object_or_fail(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
    if (PyList_Append(all.get(), key.get()) < 0) {
        PyErr_WriteUnraisable(nullptr);
        fail_internally("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, key.get(), value) < 0) return PyErr::fetch();
    return Unit{};
}

Status add_function(PyObject* module, PyMethodDef* definition) {
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return PyErr::fetch();
    PyRef function(PyCMethod_New(definition, module, module_name.get(), nullptr));
    if (!function) return PyErr::fetch();
    PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return PyErr::fetch();
    if (!PyUnicode_Check(name.get())) return type_mismatch(name.get(), "str");
    return add_to_module(module, lossy_utf8(name.get()), function.get());
}

Status add_class(PyObject* module, std::string_view name, Result<PyObject*> type) {
    if (!type) return std::move(type).take_error();
    return add_to_module(module, name, type.value());
}

}  // namespace tallygrams::boundary
