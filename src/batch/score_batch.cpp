#include "batch/score_batch.hpp"

#include <vector>

#include "batch/batch_call.hpp"
#include "boundary/call_boundary.hpp"
#include "boundary/new_object.hpp"
#include "module/score_function.hpp"

namespace tallygrams::batch {
namespace {

using boundary::PyRef;
using boundary::Result;

constexpr boundary::CallSignature kScoreBatchSignature{"score_batch", {"references", "predictions"}};

// One dict per record, in order; if any fails, every dict built so far is
// released with the vector.
boundary::Result<std::vector<boundary::PyRef>> build_dicts(const engine::RecordOutput& records) {
    std::vector<boundary::PyRef> dicts;
    dicts.reserve(records.length());
    for (size_t i = 0; i < records.length(); ++i) {
        boundary::Result<boundary::PyRef> dict = module::pair_scores_to_dict(records[i]);
        if (!dict) return std::move(dict).take_error();
        dicts.push_back(std::move(dict).take_value());
    }
    return dicts;
}

boundary::PyRef list_of(std::vector<boundary::PyRef> items) {
    const auto n = static_cast<Py_ssize_t>(items.size());
    boundary::PyRef list = boundary::new_object_or_fail(PyList_New(n));
    Py_ssize_t stored = 0;
    for (boundary::PyRef& item : items) {
        if (stored == n) break;
        PyList_SET_ITEM(list.get(), stored++, item.release());  // the list takes the reference
    }
    ensure(stored == n,
           "Attempted to create PyList but `elements` was smaller than reported by its `size_hint` implementation.");
    return list;
}

boundary::Result<boundary::PyRef> score_batch_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    boundary::Result<BatchInputs> inputs = bind_and_extract(kScoreBatchSignature, args, nargs, kwnames);
    if (!inputs) return std::move(inputs).take_error();

    boundary::Result<std::vector<boundary::PyRef>> dicts = [&] {
        const engine::RecordOutput records = score_detached<engine::RecordOutput>(std::move(inputs).take_value());
        return build_dicts(records);
    }();  // the records are freed here, before the list is built
    if (!dicts) return std::move(dicts).take_error();
    return list_of(std::move(dicts).take_value());
}

}  // namespace

PyObject* score_batch_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary::boundary_object([&] { return score_batch_body(args, nargs, kwnames); });
}

}  // namespace tallygrams::batch
