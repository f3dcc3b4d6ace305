#include "tallygrams/score_batch.hpp"

#include "boundary/new_object.hpp"
#include "tallygrams/batch_call.hpp"
#include "tallygrams/score_type.hpp"

namespace tallygrams::batch {
namespace {

using boundary::PyRef;
using boundary::Result;

// One dict per record, in order, straight into the list; if any fails, the
// list and every dict in it are released together.
Result<PyRef> list_of_dicts(const batch::RecordOutput& records) {
    PyObject* score_type = module::score_type_or_fail();
    const auto n = static_cast<Py_ssize_t>(records.length());
    PyRef list = boundary::new_object_or_fail(PyList_New(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Result<PyRef> dict = module::pair_scores_to_dict(score_type, records[static_cast<size_t>(i)]);
        if (!dict) return std::move(dict).take_error();  // the list's unset items are null, which it skips when freed
        PyList_SET_ITEM(list.get(), i, std::move(dict).take_value().release());  // the list takes the reference
    }
    return list;
}

Result<PyRef> score_batch_body(PyObject* /*module*/, const boundary::BoundArguments& arguments) {
    Result<BatchInputs> inputs = extract_inputs(arguments);
    if (!inputs) return std::move(inputs).take_error();
    const batch::RecordOutput records = score_detached<batch::RecordOutput>(std::move(inputs).take_value());
    return list_of_dicts(records);
}

}  // namespace

constexpr boundary::ModuleFunction kScoreBatchFunction{
    .signature = {.function_name = "score_batch",
                  .parameters = {{"references", &kCopiedTexts}, {"predictions", &kCopiedTexts}},
                  .required = 2},
    .doc = "score_batch(references, predictions)\n--\n\n"
           "Score equally sized reference and prediction sequences in parallel.\n\n"
           "Returns a list of score dicts in input order. Raises ValueError when lengths\n"
           "differ and TypeError for non-string elements. The native computation releases the GIL.",
    .body = score_batch_body,
};
static_assert(boundary::doc_matches_signature(kScoreBatchFunction));

}  // namespace tallygrams::batch
