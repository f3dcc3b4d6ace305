#include "tallygrams_scorer/bootstrap_function.hpp"

#include <array>
#include <memory>
#include <atomic>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "boundary/new_object.hpp"
#include "boundary/pool_access.hpp"
#include "boundary/run_interruptible.hpp"
#include "engine/memory_capacity.hpp"
#include "engine/statistics/bootstrap.hpp"
#include "tallygrams_scorer/mapping_items.hpp"
#include "tallygrams_scorer/score_tuples.hpp"

namespace tallygrams::companion {
namespace {

using boundary::BoundArguments;
using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

// One column's values: viewed in place when the object exports a buffer of
// doubles (array('d'), a NumPy float64 array, memoryview), else copied from
// its items.
class ColumnValues {
public:
    ColumnValues() = default;
    ColumnValues(const ColumnValues&) = delete;
    ColumnValues& operator=(const ColumnValues&) = delete;
    ~ColumnValues() {
        if (view_.obj != nullptr) PyBuffer_Release(&view_);
    }

    boundary::Status read(PyObject* column, const std::string& name) {
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

    std::span<const double> values() const noexcept { return values_; }
    const std::vector<size_t>& null_rows() const noexcept { return null_rows_; }

    // Keeps only the rows not marked in `dropped`.
    void drop_rows(const std::vector<bool>& dropped) {
        if (copied_.empty() || copied_.data() != values_.data()) copied_.assign(values_.begin(), values_.end());
        size_t kept = 0;
        for (size_t row = 0; row < copied_.size(); ++row) {
            if (row >= dropped.size() || !dropped[row]) copied_[kept++] = copied_[row];
        }
        copied_.resize(kept);
        values_ = copied_;
    }

private:
    Py_buffer view_{};
    std::vector<double> copied_;
    std::span<const double> values_;
    std::vector<size_t> null_rows_;
};

// The names and values of the columns: a ScoreColumns' (through its
// to_pydict), or a mapping's.
struct NamedColumns {
    PyRef names;  // list of str
    std::vector<std::unique_ptr<ColumnValues>> values;
};

Result<NamedColumns> read_columns(PyObject* given) {
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
            "columns", PyErr::new_message(PyExc_TypeError, boundary::type_mismatch_message(given, "Mapping") +
                                                               ": expected ScoreColumns or a mapping from name to "
                                                               "a column of floats"));
    }
    Result<PyRef> pairs = mapping_pairs(mapping.get(), to_pydict ? "columns.to_pydict()" : "columns");
    if (!pairs) return boundary::annotate_argument_error("columns", std::move(pairs).take_error());
    const PyRef items = std::move(pairs).take_value();
    NamedColumns columns{boundary::new_object_or_fail(PyList_New(0)), {}};
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(items.get()); ++k) {
        PyObject* pair = PyList_GET_ITEM(items.get(), k);
        PyObject* name = PyTuple_GET_ITEM(pair, 0);
        if (!PyUnicode_Check(name)) {
            return boundary::annotate_argument_error("columns", boundary::type_mismatch(name, "str"));
        }
        auto values = std::make_unique<ColumnValues>();
        if (boundary::Status s = values->read(PyTuple_GET_ITEM(pair, 1), boundary::lossy_utf8(name)); !s) {
            return boundary::annotate_argument_error("columns", std::move(s).take_error());
        }
        if (PyList_Append(columns.names.get(), name) < 0) return PyErr::fetch();
        columns.values.push_back(std::move(values));
    }
    // A row that is null (None) in any column, a pair whose text was null,
    // is left out of every column.
    std::vector<bool> dropped;
    for (const auto& values : columns.values) {
        for (size_t row : values->null_rows()) {
            if (dropped.size() <= row) dropped.resize(row + 1);
            dropped[row] = true;
        }
    }
    if (!dropped.empty()) {
        for (const auto& values : columns.values) values->drop_rows(dropped);
    }
    return columns;
}

Result<PyRef> bootstrap_body(PyObject* module, const BoundArguments& arguments) {
    const ModuleState& state = state_of_module(module);
    engine::BootstrapSettings settings;
    Result<size_t> samples = arguments.get<boundary::Count>(1, settings.resamples);
    if (!samples) return std::move(samples).take_error();
    Result<uint64_t> seed = arguments.get<boundary::Seed>(2, settings.seed);
    if (!seed) return std::move(seed).take_error();
    Result<double> confidence = arguments.get<boundary::UnitInterval>(3, settings.confidence);
    if (!confidence) return std::move(confidence).take_error();
    settings.resamples = samples.value();
    settings.seed = seed.value();
    settings.confidence = confidence.value();
    Result<NamedColumns> columns = read_columns(arguments[0]);
    if (!columns) return std::move(columns).take_error();
    std::vector<std::span<const double>> spans;
    for (const auto& values : columns.value().values) spans.push_back(values->values());

    Result<engine::WorkerPool*> pool = boundary::worker_pool();
    if (!pool) return std::move(pool).take_error();
    std::string failure;
    PyObject* failure_type = PyExc_ValueError;
    Result<std::optional<std::vector<engine::ColumnSummary>>> interval = boundary::run_interruptible(
        [&](engine::Interruption& interruption) -> std::optional<std::vector<engine::ColumnSummary>> {
            try {
                return engine::bootstrap_intervals(*pool.value(), spans, settings, interruption.flag(),
                                                   &interruption);
            } catch (const std::invalid_argument& error) {
                failure = error.what();
            } catch (const engine::MemoryRequestRefused& error) {
                failure = error.what();
                failure_type = PyExc_MemoryError;
            }
            return std::nullopt;
        });
    if (!interval) return std::move(interval).take_error();
    if (!failure.empty()) return PyErr::new_message(failure_type, failure);
    const std::optional<std::vector<engine::ColumnSummary>>& summaries = interval.value();
    ensure(summaries.has_value(), "an uninterrupted bootstrap gave no result");
    PyRef result = boundary::new_object_or_fail(PyDict_New());
    for (size_t k = 0; k < summaries->size(); ++k) {
        const engine::ColumnSummary& s = (*summaries)[k];
        std::array<PyRef, 4> values;
        const double numbers[4] = {s.mean, s.low, s.mid, s.high};
        for (size_t v = 0; v < 4; ++v) values[v] = boundary::new_object_or_fail(PyFloat_FromDouble(numbers[v]));
        const std::array<PyObject*, 4> items = {values[0].get(), values[1].get(), values[2].get(), values[3].get()};
        Result<PyRef> interval = new_named_tuple(state.interval_class, items);
        if (!interval) return interval;
        if (PyDict_SetItem(result.get(), PyList_GET_ITEM(columns.value().names.get(), static_cast<Py_ssize_t>(k)),
                           interval.value().get()) < 0) {
            return PyErr::fetch();
        }
    }
    return result;
}

}  // namespace

boundary::Status create_interval_class(ModuleState& state) {
    Result<PyRef> cls = make_named_tuple_class(
        "Interval", {"mean", "low", "mid", "high"},
        "Interval(mean, low, mid, high)\n\nA column's mean and the bootstrap percentiles of its resampled means.");
    if (!cls) return std::move(cls).take_error();
    state.interval_class = std::move(cls).take_value().release();
    return boundary::Unit{};
}

constexpr boundary::ModuleFunction kBootstrapFunction{
    .signature = {.function_name = "bootstrap",
                  .parameters = {{"columns"},
                                 {"n_samples", &boundary::kCount},
                                 {"seed", &boundary::kSeed},
                                 {"confidence_interval", &boundary::kUnitInterval}},
                  .required = 1,
                  .keyword_only_from = 2},
    .doc = "bootstrap(columns, n_samples=1000, *, seed=0, confidence_interval=0.95)\n--\n\n"
           "Each column's mean and percentile-bootstrap interval, computed natively on\n"
           "all cores: n_samples resamples of the rows with replacement, one draw\n"
           "shared by every column, the low, mid and high percentiles of the\n"
           "resampled means. The same seed gives the same intervals on any number of\n"
           "cores. columns: ScoreColumns, or a mapping from name to a column of floats\n"
           "(array('d'), a NumPy array, a list). Returns {name: Interval}.",
    .body = bootstrap_body,
    .receives_module = true,
};
static_assert(boundary::doc_matches_signature(kBootstrapFunction));

}  // namespace tallygrams::companion
