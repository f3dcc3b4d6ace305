#include "tallygrams_scorer/sampling_arguments.hpp"

#include <string>

#include "boundary/arguments.hpp"
#include "boundary/new_object.hpp"

namespace tallygrams::companion {
namespace {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

Result<PyRef> integer(PyObject* value, const char* argument) {
    if (PyBool_Check(value) || !PyIndex_Check(value)) {
        return boundary::annotate_argument_error(argument, boundary::type_mismatch(value, "int"));
    }
    PyRef index(PyNumber_Index(value));
    if (!index) return PyErr::fetch();
    return index;
}

}  // namespace

Result<size_t> read_sample_count(PyObject* value, const char* argument) {
    Result<PyRef> index = integer(value, argument);
    if (!index) return std::move(index).take_error();
    const Py_ssize_t count = PyLong_AsSsize_t(index.value().get());
    if (count == -1 && PyErr_Occurred()) return boundary::annotate_argument_error(argument, PyErr::fetch());
    if (count <= 0) return PyErr::new_message(PyExc_ValueError, std::string(argument) + " must be positive");
    return static_cast<size_t>(count);
}

Result<uint64_t> read_seed(PyObject* value) {
    Result<PyRef> index = integer(value, "seed");
    if (!index) return std::move(index).take_error();
    const unsigned long long seed = PyLong_AsUnsignedLongLong(index.value().get());
    if (seed == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        return PyErr::new_message(PyExc_ValueError, "seed must be an int from 0 to 2**64 - 1");
    }
    return static_cast<uint64_t>(seed);
}

Result<double> read_confidence(PyObject* value) {
    const double confidence = PyFloat_AsDouble(value);
    if (confidence == -1.0 && PyErr_Occurred()) {
        return boundary::annotate_argument_error("confidence_interval", PyErr::fetch());
    }
    if (!(confidence >= 0.0 && confidence <= 1.0)) {
        return PyErr::new_message(PyExc_ValueError, "confidence_interval must be in range [0, 1]");
    }
    return confidence;
}

}  // namespace tallygrams::companion
