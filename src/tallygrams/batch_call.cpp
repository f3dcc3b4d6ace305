#include "tallygrams/batch_call.hpp"

#include "common/stable_texts.hpp"
#include "tallygrams/extraction.hpp"

namespace tallygrams::batch {

boundary::Result<BatchInputs> extract_inputs(const boundary::BoundArguments& arguments) {
    boundary::Result<batch::OwnedStrings> references = arguments.get<CopiedTexts>(0);
    if (!references) return std::move(references).take_error();
    boundary::Result<batch::OwnedStrings> predictions = arguments.get<CopiedTexts>(1);
    if (!predictions) return std::move(predictions).take_error();

    if (references.value().size() != predictions.value().size()) {
        return boundary::PyErr::new_message(PyExc_ValueError, stable::kBatchLengthsDiffer);
    }
    return BatchInputs{std::move(references).take_value(), std::move(predictions).take_value()};
}

}  // namespace tallygrams::batch
