// What the classes of the module `tallygrams` share: a class object per
// interpreter, created from its type definition; instances made by the
// generic allocator, as object's constructor slot would (the classes refuse
// instantiation from Python); refusing to be pickled; and the deallocation
// of instances of a heap type. (The companion's classes are made for its
// module state instead: native_object.hpp.)
#pragma once

#include <string>

#include "boundary/call_boundary.hpp"
#include "boundary/new_object.hpp"
#include "boundary/per_interpreter.hpp"
#include "boundary/py_err.hpp"

namespace tallygrams::boundary {

// Each interpreter gets its own class. A class shared between interpreters
// would carry the type-version tag one interpreter gave it into the others'
// attribute caches, where a class of theirs can hold the same tag and answer
// for it.
class HeapTypeCell final : public PerInterpreterObject {
public:
    // `description` names the class in failure messages.
    HeapTypeCell(PyType_Spec& definition, const char* description) noexcept
        : PerInterpreterObject(description), definition_(definition) {}

private:
    Result<PyRef> create() override {
        PyObject* type = PyType_FromSpec(&definition_);
        if (type == nullptr) return PyErr::fetch();
        return PyRef(type);
    }

    PyType_Spec& definition_;
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

namespace detail {

inline PyObject* refuse_reduce(PyObject* self, PyObject* /*unused*/) {
    return boundary_object([&]() -> Result<PyRef> {
        return PyErr::new_message(PyExc_TypeError,
                                  std::string("cannot pickle '") + Py_TYPE(self)->tp_name + "' object");
    });
}

}  // namespace detail

// The methods of a class whose instances can be neither pickled nor copied:
// the values live in native memory that no pickle could carry, and only the
// module may create instances. Protocols 2 and up already fail on a class
// without a constructor, but 0 and 1 would build an empty object through
// copyreg and write a pickle that can never be loaded. object.__reduce_ex__
// defers to an overridden __reduce__ for every protocol (and so do
// copy.copy and copy.deepcopy), so all of them get this one TypeError,
// worded as the interpreter words it for the other protocols.
inline PyMethodDef not_picklable_methods[] = {
    {"__reduce__", detail::refuse_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// Frees an instance whose own data has been released, then gives back the
// reference to its type that every instance of a heap type holds.
inline void free_heap_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace tallygrams::boundary
