#include "tallygrams_scorer/arrow_scoring.hpp"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "arrow/lowest_row.hpp"
#include "arrow/pair_validity.hpp"
#include "arrow/text_column.hpp"
#include "arrow/utf8_validation.hpp"
#include "boundary/arrow_exchange.hpp"
#include "boundary/new_object.hpp"
#include "boundary/run_interruptible.hpp"
#include "engine/column_output.hpp"
#include "boundary/pool_access.hpp"
#include "engine/range_runner.hpp"
#include "tallygrams_scorer/batch_inputs.hpp"
#include "tallygrams_scorer/module_state.hpp"
#include "tallygrams_scorer/pair_scoring.hpp"
#include "tallygrams_scorer/score_columns.hpp"
#include "tallygrams_scorer/scorer_object.hpp"

namespace tallygrams::companion {
namespace {

using boundary::BoundArguments;
using boundary::PyErr;
using boundary::PyRef;
using boundary::Result;

constexpr const char* kMeasures[3] = {"precision", "recall", "fmeasure"};

// The result columns of a scorer: three per key, "<key>_<measure>".
class ResultColumns {
public:
    ResultColumns(const ScorerOptions& options, size_t rows)
        : options_(options), keys_(static_cast<size_t>(PyTuple_GET_SIZE(options.keys.get()))),
          output_(rows, 3 * keys_) {}

    // Pair `row`'s scores, one per metric of the configuration.
    void write(size_t row, const scorer::Score* scores) noexcept {
        for (size_t k = 0; k < keys_; ++k) {
            const scorer::Score& score = scores[options_.metric_of_key[k]];
            output_.column(3 * k)[row] = score.precision;
            output_.column(3 * k + 1)[row] = score.recall;
            output_.column(3 * k + 2)[row] = score.fmeasure;
        }
    }

    // The columns as a batch, with `validity` for every column (null rows
    // where either text was null).
    arrow::Float64Batch into_batch(std::shared_ptr<const arrow::ValidityBitmap> validity) {
        arrow::Float64Batch batch(output_.length());
        for (size_t k = 0; k < keys_; ++k) {
            const std::string key = boundary::lossy_utf8(PyTuple_GET_ITEM(options_.keys.get(), static_cast<Py_ssize_t>(k)));
            for (size_t m = 0; m < 3; ++m) {
                batch.add_column(arrow::Float64Column(key + "_" + kMeasures[m], arrow::OwnedBuffer(output_.take_column(3 * k + m)),
                                                      output_.length(), validity));
            }
        }
        return batch;
    }

private:
    const ScorerOptions& options_;
    size_t keys_;
    engine::ColumnOutput output_;
};

// The two columns must pair row by row.
boundary::Status same_length(size_t references, size_t predictions, const char* first, const char* second) {
    if (references == predictions) return boundary::Unit{};
    return PyErr::new_message(PyExc_ValueError, std::string(first) + " and " + second +
                                                    " must have the same length (" + std::to_string(references) +
                                                    " and " + std::to_string(predictions) + " rows)");
}

// The built-in tokenizers read the text where it lies, with the lock
// released; each row is checked to be UTF-8 just before it is scored, and the
// lowest bad row, whatever the number of workers, is the one reported.
Result<arrow::Float64Batch> score_in_place(const ScorerOptions& options, const arrow::TextColumn& references,
                                           const arrow::TextColumn& predictions, const char* reference_name,
                                           const char* prediction_name) {
    const size_t n = references.length();
    ResultColumns columns(options, n);
    arrow::LowestRow invalid;
    const TextRules rules = options.rules();
    const PreparedStore no_store;
    Result<engine::WorkerPool*> pool = boundary::worker_pool();
    if (!pool) return std::move(pool).take_error();
    Result<size_t> done = boundary::run_interruptible([&](engine::Interruption& interruption) {
        return engine::run_ranges(*pool.value(), n, [&](size_t start, size_t end) {
            arrow::TextColumn::Cursor ref_rows = references.cursor(start);
            arrow::TextColumn::Cursor pred_rows = predictions.cursor(start);
            scorer::Score scores[scorer::RougeConfig::kMaxTypes];
            bool zeros[scorer::RougeConfig::kMaxTypes];
            for (size_t row = start; row < end; ++row) {
                const std::optional<std::string_view> reference = ref_rows.next();
                const std::optional<std::string_view> prediction = pred_rows.next();
                if (invalid.failed_below(row) || interruption.stopped()) break;
                if (!reference || !prediction) continue;  // a null pair: null scores
                if (!arrow::is_valid_utf8(*reference) || !arrow::is_valid_utf8(*prediction)) {
                    invalid.offer(row);
                    break;
                }
                const PreparedText reference_text{.text = *reference};
                const PreparedText prediction_text{.text = *prediction};
                if (!score_prepared_pair(options, rules, no_store, std::span<const PreparedText>(&reference_text, 1),
                                         prediction_text, scores, zeros, scorer::StopSignal(interruption.flag()))) {
                    break;
                }
                columns.write(row, scores);
            }
            return end - start;
        }, &interruption);
    });
    if (!done) return std::move(done).take_error();
    if (const std::optional<size_t> row = invalid.lowest()) {
        const bool in_references = references.first_invalid_utf8(*row, *row + 1).has_value();
        const arrow::TextColumn& column = in_references ? references : predictions;
        return boundary::arrow_read_error(column.invalid_utf8_error(*row), in_references ? reference_name : prediction_name);
    }
    return columns.into_batch(arrow::pair_validity(references, predictions));
}

// A tokenizer of the caller's own, or NLTK's sentence splitter, needs each
// text as a str: rows are decoded (and so checked) with the lock held, then
// scored like any batch, a chunk at a time.
Result<arrow::Float64Batch> score_through_python(const ScorerOptions& options, const arrow::TextColumn& references,
                                                 const arrow::TextColumn& predictions, const char* reference_name,
                                                 const char* prediction_name) {
    const size_t n = references.length();
    PairResults results(n, options.config.size());
    PyRef empty = boundary::new_object_or_fail(PyUnicode_FromString(""));
    arrow::TextColumn::Cursor ref_rows = references.cursor(0);
    arrow::TextColumn::Cursor pred_rows = predictions.cursor(0);
    // Rows are read in order, one pair at a time.
    boundary::Status scored = score_in_chunks(options, n, results, [&](size_t row, PreparedPairs& pairs,
                                                                       TextPreparer& preparer) -> boundary::Status {
        const std::optional<std::string_view> texts[2] = {ref_rows.next(), pred_rows.next()};
        const bool null_pair = !texts[0] || !texts[1];
        for (size_t side = 0; side < 2; ++side) {
            const arrow::TextColumn& column = side == 0 ? references : predictions;
            const char* name = side == 0 ? reference_name : prediction_name;
            PyRef text = PyRef::borrow(empty.get());
            if (!null_pair) {
                text = PyRef(PyUnicode_DecodeUTF8(texts[side]->data(), static_cast<Py_ssize_t>(texts[side]->size()), "strict"));
                if (!text) {
                    if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return PyErr::fetch();
                    PyErr_Clear();
                    return boundary::arrow_read_error(column.invalid_utf8_error(row), name);
                }
            }
            // A null pair is scored as two empty texts, and reported null.
            Result<PreparedText> prepared = preparer.prepare(text.get(), name, static_cast<Py_ssize_t>(row));
            if (!prepared) return std::move(prepared).take_error();
            (side == 0 ? pairs.references : pairs.predictions).push_back(prepared.value());
        }
        return boundary::Unit{};
    });
    if (!scored) return std::move(scored).take_error();
    ResultColumns columns(options, n);
    for (size_t row = 0; row < n; ++row) columns.write(row, results.scores.data() + row * results.metrics);
    return columns.into_batch(arrow::pair_validity(references, predictions));
}

Result<arrow::Float64Batch> score_text_columns(const ScorerOptions& options, const arrow::TextColumn& references,
                                               const arrow::TextColumn& predictions, const char* reference_name,
                                               const char* prediction_name) {
    if (boundary::Status s = same_length(references.length(), predictions.length(), reference_name, prediction_name); !s) {
        return std::move(s).take_error();
    }
    if (boundary::Status s = check_result_memory(options, references.length()); !s) return std::move(s).take_error();
    const bool python_work = options.tokenizer == TokenizerKind::python ||
                             (options.split_sentences && options.config.needs_sentences());
    if (python_work) return score_through_python(options, references, predictions, reference_name, prediction_name);
    return score_in_place(options, references, predictions, reference_name, prediction_name);
}

Result<arrow::TextColumn> text_column(PyObject* exporter, const char* argument) {
    Result<std::shared_ptr<const arrow::ImportedData>> data = boundary::import_arrow(exporter, argument);
    if (!data) return std::move(data).take_error();
    arrow::ReadResult<arrow::TextColumn> column = arrow::TextColumn::read(std::move(data).take_value());
    if (!column.ok()) return boundary::arrow_read_error(column.error(), argument);
    return std::move(column).value();
}

Result<PyRef> score_arrow_as(PyObject* scorer, const ModuleState& state, PyObject* references, PyObject* predictions) {
    Result<const ScorerOptions*> options = usable_options(scorer);
    if (!options) return std::move(options).take_error();
    Result<arrow::TextColumn> reference_column = text_column(references, "references");
    if (!reference_column) return std::move(reference_column).take_error();
    Result<arrow::TextColumn> prediction_column = text_column(predictions, "predictions");
    if (!prediction_column) return std::move(prediction_column).take_error();
    Result<arrow::Float64Batch> batch = score_text_columns(*options.value(), reference_column.value(),
                                                           prediction_column.value(), "references", "predictions");
    if (!batch) return std::move(batch).take_error();
    return new_score_columns(state, std::move(batch).take_value());
}

// --- methods of RougeScorer -------------------------------------------------------

Result<PyRef> score_arrow_body(PyObject* self, PyTypeObject* defining_class, const BoundArguments& arguments) {
    return score_arrow_as(self, state_of_class(defining_class), arguments[0], arguments[1]);
}

Result<PyRef> score_columns_body(PyObject* self, PyTypeObject* defining_class, const BoundArguments& arguments) {
    Result<const ScorerOptions*> options = usable_options(self);
    if (!options) return std::move(options).take_error();
    Result<PairResults> scored = score_batch_pairs(*options.value(), arguments);
    if (!scored) return std::move(scored).take_error();
    const PairResults& results = scored.value();
    const size_t n = results.pairs();
    ResultColumns columns(*options.value(), n);
    for (size_t row = 0; row < n; ++row) columns.write(row, results.scores.data() + row * results.metrics);
    return new_score_columns(state_of_class(defining_class), columns.into_batch(nullptr));
}

// --- module functions ---------------------------------------------------------------

Result<PyRef> score_arrow_function_body(PyObject* module, const BoundArguments& arguments) {
    const ModuleState& state = state_of_module(module);
    return score_arrow_as(state.default_scorer, state, arguments[0], arguments[1]);
}

Result<PyRef> score_record_batch_body(PyObject* module, const BoundArguments& arguments) {
    const ModuleState& state = state_of_module(module);
    PyObject* scorer = arguments[3] == nullptr || arguments[3] == Py_None ? state.default_scorer : arguments[3];
    if (!PyObject_TypeCheck(scorer, reinterpret_cast<PyTypeObject*>(state.rouge_scorer_type))) {
        return boundary::annotate_argument_error("scorer", boundary::type_mismatch(scorer, "RougeScorer"));
    }
    Result<const ScorerOptions*> options = usable_options(scorer);
    if (!options) return std::move(options).take_error();
    Result<std::string_view> names[2] = {arguments.get<boundary::Text>(1), arguments.get<boundary::Text>(2)};
    for (Result<std::string_view>& name : names) {
        if (!name) return std::move(name).take_error();
    }
    Result<std::shared_ptr<const arrow::ImportedData>> data = boundary::import_arrow(arguments[0], "batch");
    if (!data) return std::move(data).take_error();
    arrow::ReadResult<arrow::TextColumn> references = arrow::TextColumn::read_column(data.value(), names[0].value());
    if (!references.ok()) return boundary::arrow_read_error(references.error(), "reference_column");
    arrow::ReadResult<arrow::TextColumn> predictions = arrow::TextColumn::read_column(data.value(), names[1].value());
    if (!predictions.ok()) return boundary::arrow_read_error(predictions.error(), "prediction_column");
    Result<arrow::Float64Batch> batch = score_text_columns(*options.value(), references.value(), predictions.value(),
                                                           "reference_column", "prediction_column");
    if (!batch) return std::move(batch).take_error();
    return new_score_columns(state, std::move(batch).take_value());
}

}  // namespace

constexpr boundary::Method kScoreColumnsMethod{
    .name = "score_columns",
    .signature = {.function_name = "RougeScorer.score_columns",
                  .parameters = {{"targets", &boundary::kTexts}, {"predictions", &boundary::kTexts}},
                  .required = 2,
                  .method = true},
    .doc = "score_columns($self, targets, predictions)\n--\n\n"
           "Score many pairs on all cores, as score_batch() does, but return the scores\n"
           "as ScoreColumns (three float64 columns per rouge type) instead of a dict per\n"
           "pair: the fast way to score large batches held in Python lists.",
    .body = score_columns_body,
};
static_assert(boundary::doc_matches_signature(kScoreColumnsMethod));

constexpr boundary::ModuleFunction kScoreArrowFunction{
    .signature = {.function_name = "score_arrow", .parameters = {{"references"}, {"predictions"}}, .required = 2},
    .doc = "score_arrow(references, predictions)\n--\n\n"
           "RougeScorer([\"rouge1\", \"rouge2\", \"rougeL\"]).score_arrow(references, predictions):\n"
           "score two equally long Arrow columns of text in place, into ScoreColumns.",
    .body = score_arrow_function_body,
    .receives_module = true,
};
static_assert(boundary::doc_matches_signature(kScoreArrowFunction));

constexpr boundary::ModuleFunction kScoreRecordBatchFunction{
    .signature = {.function_name = "score_record_batch",
                  .parameters = {{"batch"},
                                 {"reference_column", &boundary::kText},
                                 {"prediction_column", &boundary::kText},
                                 {"scorer"}},
                  .required = 3},
    .doc = "score_record_batch(batch, reference_column, prediction_column, scorer=None)\n--\n\n"
           "Score two text columns of an Arrow record batch (or table, or stream of\n"
           "batches) and return the scores as a record batch (ScoreColumns), one row\n"
           "per input row: the unit of work that dask's map_partitions, Ray's\n"
           "map_batches and Spark's mapInArrow hand out. scorer defaults to\n"
           "RougeScorer([\"rouge1\", \"rouge2\", \"rougeL\"]).",
    .body = score_record_batch_body,
    .receives_module = true,
};
static_assert(boundary::doc_matches_signature(kScoreRecordBatchFunction));

constexpr boundary::Method kScoreArrowMethod{
    .name = "score_arrow",
    .signature = {.function_name = "RougeScorer.score_arrow", .parameters = {{"references"}, {"predictions"}},
                  .required = 2, .method = true},
    .doc = "score_arrow($self, references, predictions)\n--\n\n"
           "Score two equally long Arrow columns of text (string, large_string or\n"
           "string_view; a pyarrow array or chunked array, a polars Series, anything\n"
           "with __arrow_c_stream__ or __arrow_c_array__), read in place with the GIL\n"
           "released. Returns ScoreColumns: three float64 columns per rouge type,\n"
           "null where either text is null.",
    .body = score_arrow_body,
};
static_assert(boundary::doc_matches_signature(kScoreArrowMethod));

}  // namespace tallygrams::companion
