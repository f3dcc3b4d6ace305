#include "boundary/parameter_types.hpp"

#include <string>

#include "boundary/arguments.hpp"
#include "common/stable_texts.hpp"

namespace tallygrams::boundary {
namespace {

PyErr out_of_range(std::string_view name, std::string_view rule) {
    return PyErr::new_message(PyExc_ValueError, std::string(name) + " " + std::string(rule));
}

// An int, or the int of an object with __index__. A bool is an int to the
// interpreter, but never one a caller means here.
Result<PyRef> integer(PyObject* object, std::string_view name) {
    if (PyBool_Check(object) || !PyIndex_Check(object)) return annotate_argument_error(name, type_mismatch(object, "int"));
    PyRef index(PyNumber_Index(object));
    if (!index) return annotate_argument_error(name, PyErr::fetch());
    return index;
}

}  // namespace

Result<std::string_view> Text::convert(PyObject* object, std::string_view name) {
    Result<std::string_view> text = extract_text(object);
    if (!text) return annotate_argument_error(name, std::move(text).take_error());
    return text;
}

Result<PyRef> Texts::convert(PyObject* object, std::string_view name) {
    if (PyUnicode_Check(object)) {
        return annotate_argument_error(
            name, PyErr::new_message(PyExc_TypeError, "expected a sequence of texts, not a single str"));
    }
    if (!PySequence_Check(object)) return annotate_argument_error(name, type_mismatch(object, "Sequence"));
    PyRef items(PySequence_Tuple(object));
    if (!items) return annotate_argument_error(name, PyErr::fetch());
    return items;
}

Result<bool> Truth::convert(PyObject* object, std::string_view name) {
    const int truth = PyObject_IsTrue(object);
    if (truth < 0) return annotate_argument_error(name, PyErr::fetch());
    return truth == 1;
}

Result<size_t> Count::convert(PyObject* object, std::string_view name) {
    Result<PyRef> index = integer(object, name);
    if (!index) return std::move(index).take_error();
    static_assert(sizeof(long long) >= sizeof(Py_ssize_t));
    int overflow = 0;
    const long long count = PyLong_AsLongLongAndOverflow(index.value().get(), &overflow);
    if (count == -1 && PyErr_Occurred()) return annotate_argument_error(name, PyErr::fetch());
    if (overflow < 0 || (overflow == 0 && count <= 0)) return out_of_range(name, stable::kMustBePositive);
    // Sizes are Py_ssize_t to the interpreter, and a count is one.
    if (overflow > 0 || count > PY_SSIZE_T_MAX) return out_of_range(name, "is too large");
    return static_cast<size_t>(count);
}

Result<double> UnitInterval::convert(PyObject* object, std::string_view name) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return annotate_argument_error(name, PyErr::fetch());
    if (!(value >= 0.0 && value <= 1.0)) return out_of_range(name, stable::kMustBeInUnitInterval);
    return value;
}

Result<uint64_t> Seed::convert(PyObject* object, std::string_view name) {
    Result<PyRef> index = integer(object, name);
    if (!index) return std::move(index).take_error();
    const unsigned long long seed = PyLong_AsUnsignedLongLong(index.value().get());
    if (seed == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();  // an OverflowError, below 0 or past 64 bits
        return out_of_range(name, "must be an int from 0 to 2**64 - 1");
    }
    return static_cast<uint64_t>(seed);
}

Result<std::optional<uint64_t>> SeedOrNone::convert(PyObject* object, std::string_view name) {
    if (object == Py_None) return std::optional<uint64_t>();
    Result<uint64_t> seed = Seed::convert(object, name);
    if (!seed) return std::move(seed).take_error();
    return std::optional<uint64_t>(seed.value());
}

}  // namespace tallygrams::boundary
