// The pairs of a batch call, taken from two Python sequences: targets (each a
// text, or a sequence of reference texts) and predictions.
#pragma once

#include <string_view>

#include "boundary/arguments.hpp"
#include "boundary/py_err.hpp"
#include "tallygrams_scorer/pair_scoring.hpp"
#include "tallygrams_scorer/scorer_options.hpp"

namespace tallygrams::companion {

// rouge-score's list of references, as a tuple: any sequence of str that is
// not a str itself, and not empty; for score_multi (`item` negative), any
// iterable of them. A failure carries the note naming `argument` (and
// `item`, when not negative).
boundary::Result<boundary::PyRef> reference_list(PyObject* targets, std::string_view argument, Py_ssize_t item = -1);

// Every pair prepared (the caller's tokenizer and NLTK run here, on the
// calling thread), from snapshots of both sequences: the arguments of a
// method whose parameters are (targets, predictions), sequences of texts. A
// target may also be a list of references.
boundary::Result<PreparedPairs> prepare_batch(const ScorerOptions& options, const boundary::BoundArguments& arguments);

}  // namespace tallygrams::companion
