// Scoring columns of text held as Arrow data (a pyarrow array or column, a
// polars Series, a record batch's columns) in place, and columns of texts
// held in Python sequences, into ScoreColumns.
#pragma once

#include "boundary/method_record.hpp"
#include "boundary/module_function.hpp"

namespace tallygrams::companion {

// RougeScorer.score_arrow(references, predictions)
extern const boundary::Method kScoreArrowMethod;
// RougeScorer.score_columns(targets, predictions)
extern const boundary::Method kScoreColumnsMethod;
// score_arrow(references, predictions), with rouge1, rouge2 and rougeL
extern const boundary::ModuleFunction kScoreArrowFunction;
// score_record_batch(batch, reference_column, prediction_column, scorer=None)
extern const boundary::ModuleFunction kScoreRecordBatchFunction;

}  // namespace tallygrams::companion
