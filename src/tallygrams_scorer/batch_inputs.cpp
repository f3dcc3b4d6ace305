#include "tallygrams_scorer/batch_inputs.hpp"

#include <string>

#include "boundary/arguments.hpp"
#include "tallygrams_scorer/scorer_object.hpp"
#include "tallygrams_scorer/text_preparer.hpp"

namespace tallygrams::companion {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

Result<PyRef> reference_list(PyObject* targets, std::string_view argument, Py_ssize_t item) {
    const auto noted = [&](PyErr error) { return boundary::annotate_item_error(argument, item, std::move(error)); };
    if (PyUnicode_Check(targets)) {
        return noted(PyErr::new_message(PyExc_TypeError, "expected a list of reference texts, not a single str"));
    }
    // score_multi takes any iterable of texts, as rouge-score's loop over
    // `targets` does (a generator included); within a batch, a target that
    // is not a str must be a sequence of them.
    const bool iterable = PySequence_Check(targets) || (item < 0 && Py_TYPE(targets)->tp_iter != nullptr);
    if (!iterable || PyBytes_Check(targets) || PyByteArray_Check(targets)) {
        return noted(boundary::type_mismatch(targets, item >= 0 ? "str" : "Sequence"));
    }
    PyRef items(PySequence_Tuple(targets));
    if (!items) return noted(PyErr::fetch());
    if (PyTuple_GET_SIZE(items.get()) == 0) {
        return noted(PyErr::new_message(PyExc_ValueError,
                                        "no references: a prediction needs at least one to be scored against"));
    }
    return items;
}

Result<PreparedPairs> prepare_batch(const ScorerOptions& options, const boundary::BoundArguments& arguments) {
    Result<PyRef> targets = arguments.get<boundary::Texts>(0);
    if (!targets) return std::move(targets).take_error();
    Result<PyRef> predictions = arguments.get<boundary::Texts>(1);
    if (!predictions) return std::move(predictions).take_error();
    const Py_ssize_t n = PyTuple_GET_SIZE(predictions.value().get());
    if (PyTuple_GET_SIZE(targets.value().get()) != n) {
        return PyErr::new_message(PyExc_ValueError, "targets and predictions must have the same length");
    }

    PreparedPairs pairs;
    TextPreparer preparer = preparer_for(options, pairs.store);
    pairs.first_reference.push_back(0);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* target = PyTuple_GET_ITEM(targets.value().get(), i);
        if (PyUnicode_Check(target)) {
            Result<PreparedText> text = preparer.prepare(target, "targets", i);
            if (!text) return std::move(text).take_error();
            pairs.references.push_back(text.value());
        } else {
            Result<PyRef> list = reference_list(target, "targets", i);
            if (!list) return std::move(list).take_error();
            for (Py_ssize_t r = 0; r < PyTuple_GET_SIZE(list.value().get()); ++r) {
                Result<PreparedText> text = preparer.prepare(PyTuple_GET_ITEM(list.value().get(), r), "targets", i);
                if (!text) return std::move(text).take_error();
                pairs.references.push_back(text.value());
            }
        }
        pairs.first_reference.push_back(pairs.references.size());
        Result<PreparedText> text = preparer.prepare(PyTuple_GET_ITEM(predictions.value().get(), i), "predictions", i);
        if (!text) return std::move(text).take_error();
        pairs.predictions.push_back(text.value());
    }
    return pairs;
}

}  // namespace tallygrams::companion
