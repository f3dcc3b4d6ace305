#include "tallygrams_scorer/bootstrap_function.hpp"

#include <array>
#include <span>
#include <string>
#include <vector>

#include "boundary/new_object.hpp"
#include "engine/statistics/bootstrap.hpp"
#include "tallygrams_scorer/named_columns.hpp"
#include "tallygrams_scorer/score_tuples.hpp"
#include "tallygrams_scorer/statistics_call.hpp"

namespace tallygrams::companion {
namespace {

using boundary::BoundArguments;
using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

struct Sampling {
    engine::BootstrapSettings settings;
    NamedColumns columns;
};

// The columns without their null rows (a pair whose text was null is left
// out of every column), and the settings from the arguments: n_samples and
// seed at positions 1 and 2, the confidence at 3 if `confidence` is set.
Result<Sampling> read_sampling(const BoundArguments& arguments, bool confidence) {
    Sampling sampling;
    Result<size_t> samples = arguments.get<boundary::Count>(1, sampling.settings.resamples);
    if (!samples) return std::move(samples).take_error();
    Result<uint64_t> seed = arguments.get<boundary::Seed>(2, sampling.settings.seed);
    if (!seed) return std::move(seed).take_error();
    sampling.settings.resamples = samples.value();
    sampling.settings.seed = seed.value();
    if (confidence) {
        Result<double> level = arguments.get<boundary::UnitInterval>(3, sampling.settings.confidence);
        if (!level) return std::move(level).take_error();
        sampling.settings.confidence = level.value();
    }
    Result<NamedColumns> columns = read_columns(arguments[0], "columns");
    if (!columns) return std::move(columns).take_error();
    sampling.columns = std::move(columns).take_value();
    std::vector<bool> dropped;
    sampling.columns.mark_null_rows(dropped);
    sampling.columns.drop_rows(dropped);
    return sampling;
}

// `compute(pool, columns, interruption)` as a run of the engine's statistics
// (statistics_call.hpp), on the columns' spans.
template <class Value, class Compute>
Result<Value> run_on_columns(const NamedColumns& columns, Compute&& compute) {
    const std::vector<std::span<const double>> spans = columns.spans();
    return run_statistics<Value>("bootstrap", [&](engine::WorkerPool& pool, engine::Interruption& interruption) {
        return compute(pool, engine::Columns(spans), interruption);
    });
}

Result<PyRef> bootstrap_body(PyObject* module, const BoundArguments& arguments) {
    const ModuleState& state = state_of_module(module);
    Result<Sampling> sampling = read_sampling(arguments, true);
    if (!sampling) return std::move(sampling).take_error();
    const engine::BootstrapSettings& settings = sampling.value().settings;
    Result<std::vector<engine::ColumnSummary>> summaries =
        run_on_columns<std::vector<engine::ColumnSummary>>(
            sampling.value().columns,
            [&](engine::WorkerPool& pool, engine::Columns spans, engine::Interruption& interruption) {
            return engine::bootstrap_intervals(pool, spans, settings, interruption.flag(), &interruption);
        });
    if (!summaries) return std::move(summaries).take_error();
    PyRef result = boundary::new_object_or_fail(PyDict_New());
    for (size_t k = 0; k < summaries.value().size(); ++k) {
        const engine::ColumnSummary& s = summaries.value()[k];
        std::array<PyRef, 4> values;
        const double numbers[4] = {s.mean, s.low, s.mid, s.high};
        for (size_t v = 0; v < 4; ++v) values[v] = boundary::new_object_or_fail(PyFloat_FromDouble(numbers[v]));
        const std::array<PyObject*, 4> items = {values[0].get(), values[1].get(), values[2].get(), values[3].get()};
        Result<PyRef> interval = new_named_tuple(state.interval_class, items);
        if (!interval) return interval;
        PyObject* name = PyList_GET_ITEM(sampling.value().columns.names.get(), static_cast<Py_ssize_t>(k));
        if (PyDict_SetItem(result.get(), name, interval.value().get()) < 0) return PyErr::fetch();
    }
    return result;
}

Result<PyRef> resample_means_body(PyObject*, const BoundArguments& arguments) {
    Result<Sampling> sampling = read_sampling(arguments, false);
    if (!sampling) return std::move(sampling).take_error();
    const engine::BootstrapSettings& settings = sampling.value().settings;
    Result<std::vector<double>> means =
        run_on_columns<std::vector<double>>(
            sampling.value().columns,
            [&](engine::WorkerPool& pool, engine::Columns spans, engine::Interruption& interruption) {
            return engine::resample_means(pool, spans, settings, interruption.flag(), &interruption);
        });
    if (!means) return std::move(means).take_error();
    const size_t resamples = settings.resamples;
    PyRef result = boundary::new_object_or_fail(PyDict_New());
    for (size_t k = 0; k * resamples < means.value().size(); ++k) {
        PyRef column = boundary::new_object_or_fail(PyList_New(static_cast<Py_ssize_t>(resamples)));
        for (size_t r = 0; r < resamples; ++r) {
            PyList_SET_ITEM(column.get(), static_cast<Py_ssize_t>(r),
                            boundary::new_object_or_fail(PyFloat_FromDouble(means.value()[k * resamples + r])).release());
        }
        PyObject* name = PyList_GET_ITEM(sampling.value().columns.names.get(), static_cast<Py_ssize_t>(k));
        if (PyDict_SetItem(result.get(), name, column.get()) < 0) return PyErr::fetch();
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

constexpr boundary::ModuleFunction kResampleMeansFunction{
    .signature = {.function_name = "resample_means",
                  .parameters = {{"columns"}, {"n_samples", &boundary::kCount}, {"seed", &boundary::kSeed}},
                  .required = 1,
                  .keyword_only_from = 2},
    .doc = "resample_means(columns, n_samples=1000, *, seed=0)\n--\n\n"
           "The resampled means that bootstrap() reads its intervals from, with the\n"
           "same arguments: for each column, the list of its n_samples resampled means,\n"
           "in resample order. For plotting or further statistics of the bootstrap\n"
           "distribution. Returns {name: list of float}.",
    .body = resample_means_body,
};
static_assert(boundary::doc_matches_signature(kResampleMeansFunction));

}  // namespace tallygrams::companion
