#include "tallygrams_scorer/rouge_scorer.hpp"

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "boundary/method_record.hpp"
#include "boundary/native_object.hpp"
#include "boundary/new_object.hpp"
#include "boundary/run_detached.hpp"
#include "boundary/signal_checkpoint.hpp"
#include "tallygrams_scorer/arrow_scoring.hpp"
#include "tallygrams_scorer/batch_inputs.hpp"
#include "tallygrams_scorer/module_state.hpp"
#include "tallygrams_scorer/pair_results.hpp"
#include "tallygrams_scorer/pair_scoring.hpp"
#include "tallygrams_scorer/scorer_object.hpp"

namespace tallygrams::companion {
namespace {

using boundary::BoundArguments;
using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

// --- score and score_multi -------------------------------------------------------

Result<PyRef> score_one(PyObject* self, PyTypeObject* defining_class, PyObject* targets, bool several,
                        PyObject* prediction, std::string_view target_argument) {
    Result<const ScorerOptions*> options = usable_options(self);
    if (!options) return std::move(options).take_error();
    PreparedPairs pairs;
    TextPreparer preparer = preparer_for(*options.value(), pairs.store);
    PyRef references;
    if (several) {
        Result<PyRef> list = reference_list(targets, target_argument);
        if (!list) return std::move(list).take_error();
        references = std::move(list).take_value();
    } else {
        references = boundary::new_object_or_fail(PyTuple_Pack(1, targets));
    }
    pairs.first_reference.push_back(0);
    for (Py_ssize_t r = 0; r < PyTuple_GET_SIZE(references.get()); ++r) {
        Result<PreparedText> text =
            preparer.prepare(PyTuple_GET_ITEM(references.get(), r), target_argument, several ? r : -1);
        if (!text) return std::move(text).take_error();
        pairs.references.push_back(text.value());
    }
    pairs.first_reference.push_back(pairs.references.size());
    Result<PreparedText> text = preparer.prepare(prediction, "prediction");
    if (!text) return std::move(text).take_error();
    pairs.predictions.push_back(text.value());

    PairResults results(1, options.value()->config.size());
    if (boundary::Status s = score_prepared(*options.value(), pairs, results); !s) return std::move(s).take_error();
    return pair_result_dict(state_of_class(defining_class), *options.value(), results, 0);
}

Result<PyRef> score_body(PyObject* self, PyTypeObject* defining_class, const BoundArguments& arguments) {
    return score_one(self, defining_class, arguments[0], false, arguments[1], "target");
}

constexpr boundary::Method kScore{
    .name = "score",
    .signature = {.function_name = "RougeScorer.score", .parameters = {{"target"}, {"prediction"}}, .required = 2,
                  .method = true},
    .doc = "score($self, target, prediction)\n--\n\n"
           "Score one prediction against one target (the reference): a dict from each\n"
           "rouge type, in the scorer's order, to a Score.",
    .body = score_body,
};
static_assert(boundary::doc_matches_signature(kScore));

Result<PyRef> score_multi_body(PyObject* self, PyTypeObject* defining_class, const BoundArguments& arguments) {
    return score_one(self, defining_class, arguments[0], true, arguments[1], "targets");
}

constexpr boundary::Method kScoreMulti{
    .name = "score_multi",
    .signature = {.function_name = "RougeScorer.score_multi", .parameters = {{"targets"}, {"prediction"}},
                  .required = 2, .method = true},
    .doc = "score_multi($self, targets, prediction)\n--\n\n"
           "Score one prediction against several targets: per rouge type, the Score\n"
           "of the target with the greatest F-measure (the first of equals).",
    .body = score_multi_body,
};
static_assert(boundary::doc_matches_signature(kScoreMulti));

// --- score_batch -----------------------------------------------------------------

Result<PyRef> score_batch_body(PyObject* self, PyTypeObject* defining_class, const BoundArguments& arguments) {
    Result<const ScorerOptions*> options = usable_options(self);
    if (!options) return std::move(options).take_error();
    Result<PairResults> scored = score_batch_pairs(*options.value(), arguments);
    if (!scored) return std::move(scored).take_error();
    PairResults& results = scored.value();
    const ModuleState& state = state_of_class(defining_class);
    const auto n = static_cast<Py_ssize_t>(results.pairs());
    PyRef list = boundary::new_object_or_fail(PyList_New(n));
    boundary::SignalCheckpoint checkpoint;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (boundary::Status s = checkpoint.advance(); !s) return std::move(s).take_error();
        Result<PyRef> dict = pair_result_dict(state, *options.value(), results, static_cast<size_t>(i));
        if (!dict) return std::move(dict).take_error();
        PyList_SET_ITEM(list.get(), i, std::move(dict).take_value().release());
    }
    return list;
}

constexpr boundary::Method kScoreBatch{
    .name = "score_batch",
    .signature = {.function_name = "RougeScorer.score_batch",
                  .parameters = {{"targets", &boundary::kTexts}, {"predictions", &boundary::kTexts}},
                  .required = 2,
                  .method = true},
    .doc = "score_batch($self, targets, predictions)\n--\n\n"
           "Score many pairs on all cores: a list with one dict per pair, in input\n"
           "order, as score() gives it. A target may be a list of references, scored\n"
           "as score_multi() does. A tokenizer of the caller's own runs on the calling\n"
           "thread, for a chunk of pairs at a time; the counting runs in parallel\n"
           "without the GIL.",
    .body = score_batch_body,
};
static_assert(boundary::doc_matches_signature(kScoreBatch));

// --- tokenize, pickling, repr ------------------------------------------------------

Result<PyRef> tokenize_body(PyObject* self, PyTypeObject* /*defining_class*/, const BoundArguments& arguments) {
    Result<const ScorerOptions*> options = usable_options(self);
    if (!options) return std::move(options).take_error();
    // Whole-text tokens only, whatever the metrics.
    TextRules rules = options.value()->rules();
    rules.whole = true;
    rules.sentences = false;
    PreparedStore store;
    TextPreparer preparer(rules, options.value()->tokenize.get(), nullptr, store);
    Result<PreparedText> text = preparer.prepare(arguments[0], "text");
    if (!text) return std::move(text).take_error();
    std::vector<std::string> tokens = boundary::run_detached([&] {
        scorer::ScratchArena arena;
        const scorer::TokenizedText tokenized = tokenize_prepared(rules, store, text.value(), arena);
        std::vector<std::string> out;
        out.reserve(tokenized.whole.token_count);
        for (size_t i = 0; i < tokenized.whole.token_count; ++i) out.emplace_back(tokenized.whole.tokens[i]);
        return out;
    });
    PyRef list = boundary::new_object_or_fail(PyList_New(static_cast<Py_ssize_t>(tokens.size())));
    for (size_t i = 0; i < tokens.size(); ++i) {
        // A caller's tokenizer may give tokens with lone surrogates (see
        // TextPreparer::utf8_of).
        PyRef token(
            PyUnicode_DecodeUTF8(tokens[i].data(), static_cast<Py_ssize_t>(tokens[i].size()), "surrogatepass"));
        if (!token) return PyErr::fetch();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), token.release());
    }
    return list;
}

constexpr boundary::Method kTokenize{
    .name = "tokenize",
    .signature = {.function_name = "RougeScorer.tokenize", .parameters = {{"text"}}, .required = 1, .method = true},
    .doc = "tokenize($self, text)\n--\n\n"
           "The tokens this scorer counts in `text`, after lower-casing and stemming as\n"
           "configured: what the n-gram and rougeL metrics compare.",
    .body = tokenize_body,
};
static_assert(boundary::doc_matches_signature(kTokenize));

// The constructor's arguments, as given.
PyRef constructor_arguments(const ScorerOptions& o) {
    return boundary::new_object_or_fail(
        PyTuple_Pack(4, o.rouge_types.get(), o.use_stemmer.get(), o.split_summaries.get(), o.tokenizer_argument.get()));
}

Result<PyRef> reduce_body(PyObject* self, PyTypeObject* defining_class, const BoundArguments& /*arguments*/) {
    Result<const ScorerOptions*> options = usable_options(self);
    if (!options) return std::move(options).take_error();
    PyRef args = constructor_arguments(*options.value());
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (Py_TYPE(self) == defining_class) return boundary::new_object_or_fail(PyTuple_Pack(2, type, args.get()));
    // A subclass's constructor may take other arguments: it is rebuilt as
    // copyreg rebuilds any object, allocated bare, then given this scorer's
    // arguments and its attributes through __setstate__.
    PyRef copyreg(PyImport_ImportModule("copyreg"));
    if (!copyreg) return PyErr::fetch();
    PyRef newobj(PyObject_GetAttrString(copyreg.get(), "__newobj__"));
    if (!newobj) return PyErr::fetch();
    PyObject* found = nullptr;
    if (PyObject_GetOptionalAttrString(self, "__dict__", &found) < 0) return PyErr::fetch();
    PyRef attributes(found != nullptr ? found : Py_NewRef(Py_None));
    PyRef state = boundary::new_object_or_fail(PyTuple_Pack(2, args.get(), attributes.get()));
    PyRef new_args = boundary::new_object_or_fail(PyTuple_Pack(1, type));
    return boundary::new_object_or_fail(PyTuple_Pack(3, newobj.get(), new_args.get(), state.get()));
}

constexpr boundary::Method kReduce{
    .name = "__reduce__",
    .signature = {.function_name = "RougeScorer.__reduce__", .method = true},
    .doc = "__reduce__($self)\n--\n\n"
           "Pickled as the constructor's arguments (a tokenizer of the caller's own\n"
           "must be picklable itself); a subclass's instance with its attributes too.",
    .body = reduce_body,
};
static_assert(boundary::doc_matches_signature(kReduce));

// Configures a scorer that was only allocated: what __init__ and
// __setstate__ share. A scorer is configured once.
boundary::Status configure(PyObject* self, PyObject* args, PyObject* kwargs) {
    Scorer& scorer = boundary::payload_of<Scorer>(self);
    ScorerStage expected = ScorerStage::made;
    if (!scorer.stage.compare_exchange_strong(expected, ScorerStage::configuring, std::memory_order_acq_rel)) {
        return PyErr::new_message(PyExc_TypeError,
                                  "a RougeScorer's settings are fixed once it is initialised; make a new one instead");
    }
    Result<BoundArguments> bound = boundary::bind_arguments(kScorerSignature, args, kwargs);
    Result<ScorerOptions> options =
        bound ? parse_scorer_options(bound.value()) : Result<ScorerOptions>(std::move(bound).take_error());
    if (!options) {
        scorer.stage.store(ScorerStage::made, std::memory_order_release);
        return std::move(options).take_error();
    }
    scorer.options = std::move(options).take_value();
    scorer.stage.store(ScorerStage::configured, std::memory_order_release);
    return boundary::Unit{};
}

Result<PyRef> setstate_body(PyObject* self, PyTypeObject* /*defining_class*/, const BoundArguments& arguments) {
    PyObject* state = arguments[0];
    if (!PyTuple_Check(state) || PyTuple_GET_SIZE(state) != 2 || !PyTuple_Check(PyTuple_GET_ITEM(state, 0))) {
        return PyErr::new_message(PyExc_TypeError, "a RougeScorer's state is (arguments, attributes)");
    }
    if (boundary::Status s = configure(self, PyTuple_GET_ITEM(state, 0), nullptr); !s) return std::move(s).take_error();
    PyObject* attributes = PyTuple_GET_ITEM(state, 1);
    if (attributes != Py_None) {
        PyRef own(PyObject_GetAttrString(self, "__dict__"));
        if (!own) return PyErr::fetch();
        if (PyDict_Update(own.get(), attributes) < 0) return PyErr::fetch();
    }
    return PyRef::borrow(Py_None);
}

constexpr boundary::Method kSetState{
    .name = "__setstate__",
    .signature = {.function_name = "RougeScorer.__setstate__", .parameters = {{"state"}}, .required = 1, .method = true},
    .doc = "__setstate__($self, state)\n--\n\n"
           "Configures an unpickled subclass instance: (arguments, attributes).",
    .body = setstate_body,
};
static_assert(boundary::doc_matches_signature(kSetState));

PyObject* scorer_repr(PyObject* self) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        PyRef name(PyType_GetName(Py_TYPE(self)));
        if (!name) return PyErr::fetch();
        const Scorer& scorer = boundary::payload_of<Scorer>(self);
        if (scorer.stage.load(std::memory_order_acquire) != ScorerStage::configured) {
            return boundary::new_object_or_fail(PyUnicode_FromFormat("<%U, not initialised>", name.get()));
        }
        const ScorerOptions& o = scorer.options;
        PyRef text(PyUnicode_FromFormat("%U(%R, use_stemmer=%R, split_summaries=%R, tokenizer=%R)", name.get(),
                                        o.rouge_types.get(), o.use_stemmer.get(), o.split_summaries.get(),
                                        o.tokenizer_argument ? o.tokenizer_argument.get() : Py_None));
        if (!text) return PyErr::fetch();
        return text;
    });
}

PyObject* get_rouge_types(PyObject* self, void* /*closure*/) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        Result<const ScorerOptions*> options = usable_options(self);
        if (!options) return std::move(options).take_error();
        return boundary::new_object_or_fail(PySequence_List(options.value()->rouge_types.get()));
    });
}

// Allocation only: the arguments are the business of __init__, which a
// subclass may give a signature of its own.
PyObject* scorer_new(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) {
    return boundary::boundary_object(
        [&]() -> Result<PyRef> { return boundary::new_native_object(type, std::make_unique<Scorer>()); });
}

int scorer_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary::boundary_status([&] { return configure(self, args, kwargs); });
}

constexpr const char* kClassDoc =
    "RougeScorer(rouge_types, use_stemmer=False, split_summaries=False, tokenizer=None)\n--\n\n"
    "rouge-score's RougeScorer, natively: the same arguments, the same results to\n"
    "the last bit.\n\n"
    "rouge_types: any of rouge1 to rouge9, rougeL and rougeLsum. use_stemmer: Porter\n"
    "stemming (as NLTK's) of tokens longer than 3 characters. split_summaries:\n"
    "rougeLsum's sentences from NLTK's sent_tokenize instead of lines. tokenizer:\n"
    "None, \"unicode\" (every script), or the caller's own (an object with\n"
    "tokenize(text), or a callable), whose tokens are taken as given.";
static_assert(boundary::doc_matches_signature("RougeScorer", kScorerSignature, kClassDoc));

PyMethodDef scorer_methods[] = {
    boundary::method_table_entry<kScore>(),
    boundary::method_table_entry<kScoreMulti>(),
    boundary::method_table_entry<kScoreBatch>(),
    boundary::method_table_entry<kScoreColumnsMethod>(),
    boundary::method_table_entry<kScoreArrowMethod>(),
    boundary::method_table_entry<kTokenize>(),
    boundary::method_table_entry<kReduce>(),
    boundary::method_table_entry<kSetState>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef scorer_getset[] = {
    {.name = "rouge_types", .get = get_rouge_types, .set = nullptr,
     .doc = "The rouge types as given to the constructor (a new list on each read).", .closure = nullptr},
    {.name = nullptr, .get = nullptr, .set = nullptr, .doc = nullptr, .closure = nullptr},
};

const PyType_Slot scorer_own_slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_new, reinterpret_cast<void*>(scorer_new)},
    {Py_tp_init, reinterpret_cast<void*>(scorer_init)},
    {Py_tp_repr, reinterpret_cast<void*>(scorer_repr)},
    {Py_tp_methods, scorer_methods},
    {Py_tp_getset, scorer_getset},
};
const auto scorer_slots = boundary::native_object_slots<Scorer>(scorer_own_slots);

// Subclasses are allowed, as rouge-score's scorer is a plain class.
PyType_Spec scorer_spec = boundary::native_object_spec<Scorer>("tallygrams_scorer.RougeScorer", scorer_slots,
                                                               Py_TPFLAGS_BASETYPE);

}  // namespace

Result<PyRef> create_rouge_scorer_type(PyObject* module) { return boundary::new_module_class(module, scorer_spec); }

}  // namespace tallygrams::companion
