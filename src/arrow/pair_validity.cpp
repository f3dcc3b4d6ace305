#include "arrow/pair_validity.hpp"

#include "common/internal_failure.hpp"

namespace tallygrams::arrow {

namespace {

void clear_nulls_of(const TextColumn& column, ValidityBitmap& bitmap) {
    if (column.null_count() == 0) return;
    TextColumn::Cursor rows = column.cursor(0);
    for (size_t i = 0; i < column.length(); ++i) {
        if (!rows.next()) bitmap.set_null(i);
    }
}

}  // namespace

std::shared_ptr<const ValidityBitmap> pair_validity(const TextColumn& references, const TextColumn& predictions) {
    ensure(references.length() == predictions.length(), "paired columns differ in length");
    if (references.null_count() == 0 && predictions.null_count() == 0) return nullptr;
    auto bitmap = std::make_shared<ValidityBitmap>(references.length());
    clear_nulls_of(references, *bitmap);
    clear_nulls_of(predictions, *bitmap);
    return bitmap;
}

}  // namespace tallygrams::arrow
