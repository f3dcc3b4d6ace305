// The pairs of a batch call, taken from two Python sequences: targets (each a
// text, or a sequence of reference texts) and predictions.
#pragma once

#include <cstddef>
#include <string_view>

#include "boundary/arguments.hpp"
#include "boundary/py_err.hpp"
#include "tallygrams_scorer/pair_scoring.hpp"
#include "tallygrams_scorer/scorer_object.hpp"
#include "tallygrams_scorer/scorer_options.hpp"
#include "tallygrams_scorer/text_preparer.hpp"

namespace tallygrams::companion {

// rouge-score's list of references, as a tuple: any sequence of str that is
// not a str itself, and not empty; for score_multi (`item` negative), any
// iterable of them. A failure carries the note naming `argument` (and
// `item`, when not negative).
boundary::Result<boundary::PyRef> reference_list(PyObject* targets, std::string_view argument, Py_ssize_t item = -1);

// The memory the results of `pairs` pairs take (PairResults, and the score
// columns they may become), refused as a MemoryError if the process cannot
// get it; before any text is read.
boundary::Status check_result_memory(const ScorerOptions& options, size_t pairs);

// Pairs 0 to n - 1 scored into `results`, a chunk at a time:
// prepare_pair(i, pairs, preparer) adds pair i's references and prediction
// to `pairs` (the caller's tokenizer and NLTK run there, on the calling
// thread), then the chunk is scored on the pool. A chunk ends after 16,384
// pairs or 4 million tokens of a caller's tokenizer, so that what is held of
// prepared texts stays bounded however long the batch, and is soon released
// when Ctrl-C stops it.
template <class PreparePair>
boundary::Status score_in_chunks(const ScorerOptions& options, size_t n, PairResults& results,
                                 PreparePair&& prepare_pair) {
    constexpr size_t kPairsPerChunk = size_t{1} << 14;
    constexpr size_t kViewsPerChunk = size_t{1} << 22;
    for (size_t first = 0; first < n;) {
        PreparedPairs pairs;
        TextPreparer preparer = preparer_for(options, pairs.store);
        pairs.first_reference.push_back(0);
        size_t end = first;
        while (end < n && end - first < kPairsPerChunk && pairs.store.views.size() < kViewsPerChunk) {
            if (boundary::Status s = prepare_pair(end, pairs, preparer); !s) return s;
            pairs.first_reference.push_back(pairs.references.size());
            ++end;
        }
        if (boundary::Status s = score_prepared(options, pairs, results, first); !s) return s;
        first = end;
    }
    return boundary::Unit{};
}

// Every pair scored, from snapshots of both sequences: the arguments of a
// method whose parameters are (targets, predictions), sequences of texts. A
// target may also be a list of references.
boundary::Result<PairResults> score_batch_pairs(const ScorerOptions& options, const boundary::BoundArguments& arguments);

}  // namespace tallygrams::companion
