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
        PyRef token(PyUnicode_DecodeUTF8(tokens[i].data(), static_cast<Py_ssize_t>(tokens[i].size()), "strict"));
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

Result<PyRef> reduce_body(PyObject* self, PyTypeObject* /*defining_class*/, const BoundArguments& /*arguments*/) {
    Result<const ScorerOptions*> options = usable_options(self);
    if (!options) return std::move(options).take_error();
    const ScorerOptions& o = *options.value();
    PyRef args = boundary::new_object_or_fail(PyTuple_Pack(4, o.rouge_types.get(), o.use_stemmer.get(),
                                                           o.split_summaries.get(), o.tokenizer_argument.get()));
    return boundary::new_object_or_fail(PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), args.get()));
}

constexpr boundary::Method kReduce{
    .name = "__reduce__",
    .signature = {.function_name = "RougeScorer.__reduce__", .method = true},
    .doc = "__reduce__($self)\n--\n\n"
           "Pickled as the constructor's arguments (a tokenizer of the caller's own\n"
           "must be picklable itself).",
    .body = reduce_body,
};
static_assert(boundary::doc_matches_signature(kReduce));

PyObject* scorer_repr(PyObject* self) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        const ScorerOptions& o = boundary::payload_of<Scorer>(self).options;
        PyRef text(PyUnicode_FromFormat("RougeScorer(%R, use_stemmer=%R, split_summaries=%R, tokenizer=%R)",
                                        o.rouge_types.get(), o.use_stemmer.get(), o.split_summaries.get(),
                                        o.tokenizer_argument ? o.tokenizer_argument.get() : Py_None));
        if (!text) return PyErr::fetch();
        return text;
    });
}

PyObject* get_rouge_types(PyObject* self, void* /*closure*/) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        return boundary::new_object_or_fail(PySequence_List(boundary::payload_of<Scorer>(self).options.rouge_types.get()));
    });
}

PyObject* scorer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary::boundary_object([&]() -> Result<PyRef> {
        Result<BoundArguments> bound = boundary::bind_arguments(kScorerSignature, args, kwargs);
        if (!bound) return std::move(bound).take_error();
        Result<ScorerOptions> options = parse_scorer_options(bound.value());
        if (!options) return std::move(options).take_error();
        auto scorer = std::make_unique<Scorer>();
        scorer->options = std::move(options).take_value();
        return boundary::new_native_object(type, std::move(scorer));
    });
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
    {Py_tp_repr, reinterpret_cast<void*>(scorer_repr)},
    {Py_tp_methods, scorer_methods},
    {Py_tp_getset, scorer_getset},
};
const auto scorer_slots = boundary::native_object_slots<Scorer>(scorer_own_slots);

PyType_Spec scorer_spec = {
    .name = "tallygrams_scorer.RougeScorer",
    .basicsize = static_cast<int>(sizeof(boundary::NativeObject<Scorer>)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = const_cast<PyType_Slot*>(scorer_slots.data()),
};

}  // namespace

Result<PyRef> create_rouge_scorer_type(PyObject* module) { return boundary::new_module_class(module, scorer_spec); }

}  // namespace tallygrams::companion
