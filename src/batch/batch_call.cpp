#include "batch/batch_call.hpp"

#include "batch/extraction.hpp"

namespace tallygrams::batch {

boundary::Result<BatchInputs> bind_and_extract(const boundary::CallSignature& signature, PyObject* const* args,
                                             Py_ssize_t nargs, PyObject* kwnames) {
    boundary::Result<boundary::BoundArguments> bound = boundary::bind_arguments(signature, args, nargs, kwnames);
    if (!bound) return std::move(bound).take_error();

    boundary::Result<engine::OwnedStrings> references = extract_string_sequence(bound.value().values[0], "references");
    if (!references) return std::move(references).take_error();
    boundary::Result<engine::OwnedStrings> predictions = extract_string_sequence(bound.value().values[1], "predictions");
    if (!predictions) return std::move(predictions).take_error();

    if (references.value().size() != predictions.value().size()) {
        return boundary::PyErr::new_message(PyExc_ValueError, "references and predictions must have the same length");
    }
    return BatchInputs{std::move(references).take_value(), std::move(predictions).take_value()};
}

}  // namespace tallygrams::batch
