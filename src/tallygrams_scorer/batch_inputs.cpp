#include "tallygrams_scorer/batch_inputs.hpp"

#include <string>

#include "boundary/arguments.hpp"
#include "boundary/memory_request.hpp"

namespace tallygrams::companion {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;
using boundary::Status;

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

Status check_result_memory(const ScorerOptions& options, size_t pairs) {
    const size_t keys = static_cast<size_t>(PyTuple_GET_SIZE(options.keys.get()));
    const size_t per_pair = options.config.size() * (sizeof(scorer::Score) + 1) + 3 * keys * sizeof(double);
    const size_t bytes = engine::memory_product(pairs, per_pair);
    // Every batch call passes here: a small one is not to pay for the message.
    if (!engine::worth_checking(bytes)) return boundary::Unit{};
    return boundary::check_memory_request(bytes, "the scores of " + std::to_string(pairs) + " pairs");
}

Result<PairResults> score_batch_pairs(const ScorerOptions& options, const boundary::BoundArguments& arguments) {
    Result<PyRef> targets = arguments.get<boundary::Texts>(0);
    if (!targets) return std::move(targets).take_error();
    Result<PyRef> predictions = arguments.get<boundary::Texts>(1);
    if (!predictions) return std::move(predictions).take_error();
    const auto n = static_cast<size_t>(PyTuple_GET_SIZE(predictions.value().get()));
    if (static_cast<size_t>(PyTuple_GET_SIZE(targets.value().get())) != n) {
        return PyErr::new_message(PyExc_ValueError, "targets and predictions must have the same length");
    }
    if (Status s = check_result_memory(options, n); !s) return std::move(s).take_error();

    PairResults results(n, options.config.size());
    PyObject* const target_items = targets.value().get();
    PyObject* const prediction_items = predictions.value().get();
    Status scored = score_in_chunks(options, n, results, [&](size_t i, PreparedPairs& pairs, TextPreparer& preparer) -> Status {
        const auto item = static_cast<Py_ssize_t>(i);
        PyObject* target = PyTuple_GET_ITEM(target_items, item);
        if (PyUnicode_Check(target)) {
            Result<PreparedText> text = preparer.prepare(target, "targets", item);
            if (!text) return std::move(text).take_error();
            pairs.references.push_back(text.value());
        } else {
            Result<PyRef> list = reference_list(target, "targets", item);
            if (!list) return std::move(list).take_error();
            for (Py_ssize_t r = 0; r < PyTuple_GET_SIZE(list.value().get()); ++r) {
                Result<PreparedText> text = preparer.prepare(PyTuple_GET_ITEM(list.value().get(), r), "targets", item);
                if (!text) return std::move(text).take_error();
                pairs.references.push_back(text.value());
            }
        }
        Result<PreparedText> text = preparer.prepare(PyTuple_GET_ITEM(prediction_items, item), "predictions", item);
        if (!text) return std::move(text).take_error();
        pairs.predictions.push_back(text.value());
        return boundary::Unit{};
    });
    if (!scored) return std::move(scored).take_error();
    return results;
}

}  // namespace tallygrams::companion
