#include "batch/batch_call.hpp"

#include "batch/extraction.hpp"

namespace tallygrams::batch {

module::Result<BatchInputs> bind_and_extract(const module::CallSignature& signature, PyObject* const* args,
                                             Py_ssize_t nargs, PyObject* kwnames) {
    module::Result<module::BoundArguments> bound = module::bind_arguments(signature, args, nargs, kwnames);
    if (!bound) return std::move(bound).take_error();

    module::Result<OwnedStrings> references = extract_string_sequence(bound.value().values[0], "references");
    if (!references) return std::move(references).take_error();
    module::Result<OwnedStrings> predictions = extract_string_sequence(bound.value().values[1], "predictions");
    if (!predictions) return std::move(predictions).take_error();

    if (references.value().size() != predictions.value().size()) {
        return module::PyErr::new_message(PyExc_ValueError, "references and predictions must have the same length");
    }
    return BatchInputs{std::move(references).take_value(), std::move(predictions).take_value()};
}

}  // namespace tallygrams::batch
