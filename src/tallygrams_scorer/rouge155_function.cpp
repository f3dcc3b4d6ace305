#include "tallygrams_scorer/rouge155_function.hpp"

#include <cmath>
#include <optional>
#include <string>

#include "boundary/memory_request.hpp"
#include "boundary/new_object.hpp"
#include "boundary/parameter_types.hpp"
#include "boundary/pool_access.hpp"
#include "boundary/run_interruptible.hpp"
#include "engine/rouge155/evaluation.hpp"
#include "scorer/rouge155/option_parser.hpp"
#include "scorer/rouge155/report.hpp"
#include "tallygrams_scorer/rouge155_inputs.hpp"
#include "tallygrams_scorer/rouge155_result.hpp"

namespace tallygrams::companion {

namespace {

using boundary::BoundArguments;
using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;
using boundary::Status;
namespace rouge155 = scorer::rouge155;

constexpr const char* kDefaultOptions = "-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -a";

// The keyword settings, in the order of the signature after `options`.
enum Keyword : size_t {
    kNgrams = 3, kLcs, kWeight, kSkipGap, kSkipUnigrams, kStemming, kRemoveStopwords, kWordLimit, kByteLimit,
    kMultiReference, kAlpha, kUnits, kConfidence, kResamples, kPerPair,
};

PyErr bad_keyword(const BoundArguments& arguments, size_t k, const std::string& expected) {
    PyObject* value = arguments[k];
    PyRef shown(PyObject_Repr(value));
    const char* text = shown ? PyUnicode_AsUTF8(shown.get()) : nullptr;
    if (text == nullptr) PyErr_Clear();
    return PyErr::new_message(PyExc_ValueError, std::string(arguments.name(k)) + " must be " + expected + ", not " +
                                                    (text != nullptr ? text : Py_TYPE(value)->tp_name));
}

Result<bool> flag_of(const BoundArguments& arguments, size_t k) { return arguments.get<boundary::Truth>(k); }

// A whole number within [low, high]: an int or an integer of its own kind
// (NumPy's, through __index__), not a bool.
Result<long long> whole_of(const BoundArguments& arguments, size_t k, long long low, long long high,
                           const std::string& expected) {
    PyObject* value = arguments[k];
    if (PyBool_Check(value) || !PyIndex_Check(value)) return bad_keyword(arguments, k, expected);
    PyRef whole(PyNumber_Index(value));
    if (!whole) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return PyErr::fetch();
        PyErr_Clear();
        return bad_keyword(arguments, k, expected);
    }
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(whole.get(), &overflow);
    if (overflow != 0 || n < low || n > high) return bad_keyword(arguments, k, expected);
    return n;
}

// A finite number within [low, high], and its text as str() gives it.
Result<std::pair<double, std::string>> number_of(const BoundArguments& arguments, size_t k, double low, double high,
                                                 bool open_low, const std::string& expected) {
    PyObject* value = arguments[k];
    if (!(PyFloat_Check(value) || PyLong_Check(value)) || PyBool_Check(value)) return bad_keyword(arguments, k, expected);
    const double x = PyFloat_AsDouble(value);
    if (x == -1.0 && PyErr_Occurred()) return PyErr::fetch();
    if (!std::isfinite(x) || x < low || x > high || (open_low && x == low)) return bad_keyword(arguments, k, expected);
    PyRef text(PyObject_Str(value));
    if (!text) return PyErr::fetch();
    const char* utf8 = PyUnicode_AsUTF8(text.get());
    if (utf8 == nullptr) return PyErr::fetch();
    return std::pair<double, std::string>(x, utf8);
}

bool text_is(PyObject* value, const char* expected) {
    return PyUnicode_Check(value) && PyUnicode_CompareWithASCIIString(value, expected) == 0;
}

// The readable keywords, applied over what the option string says.
Status apply_keywords(const BoundArguments& arguments, rouge155::Options& options) {
#define TG_TAKE(variable, result)                          \
    auto variable = (result);                              \
    if (!variable) return std::move(variable).take_error();
    if (arguments[kNgrams] != nullptr) {
        TG_TAKE(n, whole_of(arguments, kNgrams, 0, rouge155::kMaxNgram, "a whole number from 0 to 64"));
        options.max_ngram = static_cast<int>(n.value());
    }
    if (arguments[kLcs] != nullptr) {
        TG_TAKE(on, flag_of(arguments, kLcs));
        options.lcs = on.value();
    }
    if (PyObject* weight = arguments[kWeight]; weight != nullptr) {
        if (weight == Py_None) {
            options.weight.reset();
        } else {
            TG_TAKE(w, number_of(arguments, kWeight, 0, rouge155::kMaxWeight, true, "None or a weight above 0, at most 100"));
            options.weight = w.value().first;
            options.weight_text = w.value().second;
        }
    }
    if (PyObject* gap = arguments[kSkipGap]; gap != nullptr) {
        if (gap == Py_None) {
            options.skip_distance.reset();
        } else {
            TG_TAKE(g, whole_of(arguments, kSkipGap, -(1LL << 62), 1LL << 62, "None or a whole number (negative: no limit)"));
            options.skip_distance = g.value();
            options.skip_text = std::to_string(g.value());
        }
    }
    if (PyObject* kind = arguments[kSkipUnigrams]; kind != nullptr) {
        if (kind == Py_False) {
            options.skip_unigrams = rouge155::SkipUnigrams::without;
        } else if (kind == Py_True) {
            options.skip_unigrams = rouge155::SkipUnigrams::with;
        } else if (text_is(kind, "both")) {
            options.skip_unigrams = rouge155::SkipUnigrams::both;
        } else {
            return bad_keyword(arguments, kSkipUnigrams, "False (ROUGE-S), True (ROUGE-SU) or 'both'");
        }
    }
    if (arguments[kStemming] != nullptr) {
        TG_TAKE(on, flag_of(arguments, kStemming));
        options.stem = on.value();
    }
    if (arguments[kRemoveStopwords] != nullptr) {
        TG_TAKE(on, flag_of(arguments, kRemoveStopwords));
        options.remove_stop_words = on.value();
    }
    for (const size_t k : {size_t{kWordLimit}, size_t{kByteLimit}}) {
        if (arguments[k] == nullptr) continue;
        size_t limit = 0;
        if (arguments[k] != Py_None) {
            TG_TAKE(n, whole_of(arguments, k, 0, 1LL << 62, "None or a whole number (0: no limit)"));
            limit = static_cast<size_t>(n.value());
        }
        (k == kWordLimit ? options.word_limit : options.byte_limit) = limit;
    }
    if (options.word_limit != 0 && options.byte_limit != 0) {
        return PyErr::new_message(PyExc_ValueError, "a word limit and a byte limit cannot be given together");
    }
    if (PyObject* formula = arguments[kMultiReference]; formula != nullptr) {
        if (text_is(formula, "average")) {
            options.formula = rouge155::Formula::average;
        } else if (text_is(formula, "best")) {
            options.formula = rouge155::Formula::best;
        } else {
            return bad_keyword(arguments, kMultiReference, "'average' (-f A) or 'best' (-f B)");
        }
    }
    if (arguments[kAlpha] != nullptr) {
        TG_TAKE(a, arguments.get<boundary::UnitInterval>(kAlpha));
        options.alpha = a.value();
    }
    if (PyObject* units = arguments[kUnits]; units != nullptr) {
        if (text_is(units, "pairs")) {
            options.units = rouge155::Units::pairs;
        } else if (text_is(units, "tokens")) {
            options.units = rouge155::Units::tokens;
        } else if (text_is(units, "counts")) {
            options.units = rouge155::Units::counts;
        } else {
            return bad_keyword(arguments, kUnits, "'pairs' (-t 0), 'tokens' (-t 1) or 'counts' (-t 2)");
        }
    }
    if (arguments[kConfidence] != nullptr) {
        TG_TAKE(c, number_of(arguments, kConfidence, 0, 100, false, "a confidence level from 0 to 100"));
        options.confidence = c.value().first;
        options.confidence_text = c.value().second;
    }
    if (arguments[kResamples] != nullptr) {
        TG_TAKE(r, arguments.get<boundary::Count>(kResamples));
        if (r.value() > rouge155::kMaxResamples) return bad_keyword(arguments, kResamples, "at most 1000000 resamples");
        options.resamples = r.value();
    }
    if (arguments[kPerPair] != nullptr) {
        TG_TAKE(on, flag_of(arguments, kPerPair));
        options.per_pair = on.value();
    }
#undef TG_TAKE
    return boundary::Unit{};
}

Result<PyRef> rouge155_body(PyObject* module, const BoundArguments& arguments) {
    std::string_view text = kDefaultOptions;
    if (PyObject* given = arguments[2]; given != nullptr && given != Py_None) {
        Result<std::string_view> read = boundary::Text::convert(given, "options");
        if (!read) return std::move(read).take_error();
        text = read.value();
    }
    rouge155::ParsedOptions parsed = rouge155::parse_options(text);
    if (!parsed.error.empty()) return PyErr::new_message(PyExc_ValueError, "options: " + parsed.error);
    rouge155::Options options = std::move(parsed.options);
    if (Status s = apply_keywords(arguments, options); !s) return std::move(s).take_error();

    Rouge155Texts texts;
    if (Status s = texts.read(arguments[0], arguments[1]); !s) return std::move(s).take_error();
    const engine::Rouge155Pairs pairs = texts.pairs();
    const size_t n = pairs.predictions.size();
    if (Status s = boundary::check_memory_request(
            engine::rouge155_memory(options, n),
            "the figures of " + std::to_string(n) + (n == 1 ? " pair" : " pairs") + " and their " +
                std::to_string(options.resamples) + " resamples");
        !s) {
        return std::move(s).take_error();
    }

    Result<engine::WorkerPool*> pool = boundary::worker_pool();
    if (!pool) return std::move(pool).take_error();
    std::string report;
    Result<std::optional<engine::Rouge155Evaluation>> evaluated = boundary::run_interruptible(
        [&](engine::Interruption& interruption) -> std::optional<engine::Rouge155Evaluation> {
            std::optional<engine::Rouge155Evaluation> evaluation =
                engine::evaluate_rouge155(*pool.value(), options, pairs, &interruption);
            if (evaluation) {
                report = rouge155::render_report(options, evaluation->measures, evaluation->summaries,
                                                 evaluation->figures.data(), n);
            }
            return evaluation;
        });
    if (!evaluated) return std::move(evaluated).take_error();
    ensure(evaluated.value().has_value(), "an uninterrupted evaluation gave no result");
    return rouge155_result(state_of_module(module), options, *evaluated.value(), n, report);
}

}  // namespace

constexpr boundary::ModuleFunction kRouge155Function{
    .signature = {.function_name = "rouge155",
                  .parameters = {{"predictions"},
                                 {"references"},
                                 {"options"},
                                 {"ngrams"},
                                 {"lcs", &boundary::kTruth},
                                 {"weight"},
                                 {"skip_gap"},
                                 {"skip_unigrams"},
                                 {"stemming", &boundary::kTruth},
                                 {"remove_stopwords", &boundary::kTruth},
                                 {"word_limit"},
                                 {"byte_limit"},
                                 {"multi_reference"},
                                 {"alpha", &boundary::kUnitInterval},
                                 {"units"},
                                 {"confidence"},
                                 {"resamples", &boundary::kCount},
                                 {"per_pair", &boundary::kTruth}},
                  .required = 2,
                  .keyword_only_from = 3},
    .doc = "rouge155(predictions, references, options='-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -a', *, ngrams=None, "
           "lcs=None, weight=None, skip_gap=None, skip_unigrams=None, stemming=None, remove_stopwords=None, "
           "word_limit=None, byte_limit=None, multi_reference=None, alpha=None, units=None, confidence=None, "
           "resamples=None, per_pair=None)\n--\n\n"
           "Every figure of the Perl ROUGE-1.5.5 script, to its last printed digit.\n\n"
           "predictions: a sequence of summaries; references: a sequence as long, each\n"
           "item a summary (one reference) or a sequence of summaries (several). A summary\n"
           "is a str with one sentence per line, bytes read as the script reads a file, or\n"
           "a sequence of sentences. options: the script's flags (-a, -e and -z do\n"
           "nothing). The keywords, when given, replace what the flags say: ngrams (-n),\n"
           "lcs (False: -x), weight (-w; None: no ROUGE-W), skip_gap (-2; None: no\n"
           "ROUGE-S), skip_unigrams (False: ROUGE-S, True: -u, 'both': -U), stemming (-m),\n"
           "remove_stopwords (-s), word_limit (-l), byte_limit (-b), multi_reference\n"
           "('average' or 'best': -f A or B), alpha (-p), units ('pairs', 'tokens',\n"
           "'counts': -t 0, 1, 2), confidence (-c), resamples (-r), per_pair (-d).\n\n"
           "Returns a Rouge155Result: {measure name: Rouge155Figures}, with report() (the\n"
           "script's printed text for system 1) and per_pair (with -d).",
    .body = rouge155_body,
    .receives_module = true,
};
static_assert(boundary::doc_matches_signature(kRouge155Function));

}  // namespace tallygrams::companion
