// Result columns exported as Arrow: the structures against the interface's
// rules, zero copy, release in any order and exactly once, streams, and a
// round trip through the reader's record batch checks.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arrow/batch_stream.hpp"
#include "arrow/float64_batch.hpp"
#include "arrow/imported_data.hpp"
#include "arrow/owned.hpp"
#include "arrow/pair_validity.hpp"
#include "arrow/record_batch.hpp"
#include "arrow/validity_bits.hpp"
#include "oracles/arrow_fixtures.hpp"

namespace {

using namespace tallygrams::arrow;

int frees = 0;

struct CountingFree {
    void operator()(double* values) const noexcept {
        ++frees;
        std::free(values);
    }
};

// A column buffer as the batch runner makes them: calloc'd, freed with free.
OwnedBuffer column_buffer(const std::vector<double>& values) {
    std::unique_ptr<double[], CountingFree> memory(static_cast<double*>(std::calloc(values.size() + 1, sizeof(double))));
    if (!values.empty()) std::memcpy(memory.get(), values.data(), values.size() * sizeof(double));
    return OwnedBuffer(std::move(memory));
}

std::shared_ptr<const ValidityBitmap> nulls_at(size_t length, std::initializer_list<size_t> rows) {
    auto bitmap = std::make_shared<ValidityBitmap>(length);
    for (size_t row : rows) bitmap->set_null(row);
    return bitmap;
}

// Three columns of five rows, the second with nulls at rows 1 and 4.
Float64Batch sample_batch() {
    Float64Batch batch(5);
    batch.add_column(Float64Column("rouge1_precision", column_buffer({1, 0.5, 0.25, 0, 0.125}), 5));
    batch.add_column(Float64Column("rouge1_recall", column_buffer({0.1, -1, 0.3, 0.4, -1}), 5, nulls_at(5, {1, 4})));
    batch.add_column(Float64Column("rouge1_fmeasure", column_buffer({2, 3, 5, 7, 11}), 5, nulls_at(5, {})));
    return batch;
}

// Everything the C data interface requires of an exported float64 record
// batch, checked field by field.
void expect_conforming(const ArrowSchema& schema, const ArrowArray& array, const Float64Batch& batch) {
    ASSERT_NE(schema.release, nullptr);
    EXPECT_STREQ(schema.format, "+s");
    EXPECT_EQ(schema.metadata, nullptr);
    EXPECT_EQ(schema.dictionary, nullptr);
    EXPECT_EQ(schema.flags, 0);
    ASSERT_EQ(schema.n_children, static_cast<int64_t>(batch.column_count()));
    ASSERT_NE(array.release, nullptr);
    EXPECT_EQ(array.length, static_cast<int64_t>(batch.length()));
    EXPECT_EQ(array.offset, 0);
    EXPECT_EQ(array.null_count, 0);
    ASSERT_EQ(array.n_buffers, 1);
    ASSERT_NE(array.buffers, nullptr);
    EXPECT_EQ(array.buffers[0], nullptr) << "no struct-level nulls";
    EXPECT_EQ(array.dictionary, nullptr);
    ASSERT_EQ(array.n_children, schema.n_children);
    if (schema.n_children > 0) {
        ASSERT_NE(schema.children, nullptr);
        ASSERT_NE(array.children, nullptr);
    }
    for (int64_t k = 0; k < schema.n_children; ++k) {
        const Float64Column& column = batch.column(static_cast<size_t>(k));
        const ArrowSchema& field = *schema.children[k];
        const ArrowArray& child = *array.children[k];
        ASSERT_NE(field.release, nullptr);
        EXPECT_STREQ(field.format, "g");
        EXPECT_EQ(field.name, column.name());
        EXPECT_EQ(field.flags, ARROW_FLAG_NULLABLE);
        EXPECT_EQ(field.n_children, 0);
        EXPECT_EQ(field.metadata, nullptr);
        EXPECT_EQ(field.dictionary, nullptr);
        ASSERT_NE(child.release, nullptr);
        EXPECT_EQ(child.length, array.length);
        EXPECT_EQ(child.offset, 0);
        ASSERT_EQ(child.n_buffers, 2);
        EXPECT_EQ(child.n_children, 0);
        EXPECT_EQ(child.dictionary, nullptr);
        ASSERT_NE(child.buffers[1], nullptr) << "values, even for no rows";
        if (column.length() > 0) {
            EXPECT_EQ(child.buffers[1], column.values()) << "shared, not copied";
        }
        const auto* bits = static_cast<const uint8_t*>(child.buffers[0]);
        if (column.null_count() == 0) {
            EXPECT_EQ(bits, nullptr);
            EXPECT_EQ(child.null_count, 0);
        } else {
            ASSERT_NE(bits, nullptr);
            EXPECT_EQ(child.null_count, static_cast<int64_t>(column.length() - count_set_bits(bits, 0, column.length())));
        }
    }
}

TEST(ArrowFloat64Batch, ExportsConformingStructuresOverTheColumnsOwnMemory) {
    frees = 0;
    {
        const Float64Batch batch = sample_batch();
        OwnedSchema schema;
        OwnedArray array;
        batch.export_schema(schema.fill());
        batch.export_array(array.fill());
        expect_conforming(*schema, *array, batch);
        const auto* recall = static_cast<const double*>(array->children[1]->buffers[1]);
        EXPECT_EQ(recall[2], 0.3);
        const auto* bits = static_cast<const uint8_t*>(array->children[1]->buffers[0]);
        EXPECT_FALSE(bit_is_set(bits, 1));
        EXPECT_TRUE(bit_is_set(bits, 2));
        EXPECT_FALSE(bit_is_set(bits, 4));
    }
    EXPECT_EQ(frees, 3);
}

// A consumer may keep a child it moved out of the struct and release the
// rest; the producer (the batch) may be gone before either.
TEST(ArrowFloat64Batch, ExportsOutliveTheBatchAndEachOtherInAnyOrder) {
    frees = 0;
    ArrowArray first{};
    ArrowArray second{};
    ArrowSchema schema{};
    {
        const Float64Batch batch = sample_batch();
        batch.export_array(&first);
        batch.export_array(&second);
        batch.export_schema(&schema);
    }
    EXPECT_EQ(frees, 0);
    // Move the second column out of the first export, then release the rest.
    ArrowArray moved = *first.children[1];
    first.children[1]->release = nullptr;
    first.release(&first);
    EXPECT_EQ(first.release, nullptr);
    EXPECT_EQ(frees, 0);
    const auto* recall = static_cast<const double*>(moved.buffers[1]);
    EXPECT_EQ(recall[3], 0.4);
    // Likewise for a schema child, whose name must survive its parent.
    ArrowSchema field = *schema.children[2];
    schema.children[2]->release = nullptr;
    schema.release(&schema);
    EXPECT_STREQ(field.name, "rouge1_fmeasure");
    field.release(&field);

    second.release(&second);
    EXPECT_EQ(frees, 2) << "the moved column is still held";
    moved.release(&moved);
    EXPECT_EQ(frees, 3);
}

TEST(ArrowFloat64Batch, EmptyBatchesStillHaveValueBuffers) {
    Float64Batch batch(0);
    batch.add_column(Float64Column("rouge2_recall", OwnedBuffer(), 0));
    OwnedSchema schema;
    OwnedArray array;
    batch.export_schema(schema.fill());
    batch.export_array(array.fill());
    expect_conforming(*schema, *array, batch);
    EXPECT_EQ(array->length, 0);
}

// What the reader accepts as a record batch, the writer exports.
TEST(ArrowFloat64Batch, RoundTripsThroughTheRecordBatchReader) {
    const Float64Batch batch = sample_batch();
    OwnedSchema schema;
    OwnedArray array;
    batch.export_schema(schema.fill());
    batch.export_array(array.fill());
    auto data = ImportedData::from_array(std::move(schema), std::move(array));
    ASSERT_TRUE(data.ok()) << data.error().message;
    const ArrowSchema& imported_schema = data.value()->schema();
    for (size_t k = 0; k < batch.column_count(); ++k) {
        const Float64Column& column = batch.column(k);
        auto index = find_column(imported_schema, column.name());
        ASSERT_TRUE(index.ok()) << index.error().message;
        EXPECT_EQ(index.value(), k);
        auto slice = column_slice(imported_schema, data.value()->chunk(0), index.value());
        ASSERT_TRUE(slice.ok()) << slice.error().message;
        ASSERT_TRUE(check_array_layout(*slice.value().array, {2, 2}, 0).ok());
        const auto* values = static_cast<const double*>(slice.value().array->buffers[1]);
        const auto* bits = static_cast<const uint8_t*>(slice.value().array->buffers[0]);
        for (size_t i = 0; i < column.length(); ++i) {
            const bool valid = column.validity() == nullptr || bit_is_set(column.validity()->bits(), i);
            EXPECT_EQ(bits == nullptr || bit_is_set(bits, static_cast<size_t>(slice.value().offset) + i), valid);
            if (valid) {
                EXPECT_EQ(values[slice.value().offset + static_cast<int64_t>(i)], column.values()[i]);
            }
        }
    }
    auto missing = find_column(imported_schema, "rougeLsum_recall");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ReadErrorKind::kColumnNotFound);
}

TEST(ArrowBatchStream, YieldsEachBatchThenTheEndAndLetsGoOfWhatItYielded) {
    frees = 0;
    std::vector<Float64Batch> batches;
    for (size_t length : {2u, 0u, 3u}) {
        Float64Batch batch(length);
        batch.add_column(Float64Column("rougeL_fmeasure", column_buffer(std::vector<double>(length, double(length))),
                                       length));
        batches.push_back(std::move(batch));
    }
    OwnedStream stream;
    export_stream(std::move(batches), stream.fill());
    ArrowArrayStream* s = stream.get();
    for (int twice = 0; twice < 2; ++twice) {
        OwnedSchema schema;
        ASSERT_EQ(s->get_schema(s, schema.fill()), 0);
        EXPECT_STREQ(schema->format, "+s");
        ASSERT_EQ(schema->n_children, 1);
        EXPECT_STREQ(schema->children[0]->name, "rougeL_fmeasure");
    }
    std::vector<OwnedArray> yielded;
    for (int64_t length : {2, 0, 3}) {
        OwnedArray chunk;
        ASSERT_EQ(s->get_next(s, chunk.fill()), 0);
        ASSERT_FALSE(chunk.released());
        EXPECT_EQ(chunk->length, length);
        EXPECT_EQ(static_cast<const double*>(chunk->children[0]->buffers[1])[0], length > 0 ? double(length) : 0.0);
        yielded.push_back(std::move(chunk));
    }
    for (int again = 0; again < 2; ++again) {
        OwnedArray end;
        ASSERT_EQ(s->get_next(s, end.fill()), 0);
        EXPECT_TRUE(end.released());
    }
    EXPECT_EQ(s->get_last_error(s), nullptr);
    stream.reset();
    EXPECT_EQ(frees, 0) << "the yielded batches are still held";
    yielded.clear();
    EXPECT_EQ(frees, 3);
}

TEST(ArrowBatchStream, ReleasedUnreadStreamsFreeEverything) {
    frees = 0;
    std::vector<Float64Batch> batches;
    batches.push_back(sample_batch());
    batches.push_back(sample_batch());
    OwnedStream stream;
    export_stream(std::move(batches), stream.fill());
    stream.reset();
    EXPECT_EQ(frees, 6);
}

TEST(ArrowPairValidity, NullWhereEitherSideIsNull) {
    using namespace arrow_fixtures;
    Releases releases;
    auto read = [&](const Rows& rows, TextType type) {
        ArrowSchema schema = text_schema(type, releases);
        ArrowArray array = text_array(rows, type, releases, {3, 0});
        auto data = ImportedData::from_array(OwnedSchema::take(&schema), OwnedArray::take(&array));
        return std::move(TextColumn::read(std::move(data).value())).value();
    };
    const TextColumn references = read({"a", std::nullopt, "c", "d", "e", "f", "g", "h", "i", "j"}, TextType::kString);
    const TextColumn predictions = read({"a", "b", "c", std::nullopt, "e", "f", "g", "h", "i", std::nullopt}, TextType::kStringView);
    const TextColumn full = read(Rows(10, "x"), TextType::kLargeString);
    const auto validity = pair_validity(references, predictions);
    ASSERT_NE(validity, nullptr);
    EXPECT_EQ(validity->null_count(), 3u);
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(bit_is_set(validity->bits(), i), i != 1 && i != 3 && i != 9) << i;
    EXPECT_EQ(pair_validity(full, full), nullptr);
    EXPECT_EQ(pair_validity(references, full)->null_count(), 1u);
}

TEST(ArrowValidityBitmap, CountsEachNullOnceAndPadsWithZeros) {
    ValidityBitmap bitmap(13);
    bitmap.set_null(12);
    bitmap.set_null(12);
    bitmap.set_null(0);
    EXPECT_EQ(bitmap.null_count(), 2u);
    EXPECT_EQ(count_set_bits(bitmap.bits(), 0, 13), 11u);
    EXPECT_EQ(count_set_bits(bitmap.bits(), 13, 64 * 8 - 13), 0u);
}

}  // namespace
