// The Python half of getting a text ready to score, run with the interpreter
// lock held before the native half runs without it: the text's UTF-8, the
// caller's tokenizer, and NLTK's sentence splitter. Every Python object a
// prepared text points into is kept alive in the store.
#pragma once

#include <string_view>
#include <vector>

#include "boundary/py_err.hpp"
#include "boundary/signal_checkpoint.hpp"
#include "tallygrams_scorer/prepared_text.hpp"
#include "tallygrams_scorer/scorer_options.hpp"

namespace tallygrams::companion {

class TextPreparer {
public:
    // `tokenize` is the caller's tokenizer (TokenizerKind::python), and
    // `sent_tokenize` NLTK's splitter (split_sentences); both borrowed.
    TextPreparer(const TextRules& rules, PyObject* tokenize, PyObject* sent_tokenize, PreparedStore& store)
        : rules_(rules), tokenize_(tokenize), sent_tokenize_(sent_tokenize), store_(store) {}

    // `text` must be a str; a failure carries the note naming `argument`,
    // and the item's position when `item` is not negative.
    // Calls the caller's tokenizer (and NLTK) as rouge-score does: on the
    // whole text, and on each of its sentences when rougeLsum is asked for.
    // Every few thousand texts or tokens, Ctrl-C is looked for: a tokenizer
    // written in C (str.split) runs no bytecode, where the interpreter would.
    boundary::Result<PreparedText> prepare(PyObject* text, std::string_view argument, Py_ssize_t item = -1);

private:
    boundary::Result<PreparedText> prepare_text(PyObject* text);
    boundary::Result<boundary::PyRef> call_tokenizer(PyObject* text);
    boundary::Result<PyObject*> sentences_of(PyObject* text);
    boundary::Status add_tokens(PyObject* tokens);
    boundary::Result<std::string_view> utf8_of(PyObject* text);

    TextRules rules_;
    PyObject* tokenize_;
    PyObject* sent_tokenize_;
    PreparedStore& store_;
    boundary::SignalCheckpoint checkpoint_;
};

}  // namespace tallygrams::companion
