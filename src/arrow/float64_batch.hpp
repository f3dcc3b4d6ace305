// Result columns handed back as Arrow: a record batch of named float64
// columns, exported through the C data interface without copying a value.
//
// Columns share their buffers with every export made of them. Each exported
// array holds its own reference to the buffers it points at, so the batch,
// the exported struct and any child a consumer moved out of it can be
// released in any order and on any thread; the memory goes when the last of
// them does. The same batch can be exported any number of times.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "arrow/c_data_interface.hpp"
#include "arrow/owned_buffer.hpp"
#include "arrow/validity_bitmap.hpp"

namespace tallygrams::arrow {

class Float64Column {
public:
    // `values` holds `length` doubles (or nothing, for 0). `validity`, if
    // given, must be `length` rows long; a null row's value is never read.
    Float64Column(std::string name, OwnedBuffer values, size_t length,
                  std::shared_ptr<const ValidityBitmap> validity = nullptr);

    const std::string& name() const noexcept { return name_; }
    size_t length() const noexcept { return length_; }
    const double* values() const noexcept { return static_cast<const double*>(values_->data()); }
    const ValidityBitmap* validity() const noexcept { return validity_.get(); }
    size_t null_count() const noexcept { return validity_ ? validity_->null_count() : 0; }

private:
    friend class Float64Batch;
    std::string name_;
    std::shared_ptr<const OwnedBuffer> values_;
    size_t length_;
    std::shared_ptr<const ValidityBitmap> validity_;
};

class Float64Batch {
public:
    explicit Float64Batch(size_t length = 0) noexcept : length_(length) {}

    // Columns must have the batch's length and distinct names.
    void add_column(Float64Column column);

    size_t length() const noexcept { return length_; }
    size_t column_count() const noexcept { return columns_.size(); }
    const Float64Column& column(size_t i) const noexcept { return columns_[i]; }
    std::vector<std::string> column_names() const;
    // True when both batches have the same column names in the same order.
    bool same_columns_as(const Float64Batch& other) const noexcept;

    // The batch's type: a struct ("+s", no name) of one nullable float64
    // ("g") child per column, named as the column. Throws std::bad_alloc
    // without touching `out`.
    void export_schema(ArrowSchema* out) const;

    // The batch's data: a struct array without nulls whose children point at
    // the columns' buffers (each child with the exact null count of its
    // bitmap, or no bitmap when it has no nulls). Throws std::bad_alloc
    // without touching `out`.
    void export_array(ArrowArray* out) const;

private:
    size_t length_;
    std::vector<Float64Column> columns_;
};

// The type of a batch with these columns, as Float64Batch::export_schema
// gives it.
void export_float64_schema(const std::vector<std::string>& column_names, ArrowSchema* out);

}  // namespace tallygrams::arrow
