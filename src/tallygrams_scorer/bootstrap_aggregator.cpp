#include "tallygrams_scorer/bootstrap_aggregator.hpp"

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "boundary/arguments.hpp"
#include "boundary/method_record.hpp"
#include "boundary/native_object.hpp"
#include "boundary/new_object.hpp"
#include "tallygrams_scorer/aggregate_intervals.hpp"
#include "tallygrams_scorer/mapping_items.hpp"
#include "tallygrams_scorer/numpy_draws.hpp"
#include "tallygrams_scorer/score_tuples.hpp"

namespace tallygrams::companion {
namespace {

using boundary::BoundArguments;
using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

// The scores added under one score type: rows of `width` values.
struct ScoreColumn {
    PyRef key;
    PyRef row_class;  // the class of its first score; the results are made with it
    size_t width = 0;
    std::vector<double> values;
};

struct Aggregator {
    double confidence = 0.95;
    size_t samples = 1000;
    std::optional<uint64_t> seed;  // none, or the seed of a generator of its own
    PyRef numpy_random;  // the numpy.random module
    PyRef positions;     // dict: score type -> position in `columns`
    std::vector<ScoreColumn> columns;

    int visit(visitproc visit, void* arg) {
        Py_VISIT(numpy_random.get());
        Py_VISIT(positions.get());
        for (const ScoreColumn& column : columns) {
            Py_VISIT(column.key.get());
            Py_VISIT(column.row_class.get());
        }
        return 0;
    }
    void clear() {
        // Everything that can take part in a cycle; the object is unusable
        // afterwards, which only a collector about to free it ever sees.
        numpy_random = PyRef();
        positions = PyRef();
        columns.clear();
    }
};

Aggregator& aggregator_of(PyObject* self) { return boundary::payload_of<Aggregator>(self); }

// --- constructor ----------------------------------------------------------------

constexpr boundary::Signature kConstructorSignature{
    .function_name = "BootstrapAggregator",
    .parameters = {{"confidence_interval", &boundary::kUnitInterval},
                   {"n_samples", &boundary::kCount},
                   {"seed", &boundary::kSeedOrNone}},
    .required = 0,
    .keyword_only_from = 2,
};

constexpr const char* kClassDoc =
    "BootstrapAggregator(confidence_interval=0.95, n_samples=1000, *, seed=None)\n--\n\n"
    "Collects score dicts and reports, for each score type, the bootstrap\n"
    "confidence interval of the mean of every measure.\n\n"
    "aggregate() draws n_samples resamples of the added scores with NumPy's\n"
    "random generator, exactly as rouge-score's BootstrapAggregator does: with\n"
    "the generator in the same state, the results are equal to the last bit.\n"
    "seed=None draws from NumPy's global generator (numpy.random.seed sets it);\n"
    "an integer seed draws from a generator of its own, started afresh for each\n"
    "aggregate() call, so results repeat and the global generator is left alone.";
static_assert(boundary::doc_matches_signature("BootstrapAggregator", kConstructorSignature, kClassDoc));

PyObject* aggregator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        Result<BoundArguments> bound = boundary::bind_arguments(kConstructorSignature, args, kwargs);
        if (!bound) return std::move(bound).take_error();
        const BoundArguments& arguments = bound.value();
        Result<double> confidence = arguments.get<boundary::UnitInterval>(0, 0.95);
        if (!confidence) return std::move(confidence).take_error();
        // The cost of many resamples is judged where they are drawn, against
        // the width of the scores.
        Result<size_t> samples = arguments.get<boundary::Count>(1, 1000);
        if (!samples) return std::move(samples).take_error();
        // NumPy's RandomState takes seeds below 2**32 and refuses the others
        // itself, at aggregate().
        Result<std::optional<uint64_t>> seed = arguments.get<boundary::SeedOrNone>(2, std::nullopt);
        if (!seed) return std::move(seed).take_error();
        Result<PyRef> numpy_random = import_numpy_random();
        if (!numpy_random) return std::move(numpy_random).take_error();

        auto aggregator = std::make_unique<Aggregator>();
        aggregator->confidence = confidence.value();
        aggregator->samples = samples.value();
        aggregator->seed = seed.value();
        aggregator->numpy_random = std::move(numpy_random).take_value();
        aggregator->positions = boundary::new_object_or_fail(PyDict_New());
        return boundary::new_native_object(type, std::move(aggregator));
    });
}

// --- add_scores -------------------------------------------------------------------

// One score as numbers: the values of a sequence (a Score or any tuple of
// numbers), or a lone number.
struct Row {
    PyObject* key;       // borrowed from the items list
    PyObject* score;     // borrowed from the items list
    std::vector<double> values;
};

std::string key_text(PyObject* key) {
    PyRef text(PyObject_Repr(key));
    if (!text) {
        PyErr_Clear();
        return "?";
    }
    return boundary::lossy_utf8(text.get());
}

Result<Row> read_row(PyObject* key, PyObject* score) {
    Row row{key, score, {}};
    const auto not_numbers = [&] {
        return PyErr::new_message(PyExc_TypeError, "the score for " + key_text(key) +
                                                       " is neither a number nor a sequence of numbers");
    };
    if (PyUnicode_Check(score) || PyBytes_Check(score) || PyByteArray_Check(score)) return not_numbers();
    if (PySequence_Check(score)) {
        // A tuple of the items, not the list itself: an item's __float__ is
        // the caller's code and may empty the list while it is read.
        PyRef items(PySequence_Tuple(score));
        if (!items) return PyErr::fetch();
        const Py_ssize_t count = PyTuple_GET_SIZE(items.get());
        if (count == 0) {
            return PyErr::new_message(PyExc_ValueError, "the score for " + key_text(key) + " holds no values");
        }
        for (Py_ssize_t k = 0; k < count; ++k) {
            PyObject* item = PyTuple_GET_ITEM(items.get(), k);
            if (PyUnicode_Check(item) || !PyNumber_Check(item)) return not_numbers();
            const double value = PyFloat_AsDouble(item);
            if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
            row.values.push_back(value);
        }
        return row;
    }
    if (!PyNumber_Check(score)) return not_numbers();
    const double value = PyFloat_AsDouble(score);
    if (value == -1.0 && PyErr_Occurred()) return PyErr::fetch();
    row.values.push_back(value);
    return row;
}

// Every score is read and checked before any is kept, so that a bad score
// leaves the aggregator as it was.
Result<PyRef> add_scores_body(PyObject* self, PyTypeObject* /*defining_class*/, const BoundArguments& arguments) {
    Aggregator& aggregator = aggregator_of(self);
    if (!aggregator.positions) return PyErr::new_message(PyExc_RuntimeError, "the aggregator has been cleared");
    PyObject* scores = arguments[0];
    const int mapping = is_mapping(scores);
    if (mapping < 0) return PyErr::fetch();
    if (mapping == 0) return boundary::annotate_argument_error("scores", boundary::type_mismatch(scores, "Mapping"));
    PyRef items(PyMapping_Items(scores));
    if (!items) return PyErr::fetch();

    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(PyList_GET_SIZE(items.get())));
    for (Py_ssize_t k = 0; k < PyList_GET_SIZE(items.get()); ++k) {
        PyObject* pair = PyList_GET_ITEM(items.get(), k);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
            return PyErr::new_message(PyExc_TypeError, "scores.items() must give (score type, score) pairs");
        }
        Result<Row> row = read_row(PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1));
        if (!row) return std::move(row).take_error();
        rows.push_back(std::move(row).take_value());
    }
    // Widths must agree with what each type holds already (and, for a new
    // type named twice by an odd mapping, with its first row here).
    std::vector<Py_ssize_t> targets;
    PyRef pending = boundary::new_object_or_fail(PyDict_New());  // new type -> width
    for (const Row& row : rows) {
        PyObject* found = nullptr;
        if (PyDict_GetItemRef(aggregator.positions.get(), row.key, &found) < 0) return PyErr::fetch();
        size_t width = 0;
        if (found != nullptr) {
            const PyRef position(found);
            width = aggregator.columns[PyLong_AsSize_t(position.get())].width;
        } else {
            PyObject* seen = nullptr;
            if (PyDict_GetItemRef(pending.get(), row.key, &seen) < 0) return PyErr::fetch();
            if (seen != nullptr) {
                const PyRef seen_width(seen);
                width = PyLong_AsSize_t(seen_width.get());
            } else {
                width = row.values.size();
                PyRef value = boundary::new_object_or_fail(PyLong_FromSize_t(width));
                if (PyDict_SetItem(pending.get(), row.key, value.get()) < 0) return PyErr::fetch();
            }
        }
        if (row.values.size() != width) {
            return PyErr::new_message(PyExc_ValueError, "scores for " + key_text(row.key) + " have " +
                                                            std::to_string(width) + " values, but this one has " +
                                                            std::to_string(row.values.size()));
        }
    }
    // The dict lookups hash the caller's keys, which is the caller's code: it
    // may add scores to this aggregator in between (from this thread or,
    // as the lock is let go, another). What was checked above is checked
    // again where it is used, so that no row lands in a column of another
    // width or under another type's position.
    const auto changed = [] {
        return PyErr::new_message(PyExc_RuntimeError, "the aggregator was changed while these scores were added");
    };
    for (Row& row : rows) {
        PyObject* found = nullptr;
        if (PyDict_GetItemRef(aggregator.positions.get(), row.key, &found) < 0) return PyErr::fetch();
        if (found != nullptr) {
            const PyRef index(found);
            const size_t position = PyLong_AsSize_t(index.get());
            if (position >= aggregator.columns.size() || aggregator.columns[position].width != row.values.size()) {
                return changed();
            }
            std::vector<double>& values = aggregator.columns[position].values;
            values.insert(values.end(), row.values.begin(), row.values.end());
            continue;
        }
        // A new type: its column, with this row, is in place before the
        // dict names its position, so the position is right whatever the
        // key's hash adds meanwhile, and no column is ever left empty.
        const size_t position = aggregator.columns.size();
        ScoreColumn column;
        column.key = PyRef::borrow(row.key);
        column.row_class = PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(row.score)));
        column.width = row.values.size();
        column.values = std::move(row.values);
        aggregator.columns.push_back(std::move(column));
        PyRef index = boundary::new_object_or_fail(PyLong_FromSize_t(position));
        if (PyDict_SetItem(aggregator.positions.get(), row.key, index.get()) < 0) {
            if (aggregator.columns.size() == position + 1) aggregator.columns.pop_back();
            return PyErr::fetch();
        }
    }
    return PyRef::borrow(Py_None);
}

constexpr boundary::Method kAddScores{
    .name = "add_scores",
    .signature = {.function_name = "BootstrapAggregator.add_scores", .parameters = {{"scores"}}, .required = 1,
                  .method = true},
    .doc = "add_scores($self, scores)\n--\n\n"
           "Add one sample: a dict from score type to score (a Score, any sequence of\n"
           "numbers of the same length for every sample of that type, or a number).",
    .body = add_scores_body,
};
static_assert(boundary::doc_matches_signature(kAddScores));

// --- aggregate --------------------------------------------------------------------

Result<PyRef> aggregate_body(PyObject* self, PyTypeObject* defining_class, const BoundArguments& /*arguments*/) {
    Aggregator& aggregator = aggregator_of(self);
    if (!aggregator.positions) return PyErr::new_message(PyExc_RuntimeError, "the aggregator has been cleared");
    const ModuleState& state = state_of_class(defining_class);
    PyRef result = boundary::new_object_or_fail(PyDict_New());
    if (aggregator.columns.empty()) return result;
    for (const ScoreColumn& column : aggregator.columns) {
        if (boundary::Status s = check_resample_memory(aggregator.samples, column.width); !s) {
            return std::move(s).take_error();
        }
    }
    Result<PyRef> randint = numpy_randint(aggregator.numpy_random.get(), aggregator.seed);
    if (!randint) return std::move(randint).take_error();
    Result<PyRef> float64 = numpy_float64();
    if (!float64) return std::move(float64).take_error();
    // Drawing, building the bounds and filling the dict run the caller's
    // code (NumPy, the score class, the keys' hashes), which may add scores
    // to this very aggregator or clear it: each column is copied before any
    // of it runs, and the columns are those that were there at the start.
    const size_t count = aggregator.columns.size();
    for (size_t c = 0; c < count; ++c) {
        if (c >= aggregator.columns.size()) {
            return PyErr::new_message(PyExc_RuntimeError, "the aggregator was cleared during aggregate()");
        }
        const ScoreColumn& added = aggregator.columns[c];
        ScoreColumn column{PyRef::borrow(added.key.get()), PyRef::borrow(added.row_class.get()), added.width, added.values};
        Result<std::vector<double>> means =
            resampled_means(column.values, column.width, aggregator.samples, randint.value().get());
        if (!means) return std::move(means).take_error();
        const auto bounds = interval_values(std::move(means).take_value(), column.width, aggregator.confidence);
        std::array<PyRef, 3> made;
        for (size_t b = 0; b < 3; ++b) {
            Result<PyRef> bound = make_bound(column.row_class.get(), float64.value().get(), bounds[b]);
            if (!bound) return std::move(bound).take_error();
            made[b] = std::move(bound).take_value();
        }
        const std::array<PyObject*, 3> items = {made[0].get(), made[1].get(), made[2].get()};
        Result<PyRef> interval = new_named_tuple(state.aggregate_class, items);
        if (!interval) return std::move(interval).take_error();
        if (PyDict_SetItem(result.get(), column.key.get(), interval.value().get()) < 0) return PyErr::fetch();
    }
    return result;
}

constexpr boundary::Method kAggregate{
    .name = "aggregate",
    .signature = {.function_name = "BootstrapAggregator.aggregate", .method = true},
    .doc = "aggregate($self)\n--\n\n"
           "A dict from each score type, in the order first added, to an\n"
           "AggregateScore(low, mid, high) of scores of the class that was added.",
    .body = aggregate_body,
};
static_assert(boundary::doc_matches_signature(kAggregate));

// --- pickling and copying ------------------------------------------------------------

// As rouge-score's aggregator pickles with everything added to it: the
// constructor's first two arguments, then (seed, columns) for __setstate__,
// each column (score type, score class, width, values).
Result<PyRef> reduce_body(PyObject* self, PyTypeObject* /*defining_class*/, const BoundArguments& /*arguments*/) {
    const Aggregator& aggregator = aggregator_of(self);
    if (!aggregator.positions) return PyErr::new_message(PyExc_RuntimeError, "the aggregator has been cleared");
    PyRef columns = boundary::new_object_or_fail(PyList_New(0));
    for (const ScoreColumn& column : aggregator.columns) {
        PyRef values = boundary::new_object_or_fail(PyList_New(static_cast<Py_ssize_t>(column.values.size())));
        for (size_t k = 0; k < column.values.size(); ++k) {
            PyList_SET_ITEM(values.get(), static_cast<Py_ssize_t>(k),
                            boundary::new_object_or_fail(PyFloat_FromDouble(column.values[k])).release());
        }
        PyRef entry = boundary::new_object_or_fail(
            Py_BuildValue("(OOnO)", column.key.get(), column.row_class.get(), static_cast<Py_ssize_t>(column.width),
                          values.get()));
        if (PyList_Append(columns.get(), entry.get()) < 0) return PyErr::fetch();
    }
    PyRef seed = aggregator.seed ? boundary::new_object_or_fail(PyLong_FromUnsignedLongLong(*aggregator.seed))
                                 : PyRef::borrow(Py_None);
    return boundary::new_object_or_fail(Py_BuildValue("(O(dn)(OO))", reinterpret_cast<PyObject*>(Py_TYPE(self)),
                                                      aggregator.confidence,
                                                      static_cast<Py_ssize_t>(aggregator.samples), seed.get(),
                                                      columns.get()));
}

constexpr boundary::Method kReduce{
    .name = "__reduce__",
    .signature = {.function_name = "BootstrapAggregator.__reduce__", .method = true},
    .doc = "__reduce__($self)\n--\n\n"
           "Pickled (and copied) with every score added so far.",
    .body = reduce_body,
};
static_assert(boundary::doc_matches_signature(kReduce));

// One column of a pickled state, checked as any input is: a pickle may have
// been written by hand.
Result<ScoreColumn> column_from_state(PyObject* entry) {
    const auto malformed = [] {
        return PyErr::new_message(PyExc_ValueError, "malformed BootstrapAggregator state");
    };
    if (!PyTuple_Check(entry) || PyTuple_GET_SIZE(entry) != 4 || !PyLong_Check(PyTuple_GET_ITEM(entry, 2)) ||
        !PyList_Check(PyTuple_GET_ITEM(entry, 3))) {
        return malformed();
    }
    ScoreColumn column;
    column.key = PyRef::borrow(PyTuple_GET_ITEM(entry, 0));
    column.row_class = PyRef::borrow(PyTuple_GET_ITEM(entry, 1));
    const Py_ssize_t width = PyLong_AsSsize_t(PyTuple_GET_ITEM(entry, 2));
    if (width == -1 && PyErr_Occurred()) PyErr_Clear();
    // A tuple of the values, so that no float's conversion can change them.
    PyRef values(PySequence_Tuple(PyTuple_GET_ITEM(entry, 3)));
    if (!values) return PyErr::fetch();
    const Py_ssize_t count = PyTuple_GET_SIZE(values.get());
    if (width < 1 || count == 0 || count % width != 0) return malformed();
    column.width = static_cast<size_t>(width);
    column.values.reserve(static_cast<size_t>(count));
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* value = PyTuple_GET_ITEM(values.get(), k);
        if (!PyFloat_Check(value)) return malformed();
        column.values.push_back(PyFloat_AS_DOUBLE(value));
    }
    return column;
}

Result<PyRef> setstate_body(PyObject* self, PyTypeObject* /*defining_class*/, const BoundArguments& arguments) {
    Aggregator& aggregator = aggregator_of(self);
    if (!aggregator.positions) return PyErr::new_message(PyExc_RuntimeError, "the aggregator has been cleared");
    if (!aggregator.columns.empty()) {
        return PyErr::new_message(PyExc_TypeError, "only an aggregator without scores takes a pickled state");
    }
    PyObject* state = arguments[0];
    if (!PyTuple_Check(state) || PyTuple_GET_SIZE(state) != 2 || !PyList_Check(PyTuple_GET_ITEM(state, 1))) {
        return PyErr::new_message(PyExc_ValueError, "malformed BootstrapAggregator state");
    }
    std::optional<uint64_t> seed;
    if (PyTuple_GET_ITEM(state, 0) != Py_None) {
        Result<std::optional<uint64_t>> read = boundary::SeedOrNone::convert(PyTuple_GET_ITEM(state, 0), "seed");
        if (!read) return std::move(read).take_error();
        seed = read.value();
    }
    // Everything is read before anything is kept.
    PyRef entries(PySequence_Tuple(PyTuple_GET_ITEM(state, 1)));
    if (!entries) return PyErr::fetch();
    std::vector<ScoreColumn> columns;
    PyRef positions = boundary::new_object_or_fail(PyDict_New());
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(entries.get()); ++k) {
        Result<ScoreColumn> column = column_from_state(PyTuple_GET_ITEM(entries.get(), k));
        if (!column) return std::move(column).take_error();
        PyRef index = boundary::new_object_or_fail(PyLong_FromSsize_t(k));
        const int fresh = PyDict_SetDefaultRef(positions.get(), column.value().key.get(), index.get(), nullptr);
        if (fresh < 0) return PyErr::fetch();
        if (fresh == 1) return PyErr::new_message(PyExc_ValueError, "malformed BootstrapAggregator state");
        columns.push_back(std::move(column).take_value());
    }
    // The keys' hashes ran the caller's code: only an aggregator still
    // without scores takes the state.
    if (!aggregator.positions || !aggregator.columns.empty()) {
        return PyErr::new_message(PyExc_RuntimeError, "the aggregator was changed while its state was set");
    }
    aggregator.seed = seed;
    aggregator.columns = std::move(columns);
    aggregator.positions = std::move(positions);
    return PyRef::borrow(Py_None);
}

constexpr boundary::Method kSetState{
    .name = "__setstate__",
    .signature = {.function_name = "BootstrapAggregator.__setstate__", .parameters = {{"state"}}, .required = 1,
                  .method = true},
    .doc = "__setstate__($self, state)\n--\n\n"
           "Restores the seed and the scores of a pickled aggregator.",
    .body = setstate_body,
};
static_assert(boundary::doc_matches_signature(kSetState));

PyMethodDef aggregator_methods[] = {
    boundary::method_table_entry<kAddScores>(),
    boundary::method_table_entry<kAggregate>(),
    boundary::method_table_entry<kReduce>(),
    boundary::method_table_entry<kSetState>(),
    {nullptr, nullptr, 0, nullptr},
};

const PyType_Slot aggregator_own_slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, reinterpret_cast<void*>(aggregator_new)},
    {Py_tp_methods, aggregator_methods},
};
const auto aggregator_slots = boundary::native_object_slots<Aggregator>(aggregator_own_slots);

PyType_Spec aggregator_spec =
    boundary::native_object_spec<Aggregator>("tallygrams_scorer.BootstrapAggregator", aggregator_slots);

}  // namespace

Result<PyRef> create_aggregator_type(PyObject* module) { return boundary::new_module_class(module, aggregator_spec); }

}  // namespace tallygrams::companion
