// Instances of the module's own classes that carry C++ state: the object
// header, then a pointer to a heap-allocated payload whose constructor and
// destructor run like any C++ object's. Instances that hold Python
// references are tracked by the garbage collector; the payload lists those
// references for it (visit) and drops them (clear) when asked to break a
// cycle.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <utility>

#include "boundary/call_boundary.hpp"
#include "boundary/heap_type.hpp"
#include "boundary/python.hpp"

namespace tallygrams::boundary {

template <class Payload>
struct NativeObject {
    PyObject_HEAD
    Payload* payload;
};

template <class Payload>
Payload& payload_of(PyObject* self) noexcept {
    return *reinterpret_cast<NativeObject<Payload>*>(self)->payload;
}

// A new instance of `type` (a class whose basic size is that of
// NativeObject<Payload>) taking over `payload`.
template <class Payload>
Result<PyRef> new_native_object(PyTypeObject* type, std::unique_ptr<Payload> payload) {
    PyRef instance(type->tp_alloc(type, 0));
    if (!instance) return PyErr::fetch();
    reinterpret_cast<NativeObject<Payload>*>(instance.get())->payload = payload.release();
    return instance;
}

// tp_traverse: `Payload::visit(visitproc, void*)` returns what Py_VISIT
// would. A heap type's instances also keep their type alive.
template <class Payload>
int traverse_native_object(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (Payload* payload = reinterpret_cast<NativeObject<Payload>*>(self)->payload) {
        return payload->visit(visit, arg);
    }
    return 0;
}

// tp_clear: the payload drops its Python references but stays usable.
template <class Payload>
int clear_native_object(PyObject* self) {
    if (Payload* payload = reinterpret_cast<NativeObject<Payload>*>(self)->payload) payload->clear();
    return 0;
}

// tp_dealloc of a garbage-collected native object.
template <class Payload>
void dealloc_native_object(PyObject* self) {
    boundary_dealloc([&] {
        PyObject_GC_UnTrack(self);
        delete std::exchange(reinterpret_cast<NativeObject<Payload>*>(self)->payload, nullptr);
        free_heap_instance(self);
    });
}

// The slot table of a garbage-collected native class: the class's own
// slots, then the three above, then the terminator.
template <class Payload, size_t N>
std::array<PyType_Slot, N + 4> native_object_slots(const PyType_Slot (&own)[N]) {
    std::array<PyType_Slot, N + 4> slots{};
    std::copy(own, own + N, slots.begin());
    slots[N] = {Py_tp_traverse, reinterpret_cast<void*>(traverse_native_object<Payload>)};
    slots[N + 1] = {Py_tp_clear, reinterpret_cast<void*>(clear_native_object<Payload>)};
    slots[N + 2] = {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_native_object<Payload>)};
    slots[N + 3] = {0, nullptr};
    return slots;
}

// The definition of a class of garbage-collected native objects, over the
// slot table above (which must outlive it). Their classes are immutable, as
// every class of the module: its methods reach the module's state through
// their defining class.
template <class Payload, size_t N>
PyType_Spec native_object_spec(const char* name, const std::array<PyType_Slot, N>& slots,
                               unsigned int extra_flags = 0) {
    return PyType_Spec{
        .name = name,
        .basicsize = static_cast<int>(sizeof(NativeObject<Payload>)),
        .itemsize = 0,
        .flags = static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
                                           extra_flags),
        .slots = const_cast<PyType_Slot*>(slots.data()),
    };
}

// The class `definition` describes, made for `module` (whose state its
// methods reach through their defining class).
inline Result<PyRef> new_module_class(PyObject* module, PyType_Spec& definition) {
    PyRef type(PyType_FromModuleAndSpec(module, &definition, nullptr));
    if (!type) return PyErr::fetch();
    return type;
}

}  // namespace tallygrams::boundary
