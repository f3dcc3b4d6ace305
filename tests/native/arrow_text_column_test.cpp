// Reading text columns from hand-made Arrow arrays and streams: every
// layout, slicing, chunking and null representation, and every way the
// structures can be malformed.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <random>
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
using tallygrams::arrow::ReadResult;
using tallygrams::arrow::OwnedArray;
using tallygrams::arrow::OwnedSchema;
using tallygrams::arrow::OwnedStream;
using tallygrams::arrow::TextColumn;

constexpr TextType kAllTypes[] = {TextType::kString, TextType::kLargeString, TextType::kStringView};

ReadResult<TextColumn> read_array(ArrowSchema schema, ArrowArray array) {
    auto data = ImportedData::from_array(OwnedSchema::take(&schema), OwnedArray::take(&array));
    if (!data.ok()) return std::move(data).error();
    return TextColumn::read(std::move(data).value());
}

ReadResult<TextColumn> read_stream(StreamParts parts, Releases& releases) {
    ArrowArrayStream stream = make_stream(std::move(parts), releases);
    auto data = ImportedData::from_stream(OwnedStream::take(&stream));
    if (!data.ok()) return std::move(data).error();
    return TextColumn::read(std::move(data).value());
}

// Every row read at random and through a cursor started at every row.
void expect_rows(const TextColumn& column, const Rows& expected) {
    ASSERT_EQ(column.length(), expected.size());
    EXPECT_EQ(column.null_count(), static_cast<size_t>(nulls_in(expected)));
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(column.row(i), expected[i]) << "row " << i;
    for (size_t start = 0; start <= expected.size(); ++start) {
        TextColumn::Cursor cursor = column.cursor(start);
        for (size_t i = start; i < expected.size(); ++i) {
            ASSERT_EQ(cursor.next(), expected[i]) << "row " << i << " from a cursor started at " << start;
        }
    }
}

std::string expect_error(const ReadResult<TextColumn>& result, ReadErrorKind kind) {
    EXPECT_FALSE(result.ok());
    if (result.ok()) return "";
    EXPECT_EQ(result.error().kind, kind) << result.error().message;
    return result.error().message;
}

const Rows kMixedRows = {
    "The cat sat.",
    std::nullopt,
    "",
    "exactly 12 b",                           // the longest inline view
    "thirteen byte",                          // the shortest out-of-line view
    "caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80",  // 2-, 3- and 4-byte sequences
    std::nullopt,
    std::string("nul\0inside", 10),
    std::string(300, 'w'),
    "",
};

// ------------------------------------------------------------------ layouts

TEST(ArrowTextColumn, ReadsEveryLayoutWithAndWithoutSlicing) {
    for (TextType type : kAllTypes) {
        for (size_t before : {0u, 1u, 7u, 13u}) {
            for (size_t after : {0u, 5u}) {
                SCOPED_TRACE(std::string(format_of(type)) + " sliced at " + std::to_string(before) + "+" +
                             std::to_string(after));
                Releases releases;
                {
                    auto column = read_array(text_schema(type, releases),
                                             text_array(kMixedRows, type, releases, {before, after}));
                    ASSERT_TRUE(column.ok()) << column.error().message;
                    EXPECT_EQ(column.value().type(), type);
                    expect_rows(column.value(), kMixedRows);
                    EXPECT_EQ(releases.arrays, 0) << "released while the column reads it";
                }
                EXPECT_EQ(releases.arrays, 1);
                EXPECT_EQ(releases.schemas, 1);
            }
        }
    }
}

TEST(ArrowTextColumn, NullsComeOnlyFromBitmapsWhateverTheCount) {
    const Rows no_nulls = {"a", "bb", "", "a longer text than twelve"};
    for (TextType type : kAllTypes) {
        SCOPED_TRACE(format_of(type));
        Releases releases;
        // No bitmap, count 0 or unknown: every row holds text.
        for (bool unknown : {false, true}) {
            auto column = read_array(text_schema(type, releases),
                                     text_array(no_nulls, type, releases, {.bitmap = false, .unknown_null_count = unknown}));
            ASSERT_TRUE(column.ok()) << column.error().message;
            expect_rows(column.value(), no_nulls);
        }
        // A bitmap with the count not computed.
        auto unknown = read_array(text_schema(type, releases),
                                  text_array(kMixedRows, type, releases, {3, 0, true, true}));
        ASSERT_TRUE(unknown.ok()) << unknown.error().message;
        expect_rows(unknown.value(), kMixedRows);
        // A count above 0 promises a bitmap.
        ArrowArray missing = text_array(kMixedRows, type, releases, {.bitmap = false});
        expect_error(read_array(text_schema(type, releases), missing), ReadErrorKind::kInvalidData);
    }
}

TEST(ArrowTextColumn, EmptyArraysNeedNoBuffers) {
    for (TextType type : kAllTypes) {
        SCOPED_TRACE(format_of(type));
        Releases releases;
        ArrayParts parts;
        parts.buffers.assign(3, std::nullopt);
        auto column = read_array(text_schema(type, releases), make_array(std::move(parts), releases));
        ASSERT_TRUE(column.ok()) << column.error().message;
        EXPECT_EQ(column.value().length(), 0u);
        EXPECT_EQ(column.value().first_invalid_utf8(0, 0), std::nullopt);
    }
}

TEST(ArrowTextColumn, AllEmptyTextsNeedNoDataBuffer) {
    const Rows empties = {"", "", std::nullopt, ""};
    Releases releases;
    ArrayParts parts;
    parts.length = 4;
    parts.null_count = 1;
    parts.buffers = {validity_of(empties), bytes_of(std::vector<int32_t>{0, 0, 0, 0, 0}), std::nullopt};
    auto column = read_array(text_schema(TextType::kString, releases), make_array(std::move(parts), releases));
    ASSERT_TRUE(column.ok()) << column.error().message;
    expect_rows(column.value(), empties);
}

// ------------------------------------------------------------------ chunks

// The same rows cut into chunks in several ways, empty chunks included,
// each chunk itself a slice of a larger array.
TEST(ArrowTextColumn, StreamsOfChunksReadAsOneColumn) {
    Rows rows;
    for (int i = 0; i < 40; ++i) {
        if (i % 7 == 3) {
            rows.push_back(std::nullopt);
        } else {
            rows.push_back("row " + std::to_string(i) + std::string(static_cast<size_t>(i % 17), 'z'));
        }
    }
    const std::vector<std::vector<size_t>> cuts = {{}, {40}, {0, 40, 0}, {1, 1, 1, 37}, {13, 0, 0, 27}, {20, 20},
                                                   {39, 1}, {5, 5, 5, 5, 5, 5, 5, 5, 0}};
    for (TextType type : kAllTypes) {
        for (const auto& cut : cuts) {
            SCOPED_TRACE(std::string(format_of(type)) + " cut into " + std::to_string(cut.size()) + " chunks");
            Releases releases;
            StreamParts parts;
    parts.schema = text_schema(type, releases);
            size_t start = 0;
            for (size_t size : cut) {
                const Rows chunk(rows.begin() + static_cast<long>(start), rows.begin() + static_cast<long>(start + size));
                parts.chunks.push_back(text_array(chunk, type, releases, {start % 3, 2}));
                start += size;
            }
            const Rows expected(rows.begin(), rows.begin() + static_cast<long>(start));
            {
                auto column = read_stream(std::move(parts), releases);
                ASSERT_TRUE(column.ok()) << column.error().message;
                expect_rows(column.value(), expected);
                EXPECT_EQ(releases.streams, 1) << "the stream goes once drained";
                EXPECT_EQ(releases.arrays, 0);
            }
            EXPECT_EQ(releases.arrays, static_cast<int>(cut.size()));
            EXPECT_EQ(releases.streams, 1);
        }
    }
}

TEST(ArrowTextColumn, StreamFailuresAreReportedAndEverythingIsReleasedOnce) {
    for (int fail_at : {-1, 0, 2}) {
        for (bool with_message : {true, false}) {
            SCOPED_TRACE("failing at " + std::to_string(fail_at));
            Releases releases;
            StreamParts parts;
    parts.schema = text_schema(TextType::kString, releases);
            for (int i = 0; i < 4; ++i) parts.chunks.push_back(text_array({"x", "y"}, TextType::kString, releases));
            parts.fail_at = fail_at;
            parts.error_code = EIO;
            if (with_message) parts.error_message = "disk on fire";
            auto column = read_stream(std::move(parts), releases);
            ASSERT_FALSE(column.ok());
            EXPECT_EQ(column.error().kind, ReadErrorKind::kStreamFailed);
            EXPECT_EQ(column.error().code, EIO);
            const std::string& message = column.error().message;
            EXPECT_NE(message.find(fail_at < 0 ? "schema" : "chunk " + std::to_string(fail_at)), std::string::npos)
                << message;
            EXPECT_NE(message.find(with_message ? "disk on fire" : "error 5"), std::string::npos) << message;
            // Chunks taken before the failure, those left in the stream, the
            // stream and its schemas: each released exactly once.
            EXPECT_EQ(releases.arrays, 4);
            EXPECT_EQ(releases.streams, 1);
            EXPECT_EQ(releases.schemas, fail_at < 0 ? 1 : 2);
        }
    }
}

TEST(ArrowTextColumn, ChunksMustAllBeValid) {
    Releases releases;
    StreamParts parts;
    parts.schema = text_schema(TextType::kString, releases);
    parts.chunks.push_back(text_array({"fine"}, TextType::kString, releases));
    ArrayParts broken;
    broken.length = 2;
    broken.buffers = {std::nullopt, bytes_of(std::vector<int32_t>{0, 3, 1}), Bytes{'a', 'b', 'c'}};
    parts.chunks.push_back(make_array(std::move(broken), releases));
    const std::string message = expect_error(read_stream(std::move(parts), releases), ReadErrorKind::kInvalidData);
    EXPECT_NE(message.find("chunk 1 of the stream"), std::string::npos) << message;
    EXPECT_NE(message.find("the offsets decrease at row 2"), std::string::npos) << message << " (row of the column)";
    EXPECT_EQ(releases.arrays, 2);
}

TEST(ArrowTextColumn, EmptyStreams) {
    for (size_t empty_chunks : {0u, 3u}) {
        Releases releases;
        StreamParts parts;
    parts.schema = text_schema(TextType::kStringView, releases);
        for (size_t i = 0; i < empty_chunks; ++i) parts.chunks.push_back(text_array({}, TextType::kStringView, releases));
        auto column = read_stream(std::move(parts), releases);
        ASSERT_TRUE(column.ok()) << column.error().message;
        EXPECT_EQ(column.value().length(), 0u);
    }
}

// ------------------------------------------------------------------ structure

struct Breakage {
    const char* what;
    TextType type;
    void (*apply)(ArrayParts&);
    const char* message;
};

ArrayParts sound_parts(TextType type) {
    const Rows rows = {"alpha", std::nullopt, "a text longer than twelve bytes", "omega"};
    ArrayParts parts;
    parts.length = 4;
    parts.null_count = 1;
    parts.buffers.push_back(validity_of(rows));
    for (auto& buffer : text_buffers(rows, type)) parts.buffers.push_back(std::move(buffer));
    return parts;
}

template <class T>
void poke(ArrayParts& parts, size_t buffer, size_t index, T value) {
    std::memcpy(parts.buffers[buffer]->data() + index * sizeof(T), &value, sizeof value);
}

// Row 2 of sound_parts is the view that lives in a data buffer.
constexpr size_t kLongView = 2 * 16;

const Breakage kBreakages[] = {
    {"negative length", TextType::kString, [](ArrayParts& p) { p.length = -1; }, "length -1 is out of range"},
    {"negative offset", TextType::kString, [](ArrayParts& p) { p.offset = -2; }, "offset -2 is out of range"},
    {"absurd offset", TextType::kString, [](ArrayParts& p) { p.offset = int64_t{1} << 62; }, "out of range"},
    {"null count above length", TextType::kString, [](ArrayParts& p) { p.null_count = 5; }, "null count 5"},
    {"null count below -1", TextType::kString, [](ArrayParts& p) { p.null_count = -2; }, "null count -2"},
    {"too few buffers", TextType::kString, [](ArrayParts& p) { p.buffers.pop_back(); }, "2 buffers where its type has 3"},
    {"too many buffers", TextType::kLargeString, [](ArrayParts& p) { p.buffers.push_back(Bytes{}); }, "4 buffers where its type has 3"},
    {"views without sizes", TextType::kStringView, [](ArrayParts& p) { p.buffers.resize(2); }, "2 buffers where its type has at least 3"},
    {"missing offsets", TextType::kString, [](ArrayParts& p) { p.buffers[1].reset(); }, "offsets buffer is missing"},
    {"missing data", TextType::kLargeString, [](ArrayParts& p) { p.buffers[2].reset(); }, "data buffer is missing"},
    {"negative first offset", TextType::kString, [](ArrayParts& p) { poke<int32_t>(p, 1, 0, -1); }, "offset of row 0 is negative"},
    {"decreasing offsets", TextType::kLargeString, [](ArrayParts& p) { poke<int64_t>(p, 1, 3, 2); }, "offsets decrease at row 2"},
    {"decreasing last offset", TextType::kString, [](ArrayParts& p) { poke<int32_t>(p, 1, 4, 0); }, "offsets decrease at row 3"},
    {"missing views", TextType::kStringView, [](ArrayParts& p) { p.buffers[1].reset(); }, "views buffer is missing"},
    {"missing sizes", TextType::kStringView, [](ArrayParts& p) { p.buffers[4].reset(); }, "sizes is missing"},
    {"negative size", TextType::kStringView, [](ArrayParts& p) { poke<int64_t>(p, 4, 1, -1); }, "data buffer 1 has a negative size"},
    {"missing data buffer", TextType::kStringView, [](ArrayParts& p) { p.buffers[2].reset(); }, "data buffer 0 is missing"},
    {"negative view length", TextType::kStringView, [](ArrayParts& p) { poke<int32_t>(p, 1, 0, -3); }, "view of row 0 has a negative length"},
    {"view into no buffer", TextType::kStringView, [](ArrayParts& p) { poke<int32_t>(p, 1, kLongView / 4 + 2, 2); }, "names data buffer 2 of 2"},
    {"view into a negative buffer", TextType::kStringView, [](ArrayParts& p) { poke<int32_t>(p, 1, kLongView / 4 + 2, -1); }, "names data buffer -1"},
    {"view past its buffer", TextType::kStringView, [](ArrayParts& p) { poke<int32_t>(p, 1, kLongView / 4 + 3, 4); }, "lies outside data buffer 0"},
    {"view at a negative offset", TextType::kStringView, [](ArrayParts& p) { poke<int32_t>(p, 1, kLongView / 4 + 3, -1); }, "lies outside data buffer 0"},
    {"buffer shrunk under a view", TextType::kStringView, [](ArrayParts& p) { poke<int64_t>(p, 4, 0, 10); }, "lies outside data buffer 0"},
    {"a dictionary on a plain array", TextType::kString, nullptr, "has a dictionary"},
};

TEST(ArrowTextColumn, MalformedArraysAreErrorsNamingTheFault) {
    for (const Breakage& breakage : kBreakages) {
        SCOPED_TRACE(breakage.what);
        Releases releases;
        ArrayParts parts = sound_parts(breakage.type);
        ArrowArray dictionary = text_array({"d"}, TextType::kString, releases);
        if (breakage.apply != nullptr) breakage.apply(parts);
        ArrowArray array = make_array(std::move(parts), releases);
        if (breakage.apply == nullptr) array.dictionary = &dictionary;
        const std::string message =
            expect_error(read_array(text_schema(breakage.type, releases), array), ReadErrorKind::kInvalidData);
        EXPECT_NE(message.find(breakage.message), std::string::npos) << message;
        EXPECT_EQ(releases.arrays, 1) << "the broken array is released all the same";
        dictionary.release(&dictionary);
    }
}

TEST(ArrowTextColumn, ViewsOfNullRowsAreNeverRead) {
    ArrayParts parts = sound_parts(TextType::kStringView);
    // Row 1 is null: a negative length and a buffer that does not exist.
    poke<int32_t>(parts, 1, 16 / 4, -5);
    poke<int32_t>(parts, 1, 16 / 4 + 2, 99);
    Releases releases;
    auto column = read_array(text_schema(TextType::kStringView, releases), make_array(std::move(parts), releases));
    ASSERT_TRUE(column.ok()) << column.error().message;
    EXPECT_EQ(column.value().row(1), std::nullopt);
}

TEST(ArrowTextColumn, ReleasedStructuresAreRefused) {
    Releases releases;
    ArrowSchema schema = text_schema(TextType::kString, releases);
    ArrowArray array = text_array({"a"}, TextType::kString, releases);
    OwnedArray taken = OwnedArray::take(&array);
    // `array` is released now: taking it again gives nothing to read.
    const std::string message = expect_error(read_array(schema, array), ReadErrorKind::kInvalidData);
    EXPECT_NE(message.find("released"), std::string::npos) << message;
    EXPECT_EQ(releases.schemas, 1);
    EXPECT_EQ(releases.arrays, 0);
    taken.reset();
    EXPECT_EQ(releases.arrays, 1);

    ArrowArrayStream stream{};
    auto from_released = ImportedData::from_stream(OwnedStream::take(&stream));
    ASSERT_FALSE(from_released.ok());
    EXPECT_EQ(from_released.error().kind, ReadErrorKind::kInvalidData);
}

TEST(ArrowTextColumn, OtherTypesNameWhatWasFoundAndWhatIsAccepted) {
    struct Case {
        const char* format;
        const char* dictionary;
        const char* found;
    };
    const Case cases[] = {
        {"z", nullptr, R"(binary ("z"))"},
        {"vz", nullptr, R"(binary_view ("vz"))"},
        {"i", nullptr, R"(int32 ("i"))"},
        {"+s", nullptr, R"(struct ("+s"))"},
        {"tsu:Europe/Paris", nullptr, "timestamp[us]"},
        {"i", "u", "dictionary<values=string, indices=int32>"},
        {"s", "vu", "dictionary<values=string_view, indices=int16>"},
        {"qq", nullptr, R"(format "qq")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Releases releases;
        std::optional<ArrowSchema> dictionary;
        if (c.dictionary != nullptr) dictionary = make_schema(c.dictionary, "", {}, releases);
        ArrowSchema schema = make_schema(c.format, "", {}, releases, dictionary);
        const std::string message =
            expect_error(read_array(schema, text_array({"a"}, TextType::kString, releases)), ReadErrorKind::kUnsupportedType);
        EXPECT_NE(message.find(c.found), std::string::npos) << message;
        EXPECT_NE(message.find(R"(string ("u"), large_string ("U") or string_view ("vu"))"), std::string::npos)
            << message;
        EXPECT_EQ(releases.schemas, c.dictionary != nullptr ? 2 : 1);
    }
}

// ------------------------------------------------------------------ UTF-8

TEST(ArrowTextColumn, InvalidUtf8IsFoundAtTheLowestRowAndDescribed) {
    struct Case {
        size_t row;
        std::string text;
        size_t byte;
        const char* bytes;
    };
    const Case cases[] = {
        {0, "\xff starts badly", 0, "ff 20 73 74"},
        {5, "ends in the middle of \xe4\xb8", 22, "e4 b8"},
        {9, "a lone continuation \x80 here", 20, "80 20 68 65"},
        {9, "surrogate \xed\xa0\x80", 10, "ed a0 80"},
        {9, "overlong \xc0\xaf", 9, "c0 af"},
    };
    for (TextType type : kAllTypes) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(format_of(type)) + " row " + std::to_string(c.row));
            Rows rows(10, std::string("fine \xc3\xa9 text"));
            rows[3] = std::nullopt;
            rows[c.row] = c.text;
            if (c.row + 1 < rows.size()) rows[c.row + 1] = std::string("\xc3", 1);  // a later bad row
            Releases releases;
            auto column = read_array(text_schema(type, releases), text_array(rows, type, releases, {2, 1}));
            ASSERT_TRUE(column.ok()) << column.error().message;
            EXPECT_EQ(column.value().first_invalid_utf8(0, rows.size()), c.row);
            EXPECT_EQ(column.value().first_invalid_utf8(c.row + 2, rows.size()), std::nullopt);
            const auto error = column.value().invalid_utf8_error(c.row);
            EXPECT_EQ(error.kind, ReadErrorKind::kInvalidUtf8);
            EXPECT_EQ(error.message, "invalid UTF-8 in row " + std::to_string(c.row) + ", at byte " +
                                         std::to_string(c.byte) + " of its text (bytes " + c.bytes + ")");
        }
    }
}

// A character split across two rows is valid in the data buffer as a
// whole, but each row alone is not.
TEST(ArrowTextColumn, ACharacterSplitBetweenRowsIsInvalid) {
    for (TextType type : {TextType::kString, TextType::kLargeString}) {
        Releases releases;
        const Rows rows = {"caf\xc3", "\xa9 au lait"};
        auto column = read_array(text_schema(type, releases), text_array(rows, type, releases));
        ASSERT_TRUE(column.ok());
        EXPECT_EQ(column.value().first_invalid_utf8(0, 2), 0u);
        EXPECT_EQ(column.value().first_invalid_utf8(1, 2), 1u);
    }
}

TEST(ArrowTextColumn, InvalidBytesUnderANullAreNotText) {
    Releases releases;
    const Rows rows = {"ok", std::nullopt, "ok"};
    ArrayParts parts;
    parts.length = 3;
    parts.null_count = 1;
    // The null row's segment holds invalid bytes: the format allows anything there.
    parts.buffers = {validity_of(rows), bytes_of(std::vector<int32_t>{0, 2, 4, 6}), Bytes{'o', 'k', 0xff, 0xfe, 'o', 'k'}};
    auto column = read_array(text_schema(TextType::kString, releases), make_array(std::move(parts), releases));
    ASSERT_TRUE(column.ok());
    EXPECT_EQ(column.value().first_invalid_utf8(0, 3), std::nullopt);
}

}  // namespace
