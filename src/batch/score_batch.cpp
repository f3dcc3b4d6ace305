#include "batch/score_batch.hpp"

#include <vector>

#include "batch/batch_call.hpp"
#include "boundary/new_object.hpp"
#include "module/score_type.hpp"

namespace tallygrams::batch {
namespace {

using boundary::PyRef;
using boundary::Result;

// One dict per record, in order; if any fails, every dict built so far is
// released with the vector.
Result<std::vector<PyRef>> build_dicts(const engine::RecordOutput& records) {
    PyObject* score_type = module::score_type_or_fail();
    std::vector<PyRef> dicts;
    dicts.reserve(records.length());
    for (size_t i = 0; i < records.length(); ++i) {
        Result<PyRef> dict = module::pair_scores_to_dict(score_type, records[i]);
        if (!dict) return std::move(dict).take_error();
        dicts.push_back(std::move(dict).take_value());
    }
    return dicts;
}

PyRef list_of(std::vector<PyRef> items) {
    const auto n = static_cast<Py_ssize_t>(items.size());
    PyRef list = boundary::new_object_or_fail(PyList_New(n));
    Py_ssize_t stored = 0;
    for (PyRef& item : items) {
        if (stored == n) break;
        PyList_SET_ITEM(list.get(), stored++, item.release());  // the list takes the reference
    }
    ensure(stored == n,
           "Attempted to create PyList but `elements` was smaller than reported by its `size_hint` implementation.");
    return list;
}

Result<PyRef> score_batch_body(PyObject* /*module*/, const boundary::BoundArguments& arguments) {
    Result<BatchInputs> inputs = extract_inputs(arguments);
    if (!inputs) return std::move(inputs).take_error();

    Result<std::vector<PyRef>> dicts = [&] {
        const engine::RecordOutput records = score_detached<engine::RecordOutput>(std::move(inputs).take_value());
        return build_dicts(records);
    }();  // the records are freed here, before the list is built
    if (!dicts) return std::move(dicts).take_error();
    return list_of(std::move(dicts).take_value());
}

}  // namespace

constexpr boundary::ModuleFunction kScoreBatchFunction{
    .signature = {.function_name = "score_batch", .names = {"references", "predictions"}, .required = 2},
    .doc = "score_batch(references, predictions)\n--\n\n"
           "Score equally sized reference and prediction sequences in parallel.\n\n"
           "Returns a list of score dicts in input order. Raises ValueError when lengths\n"
           "differ and TypeError for non-string elements. The native computation releases the GIL.",
    .body = score_batch_body,
};
static_assert(boundary::doc_matches_signature(kScoreBatchFunction));

}  // namespace tallygrams::batch
