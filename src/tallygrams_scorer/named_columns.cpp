#include "tallygrams_scorer/named_columns.hpp"

#include "boundary/arguments.hpp"
#include "boundary/new_object.hpp"
#include "tallygrams_scorer/mapping_items.hpp"

namespace tallygrams::companion {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;
using boundary::Status;

ColumnValues::~ColumnValues() {
    if (view_.obj != nullptr) PyBuffer_Release(&view_);
}

Status ColumnValues::read(PyObject* column, const std::string& name) {
    if (PyObject_CheckBuffer(column) && !PyBytes_Check(column) && !PyByteArray_Check(column) &&
        PyObject_GetBuffer(column, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == 0) {
        const std::string_view format = view_.format == nullptr ? "B" : view_.format;
        if (view_.ndim != 1) {
            // A column is one value per row, however the values are held.
            return PyErr::new_message(PyExc_TypeError, "the column " + name + " has " + std::to_string(view_.ndim) +
                                                           " dimensions; a column has one");
        }
        if (view_.itemsize == 8 && (format == "d" || format == "<d" || format == "=d" || format == "@d")) {
            values_ = {static_cast<const double*>(view_.buf), static_cast<size_t>(view_.len) / 8};
            return boundary::Unit{};
        }
        PyBuffer_Release(&view_);
        view_ = Py_buffer{};
    }
    PyErr_Clear();
    PyRef items(PySequence_Fast(column, ""));
    if (!items) {
        PyErr_Clear();
        return PyErr::new_message(PyExc_TypeError, "the column " + name + " is not a sequence of floats");
    }
    copied_.reserve(static_cast<size_t>(PySequence_Fast_GET_SIZE(items.get())));
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (item == Py_None) {
            null_rows_.push_back(copied_.size());
            copied_.push_back(0.0);
            continue;
        }
        const double value = PyFloat_AsDouble(item);
        if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
        copied_.push_back(value);
    }
    values_ = copied_;
    return boundary::Unit{};
}

void ColumnValues::drop_rows(const std::vector<bool>& dropped) {
    if (copied_.empty() || copied_.data() != values_.data()) copied_.assign(values_.begin(), values_.end());
    size_t kept = 0;
    for (size_t row = 0; row < copied_.size(); ++row) {
        if (row >= dropped.size() || !dropped[row]) copied_[kept++] = copied_[row];
    }
    copied_.resize(kept);
    values_ = copied_;
}

std::vector<std::span<const double>> NamedColumns::spans() const {
    std::vector<std::span<const double>> spans;
    for (const auto& column : values) spans.push_back(column->values());
    return spans;
}

void NamedColumns::mark_null_rows(std::vector<bool>& dropped) const {
    for (const auto& column : values) {
        for (size_t row : column->null_rows()) {
            if (dropped.size() <= row) dropped.resize(row + 1);
            dropped[row] = true;
        }
    }
}

void NamedColumns::drop_rows(const std::vector<bool>& dropped) {
    if (dropped.empty()) return;
    for (const auto& column : values) column->drop_rows(dropped);
}

Result<NamedColumns> read_columns(PyObject* given, const char* argument) {
    PyRef mapping;
    PyObject* found = nullptr;
    if (PyObject_GetOptionalAttrString(given, "to_pydict", &found) < 0) return PyErr::fetch();
    PyRef to_pydict(found);
    const int plain_mapping = to_pydict ? 0 : is_mapping(given);
    if (plain_mapping < 0) return PyErr::fetch();
    if (to_pydict) {
        mapping = PyRef(PyObject_CallNoArgs(to_pydict.get()));
        if (!mapping) return PyErr::fetch();
    } else if (plain_mapping == 1) {
        mapping = PyRef::borrow(given);
    } else {
        return boundary::annotate_argument_error(
            argument, PyErr::new_message(PyExc_TypeError, boundary::type_mismatch_message(given, "Mapping") +
                                                               ": expected ScoreColumns or a mapping from name to "
                                                               "a column of floats"));
    }
    const std::string what = to_pydict ? std::string(argument) + ".to_pydict()" : std::string(argument);
    Result<PyRef> pairs = mapping_pairs(mapping.get(), what.c_str());
    if (!pairs) return boundary::annotate_argument_error(argument, std::move(pairs).take_error());
    const PyRef items = std::move(pairs).take_value();
    NamedColumns columns{boundary::new_object_or_fail(PyList_New(0)), {}};
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(items.get()); ++k) {
        PyObject* pair = PyList_GET_ITEM(items.get(), k);
        PyObject* name = PyTuple_GET_ITEM(pair, 0);
        if (!PyUnicode_Check(name)) {
            return boundary::annotate_argument_error(argument, boundary::type_mismatch(name, "str"));
        }
        auto values = std::make_unique<ColumnValues>();
        if (boundary::Status s = values->read(PyTuple_GET_ITEM(pair, 1), boundary::lossy_utf8(name)); !s) {
            return boundary::annotate_argument_error(argument, std::move(s).take_error());
        }
        if (PyList_Append(columns.names.get(), name) < 0) return PyErr::fetch();
        columns.values.push_back(std::move(values));
    }
    return columns;
}

}  // namespace tallygrams::companion
