#include "tallygrams_scorer/compare_function.hpp"

#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "boundary/new_object.hpp"
#include "boundary/parameter_types.hpp"
#include "engine/statistics/paired_tests.hpp"
#include "tallygrams_scorer/named_columns.hpp"
#include "tallygrams_scorer/score_tuples.hpp"
#include "tallygrams_scorer/statistics_call.hpp"

namespace tallygrams::companion {
namespace {

using boundary::BoundArguments;
using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

// The defaults the two tests are known by: 1,000 bootstrap resamples and
// 10,000 randomization rounds.
constexpr size_t kDefaultResamples = 1000;
constexpr size_t kDefaultRounds = 10000;

// n_samples: None for the test's own default, else a count.
constexpr boundary::ParameterType kCountOrNone{"count or None"};

struct CountOrNone {
    static constexpr const boundary::ParameterType* type = &kCountOrNone;
    using Value = std::optional<size_t>;
    static Result<Value> convert(PyObject* object, std::string_view name) {
        if (object == Py_None) return Value{};
        Result<size_t> count = boundary::Count::convert(object, name);
        if (!count) return std::move(count).take_error();
        return Value{count.value()};
    }
};

Result<engine::PairedTestSettings> read_settings(const BoundArguments& arguments) {
    engine::PairedTestSettings settings;
    Result<std::string_view> test = arguments.get<boundary::Text>(2, "bootstrap");
    if (!test) return std::move(test).take_error();
    if (test.value() == "randomization") {
        settings.test = engine::PairedTest::randomization;
    } else if (test.value() != "bootstrap") {
        return PyErr::new_message(PyExc_ValueError, "test must be 'bootstrap' or 'randomization', not '" +
                                                        std::string(test.value()) + "'");
    }
    Result<std::optional<size_t>> samples = arguments.get<CountOrNone>(3, std::nullopt);
    if (!samples) return std::move(samples).take_error();
    const size_t default_samples = settings.test == engine::PairedTest::bootstrap ? kDefaultResamples : kDefaultRounds;
    settings.samples = samples.value().value_or(default_samples);
    settings.interval_resamples = kDefaultResamples;
    Result<double> confidence = arguments.get<boundary::UnitInterval>(4, settings.confidence);
    if (!confidence) return std::move(confidence).take_error();
    settings.confidence = confidence.value();
    Result<uint64_t> seed = arguments.get<boundary::Seed>(5, settings.seed);
    if (!seed) return std::move(seed).take_error();
    settings.seed = seed.value();
    return settings;
}

std::string column_name(const NamedColumns& columns, size_t k) {
    return boundary::lossy_utf8(PyList_GET_ITEM(columns.names.get(), static_cast<Py_ssize_t>(k)));
}

// The system's columns in the order of the baseline's, matched by name.
Result<std::vector<std::span<const double>>> matched_columns(const NamedColumns& baseline,
                                                             const NamedColumns& system) {
    const Py_ssize_t count = PyList_GET_SIZE(baseline.names.get());
    std::vector<std::span<const double>> spans;
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* name = PyList_GET_ITEM(baseline.names.get(), k);
        std::optional<size_t> found;
        for (Py_ssize_t j = 0; j < PyList_GET_SIZE(system.names.get()) && !found; ++j) {
            const int equal = PyObject_RichCompareBool(name, PyList_GET_ITEM(system.names.get(), j), Py_EQ);
            if (equal < 0) return PyErr::fetch();
            if (equal == 1) found = static_cast<size_t>(j);
        }
        if (!found) {
            return PyErr::new_message(PyExc_ValueError, "the baseline and the system have different columns: the "
                                                        "system has no column '" +
                                                            column_name(baseline, static_cast<size_t>(k)) + "'");
        }
        spans.push_back(system.values[*found]->values());
    }
    if (PyList_GET_SIZE(system.names.get()) != count) {
        return PyErr::new_message(PyExc_ValueError, "the baseline and the system have different columns: the "
                                                    "system has more");
    }
    return spans;
}

std::string shown_value(double value) {
    if (std::isnan(value)) return "nan";
    return value > 0 ? "inf" : "-inf";
}

// The input row of row `row` of columns without the rows marked in `dropped`.
size_t input_row(const std::vector<bool>& dropped, size_t row) {
    size_t input = 0;
    for (size_t kept = 0;; ++input) {
        if (input < dropped.size() && dropped[input]) continue;
        if (kept++ == row) return input;
    }
}

Result<PyRef> comparisons_dict(const ModuleState& state, const NamedColumns& names,
                               const std::vector<engine::ColumnComparison>& found) {
    PyRef result = boundary::new_object_or_fail(PyDict_New());
    for (size_t k = 0; k < found.size(); ++k) {
        const engine::ColumnComparison& c = found[k];
        const double numbers[6] = {c.baseline, c.system, c.difference, c.low, c.high, c.p_value};
        std::array<PyRef, 6> values;
        std::array<PyObject*, 6> items;
        for (size_t v = 0; v < 6; ++v) {
            values[v] = boundary::new_object_or_fail(PyFloat_FromDouble(numbers[v]));
            items[v] = values[v].get();
        }
        Result<PyRef> comparison = new_named_tuple(state.comparison_class, items);
        if (!comparison) return comparison;
        PyObject* name = PyList_GET_ITEM(names.names.get(), static_cast<Py_ssize_t>(k));
        if (PyDict_SetItem(result.get(), name, comparison.value().get()) < 0) return PyErr::fetch();
    }
    return result;
}

Result<PyRef> compare_body(PyObject* module, const BoundArguments& arguments) {
    const ModuleState& state = state_of_module(module);
    Result<engine::PairedTestSettings> settings = read_settings(arguments);
    if (!settings) return std::move(settings).take_error();
    Result<NamedColumns> baseline = read_columns(arguments[0], "baseline");
    if (!baseline) return std::move(baseline).take_error();
    Result<NamedColumns> system = read_columns(arguments[1], "system");
    if (!system) return std::move(system).take_error();
    if (baseline.value().rows() != system.value().rows()) {
        return PyErr::new_message(PyExc_ValueError,
                                  "the baseline has " + std::to_string(baseline.value().rows()) +
                                      " rows but the system " + std::to_string(system.value().rows()) +
                                      "; row i of both must score the same input");
    }
    // A pair whose text was null on either side is left out of both, so
    // that the rows stay paired.
    std::vector<bool> dropped;
    baseline.value().mark_null_rows(dropped);
    system.value().mark_null_rows(dropped);
    baseline.value().drop_rows(dropped);
    system.value().drop_rows(dropped);
    Result<std::vector<std::span<const double>>> system_spans = matched_columns(baseline.value(), system.value());
    if (!system_spans) return std::move(system_spans).take_error();
    const std::vector<std::span<const double>> baseline_spans = baseline.value().spans();
    if (!baseline_spans.empty() && baseline.value().rows() == 0) {
        return PyErr::new_message(PyExc_ValueError, "the columns have no rows to compare");
    }

    Result<std::vector<engine::ColumnComparison>> outcome = run_statistics<std::vector<engine::ColumnComparison>>(
        "paired test", [&](engine::WorkerPool& pool, engine::Interruption& interruption) {
            try {
                return engine::compare_columns(pool, baseline_spans, system_spans.value(), settings.value(),
                                               interruption.flag(), &interruption);
            } catch (const engine::NonFiniteValue& error) {
                const NamedColumns& side = error.in_system ? system.value() : baseline.value();
                throw std::invalid_argument("row " + std::to_string(input_row(dropped, error.row)) + " of the " +
                                            (error.in_system ? "system" : "baseline") + "'s column '" +
                                            column_name(side, error.column) + "' is " + shown_value(error.value) +
                                            "; every row needs a finite score on both sides");
            }
        });
    if (!outcome) return std::move(outcome).take_error();
    return comparisons_dict(state, baseline.value(), outcome.value());
}

}  // namespace

boundary::Status create_comparison_class(ModuleState& state) {
    Result<PyRef> cls = make_named_tuple_class(
        "Comparison", {"baseline", "system", "difference", "low", "high", "p_value"},
        "Comparison(baseline, system, difference, low, high, p_value)\n\n"
        "A column's mean for the baseline and for the system, their difference\n"
        "(system - baseline) with its paired-bootstrap interval, and the two-sided\n"
        "p-value of the paired test.");
    if (!cls) return std::move(cls).take_error();
    state.comparison_class = std::move(cls).take_value().release();
    return boundary::Unit{};
}

constexpr boundary::ModuleFunction kCompareFunction{
    .signature = {.function_name = "compare",
                  .parameters = {{"baseline"},
                                 {"system"},
                                 {"test", &boundary::kText},
                                 {"n_samples", &kCountOrNone},
                                 {"confidence_interval", &boundary::kUnitInterval},
                                 {"seed", &boundary::kSeed}},
                  .required = 2,
                  .keyword_only_from = 2},
    .doc = "compare(baseline, system, *, test='bootstrap', n_samples=None, confidence_interval=0.95, seed=0)\n--\n\n"
           "Is the system's mean score different from the baseline's on the same\n"
           "inputs? A paired significance test per column, computed natively on all\n"
           "cores. baseline, system: ScoreColumns, or mappings from a column name to a\n"
           "column of floats, with the same columns and rows; row i of both must score\n"
           "the same input. A row null (None) on either side is left out of both; a NaN\n"
           "is a ValueError.\n\n"
           "test='bootstrap': paired bootstrap resampling (Koehn 2004), n_samples\n"
           "resamples (default 1000) of the rows with replacement, one draw for both\n"
           "systems; p = (1 + #{|d* - mean(d*)| >= |d|}) / (n_samples + 1).\n"
           "test='randomization': paired approximate randomization (Noreen 1989),\n"
           "n_samples rounds (default 10000) that swap each row's two scores with\n"
           "probability 1/2; p = (1 + #{|d_r| >= |d|}) / (n_samples + 1).\n"
           "Either way the interval of the difference is the percentile interval of\n"
           "the paired bootstrap with the same seed (1000 resamples for\n"
           "randomization). The same seed gives the same result on any number of\n"
           "cores. Returns {name: Comparison}.",
    .body = compare_body,
    .receives_module = true,
};
static_assert(boundary::doc_matches_signature(kCompareFunction));

}  // namespace tallygrams::companion
