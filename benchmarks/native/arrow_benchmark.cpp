// What reading Arrow text costs next to scoring it: UTF-8 validation of
// English, accented and CJK text, the scan of a whole column through the
// reader, and scoring a column of summary pairs with the text validated per
// row just before it is scored, or in a separate pass before any scoring.
#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "arrow/imported_data.hpp"
#include "arrow/owned.hpp"
#include "arrow/text_column.hpp"
#include "arrow/utf8_validation.hpp"
#include "oracles/arrow_fixtures.hpp"
#include "scorer/pair_scorer.hpp"

namespace {

using namespace tallygrams::arrow;
using arrow_fixtures::Releases;
using arrow_fixtures::Rows;

enum class Script { kEnglish, kAccented, kCjk };

// Words of each kind, joined by spaces: English is pure ASCII; accented
// text has a two-byte character in about one word in four; CJK text is
// three-byte characters with an ASCII space now and then.
std::string text_of(Script script, size_t bytes, uint64_t seed) {
    static const char* const kEnglish[] = {"the", "of", "police", "museum", "rates", "council", "and", "a",
                                           "flooded", "residents", "minister", "report", "in", "river", "to"};
    static const char* const kAccented[] = {"le", "caf\xc3\xa9", "de", "la", "r\xc3\xa9sum\xc3\xa9", "et", "pr\xc3\xa8s",
                                            "maison", "\xc3\xa0", "voil\xc3\xa0", "rue", "gar\xc3\xa7on", "nuit", "ville"};
    static const char* const kCjk[] = {"\xe4\xb8\xad\xe6\x96\x87", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
                                       "\xe5\xad\x97", "\xe6\xb5\x8b\xe8\xaf\x95\xe6\x96\x87\xe6\x9c\xac"};
    std::mt19937_64 random(seed);
    std::string text;
    while (text.size() < bytes) {
        switch (script) {
            case Script::kEnglish: text += kEnglish[random() % std::size(kEnglish)]; break;
            case Script::kAccented: text += kAccented[random() % std::size(kAccented)]; break;
            case Script::kCjk: text += kCjk[random() % std::size(kCjk)]; break;
        }
        text += ' ';
    }
    while (!is_valid_utf8(text)) text.pop_back();  // never cut a character
    return text;
}

void Utf8Validation(benchmark::State& state, Script script) {
    const std::string text = text_of(script, static_cast<size_t>(state.range(0)), 1);
    for (auto _ : state) benchmark::DoNotOptimize(is_valid_utf8(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK_CAPTURE(Utf8Validation, english, Script::kEnglish)->Arg(1 << 20)->Arg(256 << 20);
BENCHMARK_CAPTURE(Utf8Validation, accented, Script::kAccented)->Arg(1 << 20);
BENCHMARK_CAPTURE(Utf8Validation, cjk, Script::kCjk)->Arg(1 << 20);

// A string column of summary pairs, 40 to 90 words a side.
struct PairColumns {
    Releases releases;
    std::optional<TextColumn> references;
    std::optional<TextColumn> predictions;
    size_t bytes = 0;
};

std::unique_ptr<PairColumns> pair_columns(size_t pairs) {
    auto columns = std::make_unique<PairColumns>();
    std::mt19937_64 random(2);
    Rows references, predictions;
    for (size_t i = 0; i < pairs; ++i) {
        references.push_back(text_of(Script::kEnglish, 240 + random() % 300, random()));
        predictions.push_back(text_of(Script::kEnglish, 240 + random() % 300, random()));
        columns->bytes += references.back()->size() + predictions.back()->size();
    }
    auto read = [&](const Rows& rows) {
        ArrowSchema schema = arrow_fixtures::text_schema(arrow_fixtures::TextType::kString, columns->releases);
        ArrowArray array = arrow_fixtures::text_array(rows, arrow_fixtures::TextType::kString, columns->releases);
        auto data = ImportedData::from_array(OwnedSchema::take(&schema), OwnedArray::take(&array));
        return std::move(TextColumn::read(std::move(data).value())).value();
    };
    columns->references = read(references);
    columns->predictions = read(predictions);
    return columns;
}

constexpr size_t kPairs = 20000;

void ColumnScan(benchmark::State& state) {
    const auto columns = pair_columns(kPairs);
    for (auto _ : state) {
        benchmark::DoNotOptimize(columns->references->first_invalid_utf8(0, kPairs));
        benchmark::DoNotOptimize(columns->predictions->first_invalid_utf8(0, kPairs));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * columns->bytes));
}
BENCHMARK(ColumnScan);

enum class Check { kNone, kPerRow, kSeparatePass };

void ScoreColumns(benchmark::State& state, Check check) {
    const auto columns = pair_columns(kPairs);
    for (auto _ : state) {
        if (check == Check::kSeparatePass) {
            benchmark::DoNotOptimize(columns->references->first_invalid_utf8(0, kPairs));
            benchmark::DoNotOptimize(columns->predictions->first_invalid_utf8(0, kPairs));
        }
        TextColumn::Cursor references = columns->references->cursor(0);
        TextColumn::Cursor predictions = columns->predictions->cursor(0);
        for (size_t i = 0; i < kPairs; ++i) {
            const std::string_view reference = *references.next();
            const std::string_view prediction = *predictions.next();
            if (check == Check::kPerRow && !(is_valid_utf8(reference) && is_valid_utf8(prediction))) {
                state.SkipWithError("invalid UTF-8");
            }
            benchmark::DoNotOptimize(tallygrams::scorer::score_pair(reference, prediction));
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPairs));
}
BENCHMARK_CAPTURE(ScoreColumns, unchecked, Check::kNone);
BENCHMARK_CAPTURE(ScoreColumns, checked_per_row, Check::kPerRow);
BENCHMARK_CAPTURE(ScoreColumns, checked_in_a_separate_pass, Check::kSeparatePass);

}  // namespace

BENCHMARK_MAIN();
