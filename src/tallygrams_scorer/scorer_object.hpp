// What a RougeScorer instance holds, for the files that implement its
// methods: its options, how far it is made, and whether the garbage
// collector has cleared it.
#pragma once

#include <atomic>

#include "boundary/native_object.hpp"
#include "boundary/py_err.hpp"
#include "tallygrams_scorer/scorer_options.hpp"
#include "tallygrams_scorer/text_preparer.hpp"

namespace tallygrams::companion {

// A scorer is allocated first and configured by __init__, once: a subclass
// (as rouge-score's class allows) passes its own arguments to __new__ and
// calls RougeScorer.__init__ itself. The options never change after that,
// so the methods read them without a lock; `stage` publishes them (written
// with release order once the options are in place, read with acquire).
enum class ScorerStage { made, configuring, configured };

struct Scorer {
    ScorerOptions options;
    std::atomic<ScorerStage> stage{ScorerStage::made};
    bool cleared = false;

    int visit(visitproc visit, void* arg) {
        for (const boundary::PyRef* held : {&options.use_stemmer, &options.split_summaries,
                                            &options.tokenizer_argument, &options.tokenize, &options.sent_tokenize}) {
            Py_VISIT(held->get());
        }
        return 0;
    }
    // What the caller gave may lead back to the scorer (a tokenizer that
    // holds it, say). After a clear the scorer refuses to score, which only
    // code run by the collector while it frees a cycle could ever see.
    void clear() {
        for (boundary::PyRef* held : {&options.use_stemmer, &options.split_summaries, &options.tokenizer_argument}) {
            *held = boundary::PyRef::borrow(Py_None);
        }
        options.tokenize = boundary::PyRef();
        options.sent_tokenize = boundary::PyRef();
        cleared = true;
    }
};

// The options of a RougeScorer that can still score.
inline boundary::Result<const ScorerOptions*> usable_options(PyObject* self) {
    const Scorer& scorer = boundary::payload_of<Scorer>(self);
    if (scorer.stage.load(std::memory_order_acquire) != ScorerStage::configured) {
        return boundary::PyErr::new_message(PyExc_RuntimeError,
                                            "this RougeScorer was never initialised: a subclass's __init__ must "
                                            "call RougeScorer.__init__(self, rouge_types, ...)");
    }
    if (scorer.cleared) {
        return boundary::PyErr::new_message(PyExc_RuntimeError,
                                            "this RougeScorer has been cleared by the garbage collector");
    }
    return &scorer.options;
}

inline TextPreparer preparer_for(const ScorerOptions& options, PreparedStore& store) {
    return TextPreparer(options.rules(), options.tokenize.get(), options.sent_tokenize.get(), store);
}

}  // namespace tallygrams::companion
