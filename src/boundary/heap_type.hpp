// What the module's two classes share: a class object created once per
// process from its type definition, instances made by the generic allocator
// (the classes refuse instantiation from Python), and the deallocation of
// instances of a heap type.
#pragma once

#include <source_location>
#include <string>

#include "boundary/new_object.hpp"
#include "boundary/once_cell.hpp"
#include "boundary/py_err.hpp"

namespace tallygrams::boundary {

class HeapTypeCell {
public:
    // `name` is the class's unqualified name, for the failure message.
    HeapTypeCell(PyType_Spec& definition, const char* name) : definition_(definition), name_(name) {}

    // The class, created on first need; the interpreter's exception if that
    // fails.
    Result<PyObject*> get() {
        return cell_.get_or_init([this]() -> Result<PyRef> {
            PyObject* type = PyType_FromSpec(&definition_);
            if (type == nullptr) return PyErr::fetch();
            return PyRef(type);
        });
    }

    // For use after module execution, which normally created the class: a
    // failure to create it now is reported as unraisable and becomes an
    // internal failure.
    PyObject* get_or_fail(std::source_location where = std::source_location::current()) {
        Result<PyObject*> type = get();
        if (!type) {
            std::move(type).take_error().restore();
            PyErr_WriteUnraisable(nullptr);
            fail_internally(std::string("failed to create type object for `") + name_ + "`", where);
        }
        return type.value();
    }

private:
    PyType_Spec& definition_;
    const char* name_;
    OnceObjectCell cell_;
};

// A new, zero-filled instance of `type`; the interpreter's exception if it
// cannot be made.
inline Result<PyRef> new_instance(PyObject* type) {
    // What object's constructor slot ends in, without its argument checks:
    // one instance per metric of every scored pair comes through here.
    PyObject* instance = PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type), 0);
    if (instance == nullptr) return PyErr::fetch();
    return PyRef(instance);
}

// Frees an instance whose own data has been released, then gives back the
// reference to its type that every instance of a heap type holds.
inline void free_heap_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace tallygrams::boundary
