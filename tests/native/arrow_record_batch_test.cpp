// Text columns picked by name out of record batches (struct arrays), alone
// or as a stream of batches.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "arrow/imported_data.hpp"
#include "arrow/owned.hpp"
#include "arrow/text_column.hpp"
#include "oracles/arrow_fixtures.hpp"

namespace {

using namespace arrow_fixtures;
using tallygrams::arrow::ImportedData;
using tallygrams::arrow::ReadErrorKind;
using tallygrams::arrow::OwnedArray;
using tallygrams::arrow::OwnedSchema;
using tallygrams::arrow::OwnedStream;
using tallygrams::arrow::TextColumn;

std::vector<ArrowSchema> batch_fields(Releases& releases) {
    std::vector<ArrowSchema> fields;
    fields.push_back(text_schema(TextType::kString, releases, "reference"));
    fields.push_back(text_schema(TextType::kStringView, releases, "prediction"));
    fields.push_back(make_schema("i", "id", {}, releases));
    return fields;
}

ArrowArray int32_array(std::vector<int32_t> values, Releases& releases) {
    ArrayParts parts;
    parts.length = static_cast<int64_t>(values.size());
    parts.buffers = {std::nullopt, bytes_of(values)};
    return make_array(std::move(parts), releases);
}

std::shared_ptr<const ImportedData> import(ArrowSchema schema, ArrowArray array) {
    auto data = ImportedData::from_array(OwnedSchema::take(&schema), OwnedArray::take(&array));
    EXPECT_TRUE(data.ok());
    return data.ok() ? data.value() : nullptr;
}

Rows read_all(const TextColumn& column) {
    Rows rows;
    TextColumn::Cursor cursor = column.cursor(0);
    for (size_t i = 0; i < column.length(); ++i) {
        const auto text = cursor.next();
        rows.push_back(text ? std::optional<std::string>(*text) : std::nullopt);
    }
    return rows;
}

TEST(ArrowRecordBatch, ColumnsByNameShareTheBatchUntilBothAreGone) {
    Releases releases;
    const Rows references = {"the cat sat", std::nullopt, "a much longer reference text"};
    const Rows predictions = {"the cat", "a dog", std::nullopt};
    std::vector<ArrowArray> columns;
    columns.push_back(text_array(references, TextType::kString, releases));
    columns.push_back(text_array(predictions, TextType::kStringView, releases));
    columns.push_back(int32_array({1, 2, 3}, releases));
    auto data = import(make_schema("+s", "", batch_fields(releases), releases),
                       struct_array(3, std::move(columns), releases));
    {
        auto reference = TextColumn::read_column(data, "reference");
        auto prediction = TextColumn::read_column(data, "prediction");
        ASSERT_TRUE(reference.ok()) << reference.error().message;
        ASSERT_TRUE(prediction.ok()) << prediction.error().message;
        data.reset();
        EXPECT_EQ(read_all(reference.value()), references);
        EXPECT_EQ(read_all(prediction.value()), predictions);
        EXPECT_EQ(releases.arrays, 0);
    }
    // The batch and its children (released by the batch) go together.
    EXPECT_EQ(releases.arrays, 4);
    EXPECT_EQ(releases.schemas, 4);
}

TEST(ArrowRecordBatch, NamesMustMatchExactlyOneColumn) {
    Releases releases;
    std::vector<ArrowSchema> fields = batch_fields(releases);
    fields.push_back(text_schema(TextType::kString, releases, "reference"));
    std::vector<ArrowArray> columns;
    for (int i = 0; i < 2; ++i) columns.push_back(text_array({"a"}, TextType::kString, releases));
    columns.push_back(int32_array({1}, releases));
    columns.push_back(text_array({"b"}, TextType::kString, releases));
    auto data = import(make_schema("+s", "", std::move(fields), releases), struct_array(1, std::move(columns), releases));

    auto duplicate = TextColumn::read_column(data, "reference");
    ASSERT_FALSE(duplicate.ok());
    EXPECT_EQ(duplicate.error().kind, ReadErrorKind::kDuplicateColumn);
    EXPECT_NE(duplicate.error().message.find(R"(2 columns of the record batch are named "reference")"), std::string::npos);

    auto missing = TextColumn::read_column(data, "Prediction");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, ReadErrorKind::kColumnNotFound);
    EXPECT_EQ(missing.error().message, R"(the record batch has no column named "Prediction"; its columns are )"
                                       R"("reference", "prediction", "id", "reference")");

    auto not_text = TextColumn::read_column(data, "id");
    ASSERT_FALSE(not_text.ok());
    EXPECT_EQ(not_text.error().kind, ReadErrorKind::kUnsupportedType);
    EXPECT_NE(not_text.error().message.find(R"(column "id": expected text)"), std::string::npos);
    EXPECT_NE(not_text.error().message.find(R"(found int32 ("i"))"), std::string::npos);
}

TEST(ArrowRecordBatch, OnlyAStructIsARecordBatch) {
    Releases releases;
    auto data = import(text_schema(TextType::kString, releases), text_array({"a"}, TextType::kString, releases));
    auto column = TextColumn::read_column(data, "a");
    ASSERT_FALSE(column.ok());
    EXPECT_EQ(column.error().kind, ReadErrorKind::kUnsupportedType);
    EXPECT_EQ(column.error().message, R"(expected a record batch (a struct array of columns), found string ("u"))");
}

// A sliced struct: its offset applies to its children on top of their own,
// and its own nulls make every column null.
TEST(ArrowRecordBatch, StructOffsetAndNullsApplyToItsColumns) {
    Releases releases;
    const Rows words = {"zero", "one", "two", std::nullopt, "four", "five", "six"};
    std::vector<ArrowArray> columns;
    // Both text columns hold `words` as their rows 0..6, the first as a
    // slice of a larger array.
    columns.push_back(text_array(words, TextType::kString, releases, {1, 2}));
    columns.push_back(text_array(words, TextType::kStringView, releases));
    columns.push_back(int32_array({0, 1, 2, 3, 4, 5, 6}, releases));
    // The struct shows its rows 2..5, of which row 4 is null.
    const Rows struct_rows = {"", "", "", "", std::nullopt, ""};
    auto data = import(make_schema("+s", "", batch_fields(releases), releases),
                       struct_array(4, std::move(columns), releases, 2, validity_of(struct_rows), 1));
    const Rows expected = {"two", std::nullopt, std::nullopt, "five"};
    for (const char* name : {"reference", "prediction"}) {
        auto column = TextColumn::read_column(data, name);
        ASSERT_TRUE(column.ok()) << column.error().message;
        EXPECT_EQ(read_all(column.value()), expected) << name;
        EXPECT_EQ(column.value().null_count(), 2u);
    }
}

TEST(ArrowRecordBatch, MalformedBatchesAreErrors) {
    struct Case {
        const char* what;
        int64_t child_length;
        bool drop_validity;
        const char* message;
    };
    const Case cases[] = {
        {"a column shorter than the batch", 5, false, R"(column "reference" has 5 rows where the record batch needs 6)"},
        {"nulls without a bitmap", 6, true, "the record batch has 1 null rows but no validity bitmap"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Releases releases;
        std::vector<ArrowArray> columns;
        columns.push_back(text_array(Rows(static_cast<size_t>(c.child_length), "x"), TextType::kString, releases));
        columns.push_back(text_array(Rows(6, "y"), TextType::kStringView, releases));
        columns.push_back(int32_array(std::vector<int32_t>(6), releases));
        std::optional<Bytes> validity = validity_of({"", "", "", "", std::nullopt, ""});
        if (c.drop_validity) validity.reset();
        auto data = import(make_schema("+s", "", batch_fields(releases), releases),
                           struct_array(4, std::move(columns), releases, 2, validity, 1));
        auto column = TextColumn::read_column(data, "reference");
        ASSERT_FALSE(column.ok());
        EXPECT_EQ(column.error().kind, ReadErrorKind::kInvalidData);
        EXPECT_NE(column.error().message.find(c.message), std::string::npos) << column.error().message;
    }
}

TEST(ArrowRecordBatch, StreamsOfBatches) {
    Releases releases;
    StreamParts parts;
    parts.schema = make_schema("+s", "", batch_fields(releases), releases);
    Rows all_references;
    for (int batch = 0; batch < 3; ++batch) {
        const Rows references(static_cast<size_t>(batch + 1), "reference " + std::to_string(batch));
        const Rows predictions(static_cast<size_t>(batch + 1), "prediction " + std::to_string(batch));
        all_references.insert(all_references.end(), references.begin(), references.end());
        std::vector<ArrowArray> columns;
        columns.push_back(text_array(references, TextType::kString, releases));
        columns.push_back(text_array(predictions, TextType::kStringView, releases));
        columns.push_back(int32_array(std::vector<int32_t>(references.size()), releases));
        parts.chunks.push_back(struct_array(static_cast<int64_t>(references.size()), std::move(columns), releases));
    }
    ArrowArrayStream stream = make_stream(std::move(parts), releases);
    {
        auto data = ImportedData::from_stream(OwnedStream::take(&stream));
        ASSERT_TRUE(data.ok()) << data.error().message;
        auto reference = TextColumn::read_column(data.value(), "reference");
        auto prediction = TextColumn::read_column(data.value(), "prediction");
        ASSERT_TRUE(reference.ok()) << reference.error().message;
        ASSERT_TRUE(prediction.ok()) << prediction.error().message;
        EXPECT_EQ(read_all(reference.value()), all_references);
        EXPECT_EQ(prediction.value().row(5), "prediction 2");
    }
    EXPECT_EQ(releases.arrays, 3 * 4);
    EXPECT_EQ(releases.streams, 1);
}

}  // namespace
