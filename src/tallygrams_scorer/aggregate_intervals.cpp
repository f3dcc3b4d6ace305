#include "tallygrams_scorer/aggregate_intervals.hpp"

#include <algorithm>
#include <cmath>

#include "boundary/new_object.hpp"
#include "engine/statistics/percentile.hpp"

namespace tallygrams::companion {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

std::array<std::vector<double>, 3> interval_values(std::vector<double> means, size_t width, double confidence) {
    const size_t samples = means.size() / width;
    const engine::IntervalPercentiles q = engine::interval_percentiles(confidence);
    std::array<std::vector<double>, 3> bounds;
    std::vector<double> measure(samples);
    for (size_t k = 0; k < width; ++k) {
        bool has_nan = false;
        for (size_t s = 0; s < samples; ++s) {
            measure[s] = means[s * width + k];
            has_nan |= std::isnan(measure[s]);
        }
        std::sort(measure.begin(), measure.end());
        const std::array<double, 3> levels = {q.low, q.mid, q.high};
        for (size_t b = 0; b < 3; ++b) {
            bounds[b].push_back(has_nan ? std::nan("") : engine::percentile(measure, levels[b]));
        }
    }
    return bounds;
}

Result<PyRef> make_bound(PyObject* row_class, PyObject* number_type, const std::vector<double>& values) {
    std::vector<PyRef> owned;
    std::vector<PyObject*> items;
    for (double value : values) {
        PyRef number = boundary::new_object_or_fail(PyFloat_FromDouble(value));
        PyRef typed(PyObject_CallOneArg(number_type, number.get()));
        if (!typed) return PyErr::fetch();
        owned.push_back(std::move(typed));
        items.push_back(owned.back().get());
    }
    if (row_class == reinterpret_cast<PyObject*>(&PyTuple_Type) || row_class == reinterpret_cast<PyObject*>(&PyList_Type)) {
        PyRef tuple = boundary::new_object_or_fail(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
        for (size_t k = 0; k < items.size(); ++k) PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(k), Py_NewRef(items[k]));
        if (row_class == reinterpret_cast<PyObject*>(&PyTuple_Type)) return tuple;
        return boundary::new_object_or_fail(PySequence_List(tuple.get()));
    }
    PyRef bound(PyObject_Vectorcall(row_class, items.data(), items.size(), nullptr));
    if (!bound) return PyErr::fetch();
    return bound;
}

}  // namespace tallygrams::companion
