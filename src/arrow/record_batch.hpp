// Record batches as the C interface carries them: a struct array ("+s")
// whose children are the columns, named by the children of its schema.
#pragma once

#include <cstddef>
#include <string_view>

#include "arrow/array_slice.hpp"
#include "arrow/c_data_interface.hpp"
#include "arrow/read_error.hpp"

namespace tallygrams::arrow {

// The index of the one column named `name` (compared byte for byte) among
// the children of a struct schema. Errors: not a struct (kUnsupportedType),
// no such column (kColumnNotFound, listing the names there are), or several
// (kDuplicateColumn).
ReadResult<size_t> find_column(const ArrowSchema& schema, std::string_view name);

// The rows of column `column` of one record batch, as a reader of the batch
// sees them: the struct's offset applies to the column as well, and a row
// the struct marks null is null in every column. `schema` is the batch's
// schema, already checked by find_column.
ReadResult<ArraySlice> column_slice(const ArrowSchema& schema, const ArrowArray& batch, size_t column);

}  // namespace tallygrams::arrow
