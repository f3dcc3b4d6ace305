// Score columns handed to the native statistics (bootstrap, resample_means,
// compare): a ScoreColumns, read through its to_pydict(), or a mapping from
// name to a column of floats. A column that exports a buffer of doubles
// (array('d'), a NumPy float64 array, a memoryview) is viewed in place;
// any other sequence is copied, None marking a null row.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "boundary/py_err.hpp"
#include "boundary/python.hpp"

namespace tallygrams::companion {

// One column's values: viewed in place when the object exports a buffer of
// doubles (array('d'), a NumPy float64 array, memoryview), else copied from
// its items.
class ColumnValues {
public:
    ColumnValues() = default;
    ColumnValues(const ColumnValues&) = delete;
    ColumnValues& operator=(const ColumnValues&) = delete;
    ~ColumnValues();

    // Reads `column`, named `name` in messages.
    boundary::Status read(PyObject* column, const std::string& name);

    std::span<const double> values() const noexcept { return values_; }
    const std::vector<size_t>& null_rows() const noexcept { return null_rows_; }

    // Keeps only the rows not marked in `dropped`.
    void drop_rows(const std::vector<bool>& dropped);

private:
    Py_buffer view_{};
    std::vector<double> copied_;
    std::span<const double> values_;
    std::vector<size_t> null_rows_;
};

// The names and values of the columns, in the mapping's order.
struct NamedColumns {
    boundary::PyRef names;  // list of str
    std::vector<std::unique_ptr<ColumnValues>> values;

    std::vector<std::span<const double>> spans() const;
    // The number of rows of the first column; 0 without columns.
    size_t rows() const noexcept { return values.empty() ? 0 : values[0]->values().size(); }
    // Sets dropped[row] for every row that is null (None) in some column,
    // growing `dropped` as needed.
    void mark_null_rows(std::vector<bool>& dropped) const;
    // Leaves the rows marked in `dropped` out of every column.
    void drop_rows(const std::vector<bool>& dropped);
};

// `given` as columns; `argument` names the parameter in messages. Null rows
// are kept (as 0.0) and listed by each column's null_rows().
boundary::Result<NamedColumns> read_columns(PyObject* given, const char* argument);

}  // namespace tallygrams::companion
