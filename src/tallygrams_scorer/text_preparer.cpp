#include "tallygrams_scorer/text_preparer.hpp"

#include <string>

#include "boundary/arguments.hpp"
#include "boundary/new_object.hpp"

namespace tallygrams::companion {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

namespace {

std::string type_name(PyObject* object) {
    PyRef name(PyType_GetQualName(Py_TYPE(object)));
    if (!name) {
        PyErr_Clear();
        return "?";
    }
    return boundary::lossy_utf8(name.get());
}

// A snapshot that nothing can change: a tuple of the sequence's items.
Result<PyRef> frozen(PyObject* sequence, const char* what) {
    if (PyUnicode_Check(sequence) || PyBytes_Check(sequence)) {
        return PyErr::new_message(PyExc_TypeError, std::string(what) + " must return a list of str, not a '" +
                                                       type_name(sequence) + "'");
    }
    PyRef items(PySequence_Tuple(sequence));
    if (!items) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return PyErr::fetch();
        PyErr_Clear();
        return PyErr::new_message(PyExc_TypeError, std::string(what) + " must return a list of str, not a '" +
                                                       type_name(sequence) + "'");
    }
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(items.get()); ++k) {
        PyObject* item = PyTuple_GET_ITEM(items.get(), k);
        if (!PyUnicode_Check(item)) {
            return PyErr::new_message(PyExc_TypeError, std::string(what) + " must return a list of str; it returned one holding a '" +
                                                           type_name(item) + "'");
        }
    }
    return items;
}

}  // namespace

// rouge-score scores a str that holds lone surrogates: its tokenizer takes
// them for characters that are neither letters nor digits. Such a str has
// no UTF-8, so it is encoded with "surrogatepass", which gives each
// surrogate a three-byte sequence of its own (ED A0 80 to ED BF BF) that no
// valid text contains. Both tokenizers read those bytes as separators, and
// a caller's tokens stay equal and distinct as they were.
Result<std::string_view> TextPreparer::utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) return std::string_view(utf8, static_cast<size_t>(size));
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return PyErr::fetch();
    PyErr_Clear();
    PyRef encoded(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!encoded) return PyErr::fetch();
    const std::string_view bytes(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
    store_.kept.push_back(std::move(encoded));
    return bytes;
}

Result<PyRef> TextPreparer::call_tokenizer(PyObject* text) {
    PyRef tokens(PyObject_CallOneArg(tokenize_, text));
    if (!tokens) return PyErr::fetch();  // the tokenizer's own exception, unchanged
    return frozen(tokens.get(), "the tokenizer");
}

// rouge-score's sentences for rougeLsum: NLTK's, or the text's lines, and
// in either case without the empty ones.
Result<PyObject*> TextPreparer::sentences_of(PyObject* text) {
    PyRef split;
    if (rules_.split_sentences) {
        split = PyRef(PyObject_CallOneArg(sent_tokenize_, text));
    } else {
        PyRef newline = boundary::new_object_or_fail(PyUnicode_FromString("\n"));
        split = PyRef(PyUnicode_Split(text, newline.get(), -1));
    }
    if (!split) return PyErr::fetch();
    Result<PyRef> items = frozen(split.get(), "the sentence splitter");
    if (!items) return std::move(items).take_error();
    PyRef kept = boundary::new_object_or_fail(PyList_New(0));
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(items.value().get()); ++k) {
        PyObject* sentence = PyTuple_GET_ITEM(items.value().get(), k);
        if (PyUnicode_GET_LENGTH(sentence) > 0 && PyList_Append(kept.get(), sentence) < 0) return PyErr::fetch();
    }
    store_.kept.push_back(std::move(kept));
    return store_.kept.back().get();
}

boundary::Status TextPreparer::add_tokens(PyObject* tokens) {
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(tokens); ++k) {
        Result<std::string_view> token = utf8_of(PyTuple_GET_ITEM(tokens, k));
        if (!token) return std::move(token).take_error();
        store_.views.push_back(store_.token_bytes.copy(token.value()));
    }
    return boundary::Unit{};
}

Result<PreparedText> TextPreparer::prepare(PyObject* text, std::string_view argument, Py_ssize_t item) {
    const size_t views_before = store_.views.size();
    Result<PreparedText> prepared = prepare_text(text);
    if (prepared) {
        // The text, and its tokens or sentences.
        if (boundary::Status s = checkpoint_.advance(1 + store_.views.size() - views_before); !s) {
            return std::move(s).take_error();
        }
        return prepared;
    }
    return boundary::annotate_item_error(argument, item, std::move(prepared).take_error());
}

Result<PreparedText> TextPreparer::prepare_text(PyObject* text) {
    if (PyBytes_Check(text) || PyByteArray_Check(text)) {
        // rouge-score's tokenizer decodes bytes as UTF-8 but lower-cases
        // only their ASCII letters: say what to do rather than guess.
        return PyErr::new_message(PyExc_TypeError, std::string("texts must be str, not ") + Py_TYPE(text)->tp_name +
                                                       "; decode them first, for example text.decode(\"utf-8\")");
    }
    if (!PyUnicode_Check(text)) return boundary::type_mismatch(text, "str");
    Result<std::string_view> utf8 = utf8_of(text);
    if (!utf8) return std::move(utf8).take_error();
    PreparedText prepared;
    prepared.text = utf8.value();
    // A batch's texts come from the caller's sequences, which other threads
    // may change while the scoring runs without the lock.
    store_.kept.push_back(PyRef::borrow(text));

    const bool sentences = rules_.sentences;
    if (rules_.tokenizer == TokenizerKind::python) {
        prepared.python_tokens = true;
        if (rules_.whole) {
            Result<PyRef> tokens = call_tokenizer(text);
            if (!tokens) return std::move(tokens).take_error();
            prepared.first_token = store_.views.size();
            prepared.token_count = static_cast<size_t>(PyTuple_GET_SIZE(tokens.value().get()));
            if (boundary::Status s = add_tokens(tokens.value().get()); !s) return std::move(s).take_error();
        }
        if (sentences) {
            Result<PyObject*> split = sentences_of(text);
            if (!split) return std::move(split).take_error();
            prepared.first_sentence_token = store_.views.size();
            prepared.first_end = store_.ends.size();
            size_t total = 0;
            for (Py_ssize_t k = 0; k < PyList_GET_SIZE(split.value()); ++k) {
                Result<PyRef> tokens = call_tokenizer(PyList_GET_ITEM(split.value(), k));
                if (!tokens) return std::move(tokens).take_error();
                if (boundary::Status s = add_tokens(tokens.value().get()); !s) return std::move(s).take_error();
                total += static_cast<size_t>(PyTuple_GET_SIZE(tokens.value().get()));
                store_.ends.push_back(total);
            }
            prepared.end_count = store_.ends.size() - prepared.first_end;
        }
        return prepared;
    }
    if (sentences && rules_.split_sentences) {
        Result<PyObject*> split = sentences_of(text);
        if (!split) return std::move(split).take_error();
        prepared.split = true;
        prepared.first_sentence = store_.views.size();
        prepared.sentence_count = static_cast<size_t>(PyList_GET_SIZE(split.value()));
        for (Py_ssize_t k = 0; k < PyList_GET_SIZE(split.value()); ++k) {
            Result<std::string_view> sentence = utf8_of(PyList_GET_ITEM(split.value(), k));
            if (!sentence) return std::move(sentence).take_error();
            store_.views.push_back(sentence.value());
        }
    }
    return prepared;
}

}  // namespace tallygrams::companion
