#include "tallygrams/score_batch_flat.hpp"

#include "tallygrams/batch_call.hpp"
#include "tallygrams/batch_score_result.hpp"

namespace tallygrams::batch {
namespace {

boundary::Result<boundary::PyRef> score_batch_flat_body(PyObject* /*module*/, const boundary::BoundArguments& arguments) {
    boundary::Result<BatchInputs> inputs = extract_inputs(arguments);
    if (!inputs) return std::move(inputs).take_error();
    engine::ColumnOutput columns = score_detached<engine::ColumnOutput>(std::move(inputs).take_value());
    return new_batch_score_result(columns);
}

}  // namespace

constexpr boundary::ModuleFunction kScoreBatchFlatFunction{
    .signature = {.function_name = "score_batch_flat",
                  .parameters = {{"references", &kCopiedTexts}, {"predictions", &kCopiedTexts}},
                  .required = 2},
    .doc = "score_batch_flat(references, predictions)\n--\n\n"
           "Score equally sized sequences and return nine metric columns in input order.\n\n"
           "Each attribute access copies a column to a Python list; retain the list for\n"
           "repeated access. Raises ValueError for unequal lengths. Releases the GIL.",
    .body = score_batch_flat_body,
};
static_assert(boundary::doc_matches_signature(kScoreBatchFlatFunction));

}  // namespace tallygrams::batch
