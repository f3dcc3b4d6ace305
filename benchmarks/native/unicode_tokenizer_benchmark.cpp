// Throughput of the tokenizer for every script on English, mixed and
// Chinese/Japanese text, beside the default ASCII tokenizer on the same
// English text. Texts are generated with a fixed seed; each benchmark
// tokenizes one text of about `tokens` words per iteration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "scorer/tokenizing/token_walk.hpp"
#include "scorer/tokenizing/unicode_tokenizer.hpp"

namespace {

using namespace tallygrams::scorer;

std::vector<std::string> split(std::string_view words) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < words.size()) {
        const size_t end = std::min(words.find(' ', at), words.size());
        if (end > at) out.emplace_back(words.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

const std::vector<std::string>& english_words() {
    static const auto words = split(
        "the of and to a in is that for it as was with be by on not he this are or his from at which but have "
        "an they you were her she there been one all we their has would when if so no will more can said who "
        "police arrested men museum painting bank interest rates rain flooded roads schools vaccine hospital "
        "council homes residents shares profits costs match goals fire warehouse minister report water flights");
    return words;
}

// Words of European text outside ASCII: accents, sharp s, Greek capitals
// with a final sigma, Cyrillic, and a Turkish dotted capital I.
const std::vector<std::string>& other_words() {
    static const auto words = split(
        "caf\u00e9 na\u00efve \u00e9t\u00e9 Stra\u00dfe M\u00fcnchen se\u00f1or a\u00e7\u00e3o d\u00e9j\u00e0 "
        "\u039f\u0394\u039f\u03a3 \u03ba\u03cc\u03c3\u03bc\u03bf\u03c2 \u041c\u043e\u0441\u043a\u0432\u0430 "
        "\u0434\u0435\u043d\u044c \u0130stanbul \u00c5ngstr\u00f6m");
    return words;
}

const std::vector<std::string>& han_words() {
    static const auto words = split(
        "\u6211\u4eec \u4eca\u5929 \u5929\u6c14 \u5f88\u597d \u5317\u4eac \u5e02\u573a \u7ecf\u6d4e "
        "\u53d1\u5c55 \u6771\u4eac \u306f \u3067\u3059 \u30cb\u30e5\u30fc\u30b9 \u653f\u5e9c \u5b66\u6821");
    return words;
}

enum class Kind { English, Mixed, Cjk };

// About `tokens` words: English with capitals and punctuation; the same
// with one word in four from other European scripts and one in ten Chinese
// or Japanese; or Chinese and Japanese without spaces, with full-width
// punctuation.
std::string make_text(Kind kind, size_t tokens) {
    std::mt19937_64 rng(42);
    std::string text;
    bool capital = true;
    for (size_t i = 0; i < tokens; ++i) {
        const auto roll = rng() % 100;
        if (kind == Kind::Cjk) {
            text += han_words()[rng() % han_words().size()];
            if (roll < 8) text += "\uff0c";
            else if (roll < 12) text += "\u3002";
            continue;
        }
        std::string word;
        if (kind == Kind::Mixed && roll < 25) word = other_words()[rng() % other_words().size()];
        else if (kind == Kind::Mixed && roll < 35) word = han_words()[rng() % han_words().size()];
        else word = english_words()[rng() % english_words().size()];
        if (capital && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 32);
        text += word;
        const auto punct = rng() % 100;
        capital = punct < 7;
        text += punct < 7 ? ". " : punct < 12 ? ", " : " ";
    }
    return text;
}

void finish(benchmark::State& state, const std::string& text, size_t tokens_seen) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    state.counters["tokens"] = static_cast<double>(tokens_seen);
    state.counters["tokens_per_second"] = benchmark::Counter(
        static_cast<double>(tokens_seen) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

template <Kind kKind>
void BM_UnicodeTokenizer(benchmark::State& state) {
    const std::string text = make_text(kKind, static_cast<size_t>(state.range(0)));
    size_t tokens = 0;
    for (auto _ : state) {
        ScratchArena arena;
        tokens = 0;
        size_t bytes = 0;
        for_each_unicode_token(
            text, arena,
            [&](std::string_view token) {
                ++tokens;
                bytes += token.size();
            },
            [] {});
        benchmark::DoNotOptimize(bytes);
    }
    finish(state, text, tokens);
}

void BM_AsciiTokenizer_English(benchmark::State& state) {
    const std::string text = make_text(Kind::English, static_cast<size_t>(state.range(0)));
    size_t tokens = 0;
    for (auto _ : state) {
        ScratchArena arena;
        tokens = 0;
        size_t bytes = 0;
        for_each_token(normalize(text, arena), [&](size_t, size_t length) {
            ++tokens;
            bytes += length;
        });
        benchmark::DoNotOptimize(bytes);
    }
    finish(state, text, tokens);
}

BENCHMARK(BM_AsciiTokenizer_English)->Arg(64)->Arg(4096);
BENCHMARK(BM_UnicodeTokenizer<Kind::English>)->Name("BM_UnicodeTokenizer_English")->Arg(64)->Arg(4096);
BENCHMARK(BM_UnicodeTokenizer<Kind::Mixed>)->Name("BM_UnicodeTokenizer_Mixed")->Arg(64)->Arg(4096);
BENCHMARK(BM_UnicodeTokenizer<Kind::Cjk>)->Name("BM_UnicodeTokenizer_Cjk")->Arg(64)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
