#include "tallygrams_scorer/scorer_options.hpp"

#include <string>
#include <string_view>

#include "boundary/new_object.hpp"
#include "common/stable_texts.hpp"

namespace tallygrams::companion {
namespace {

using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

constexpr const char* kTokenizerChoices =
    "tokenizer must be None (the default tokenizer), \"unicode\" (letters, marks and numbers of every "
    "script), an object with a tokenize(text) method, or a callable from text to a list of str";

// The metric names: a list (or other iterable) of str, not a lone str. Each
// is checked as rouge-score checks it when scoring, with its messages, but
// here, once.
boundary::Status parse_rouge_types(PyObject* given, ScorerOptions& options) {
    if (PyUnicode_Check(given)) {
        return PyErr::new_message(PyExc_TypeError,
                                  "rouge_types must be a list of rouge type names such as [\"rouge1\", \"rougeL\"], "
                                  "not a single str");
    }
    PyRef names(PySequence_List(given));
    if (!names) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return PyErr::fetch();
        PyErr_Clear();
        return boundary::annotate_argument_error("rouge_types", boundary::type_mismatch(given, "list"));
    }
    const Py_ssize_t count = PyList_GET_SIZE(names.get());
    if (count == 0) {
        return PyErr::new_message(PyExc_ValueError,
                                  "rouge_types is empty: name at least one of rouge1 to rouge9, rougeL and rougeLsum");
    }
    PyRef keys = boundary::new_object_or_fail(PyList_New(0));
    PyRef seen = boundary::new_object_or_fail(PyDict_New());
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* name = PyList_GET_ITEM(names.get(), k);
        if (!PyUnicode_Check(name)) {
            return boundary::annotate_argument_error("rouge_types", boundary::type_mismatch(name, "str"));
        }
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
        if (utf8 == nullptr) {
            PyErr_Clear();  // a lone surrogate names no metric
            return PyErr::new_message(PyExc_ValueError, std::string(stable::kInvalidRougeType) + boundary::lossy_utf8(name));
        }
        const std::string_view text(utf8, static_cast<size_t>(size));
        const scorer::ParsedRougeType parsed = scorer::parse_rouge_type(text);
        if (parsed.error == scorer::RougeTypeError::non_positive_n) {
            return PyErr::new_message(PyExc_ValueError, std::string(stable::kNonPositiveN) + std::string(text));
        }
        if (parsed.error != scorer::RougeTypeError::none) {
            return PyErr::new_message(PyExc_ValueError, std::string(stable::kInvalidRougeType) + std::string(text));
        }
        const int repeated = PyDict_Contains(seen.get(), name);
        if (repeated < 0) return PyErr::fetch();
        if (repeated == 1) continue;  // a dict filled in list order keeps the first place
        if (PyDict_SetItem(seen.get(), name, Py_None) < 0) return PyErr::fetch();
        const auto key = static_cast<size_t>(PyList_GET_SIZE(keys.get()));
        if (key == options.metric_of_key.size()) {
            return PyErr::new_message(PyExc_ValueError, "rouge_types names more than 64 distinct rouge types");
        }
        options.metric_of_key[key] = options.config.add(parsed.type);
        if (PyList_Append(keys.get(), name) < 0) return PyErr::fetch();
    }
    options.keys = boundary::new_object_or_fail(PyList_AsTuple(keys.get()));
    options.rouge_types = std::move(names);
    return boundary::Unit{};
}

boundary::Status parse_tokenizer(PyObject* given, ScorerOptions& options) {
    // rouge-score takes the default tokenizer for any false value (`if
    // tokenizer:`), an object whose __len__ is 0 included.
    Result<bool> given_truth = given == nullptr ? Result<bool>(false) : boundary::Truth::convert(given, "tokenizer");
    if (!given_truth) return std::move(given_truth).take_error();
    if (!given_truth.value()) {
        options.tokenizer = TokenizerKind::ascii;
        return boundary::Unit{};
    }
    if (PyUnicode_Check(given)) {
        if (PyUnicode_CompareWithASCIIString(given, "unicode") == 0) {
            options.tokenizer = TokenizerKind::unicode;
            return boundary::Unit{};
        }
        return PyErr::new_message(PyExc_ValueError, kTokenizerChoices);
    }
    // rouge-score's contract first: an object with a tokenize method.
    PyObject* method = nullptr;
    if (PyObject_GetOptionalAttrString(given, "tokenize", &method) < 0) return PyErr::fetch();
    PyRef tokenize(method);
    if (tokenize && PyCallable_Check(tokenize.get())) {
        options.tokenize = std::move(tokenize);
    } else if (PyCallable_Check(given)) {
        options.tokenize = PyRef::borrow(given);
    } else {
        return PyErr::new_message(PyExc_TypeError, kTokenizerChoices);
    }
    options.tokenizer = TokenizerKind::python;
    return boundary::Unit{};
}

// NLTK's sentence splitter and its model, loaded now so that a scorer that
// cannot split says so when it is made, not in the middle of an evaluation.
// Nothing is ever downloaded.
boundary::Status load_sentence_splitter(ScorerOptions& options) {
    constexpr const char* kNoSplitterNeeded =
        " Texts with one sentence per line need no splitter: leave split_summaries off, and rougeLsum "
        "takes each line as a sentence.";
    PyRef nltk(PyImport_ImportModule("nltk"));
    if (!nltk) {
        if (!PyErr_ExceptionMatches(PyExc_ImportError)) return PyErr::fetch();
        PyErr_Clear();
        return PyErr::new_message(PyExc_ImportError,
                                  std::string("split_summaries=True splits sentences with NLTK's sent_tokenize, "
                                              "and NLTK cannot be imported (pip install nltk; its 'punkt_tab' "
                                              "sentence model is needed too).") +
                                      kNoSplitterNeeded);
    }
    PyRef sent_tokenize(PyObject_GetAttrString(nltk.get(), "sent_tokenize"));
    if (!sent_tokenize) return PyErr::fetch();
    PyRef probe = boundary::new_object_or_fail(PyUnicode_FromString("One sentence. Another one."));
    PyRef split(PyObject_CallOneArg(sent_tokenize.get(), probe.get()));
    if (!split) {
        if (!PyErr_ExceptionMatches(PyExc_LookupError)) return PyErr::fetch();
        PyErr_Clear();
        return PyErr::new_message(PyExc_LookupError,
                                  std::string("split_summaries=True splits sentences with NLTK's sent_tokenize, "
                                              "whose sentence model 'punkt_tab' is not installed; install it "
                                              "where a network is available with nltk.download('punkt_tab') "
                                              "(or put it on NLTK_DATA).") +
                                      kNoSplitterNeeded);
    }
    options.sent_tokenize = std::move(sent_tokenize);
    return boundary::Unit{};
}

}  // namespace

Result<ScorerOptions> parse_scorer_options(const boundary::BoundArguments& arguments) {
    ScorerOptions options;
    if (boundary::Status s = parse_rouge_types(arguments[0], options); !s) return std::move(s).take_error();
    Result<bool> stem = arguments.get<boundary::Truth>(1, false);
    if (!stem) return std::move(stem).take_error();
    Result<bool> split = arguments.get<boundary::Truth>(2, false);
    if (!split) return std::move(split).take_error();
    if (boundary::Status s = parse_tokenizer(arguments[3], options); !s) return std::move(s).take_error();

    // As rouge-score does, a tokenizer of the caller's own is used as it is,
    // and use_stemmer then has no effect. Porter's stemmer is for English,
    // so it is not combined with the tokenizer for every script.
    if (stem.value() && options.tokenizer == TokenizerKind::unicode) {
        return PyErr::new_message(PyExc_ValueError,
                                  "use_stemmer=True stems English words and works with the default tokenizer; it "
                                  "cannot be combined with tokenizer=\"unicode\"");
    }
    options.stem = stem.value() && options.tokenizer == TokenizerKind::ascii;
    options.split_sentences = split.value();
    if (options.split_sentences && options.config.needs_sentences()) {
        if (boundary::Status s = load_sentence_splitter(options); !s) return std::move(s).take_error();
    }
    options.use_stemmer = PyRef::borrow(arguments[1] != nullptr ? arguments[1] : Py_False);
    options.split_summaries = PyRef::borrow(arguments[2] != nullptr ? arguments[2] : Py_False);
    options.tokenizer_argument = PyRef::borrow(arguments[3] != nullptr ? arguments[3] : Py_None);
    return options;
}

}  // namespace tallygrams::companion
