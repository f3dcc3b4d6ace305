// Reading a mapping the way rouge-score does, through its items(): a dict,
// or any object that offers items(), such as a collections.abc.Mapping of
// the caller's own (which CPython also reports as a sequence, so the
// abstract-protocol checks alone cannot tell it from a list).
#pragma once

#include <string>

#include "boundary/new_object.hpp"
#include "boundary/py_err.hpp"

namespace tallygrams::companion {

// Whether `object` is read as a mapping: a dict, or anything but a str,
// bytes, list or tuple that has an `items` attribute. -1 with an exception
// set if looking the attribute up failed.
inline int is_mapping(PyObject* object) {
    if (PyDict_Check(object)) return 1;
    if (PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object) || PyList_Check(object) ||
        PyTuple_Check(object)) {
        return 0;
    }
    return PyObject_HasAttrStringWithError(object, "items");
}

// items() as a list of (key, value) pairs; what items() gives is the
// caller's, so each is checked to be a pair before it is unpacked.
inline boundary::Result<boundary::PyRef> mapping_pairs(PyObject* mapping, const char* what) {
    boundary::PyRef items(PyMapping_Items(mapping));
    if (!items) return boundary::PyErr::fetch();
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(items.get()); ++k) {
        PyObject* pair = PyList_GET_ITEM(items.get(), k);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
            return boundary::PyErr::new_message(PyExc_TypeError,
                                                std::string(what) + ".items() must give (key, value) pairs");
        }
    }
    return items;
}

}  // namespace tallygrams::companion
