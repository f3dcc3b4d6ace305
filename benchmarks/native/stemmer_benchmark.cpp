// Porter stemming throughput, with and without a word -> stem cache, on
// tokens the way the scorer would stem them (only tokens of more than three
// characters).
//
// A hit of the cache (stem_cache.hpp) costs about a fifth of a stemming;
// on the zipf stream, drawn from the whole word list, about half the
// lookups miss and then cost both, so it gains about a quarter there and
// loses about as much where nothing recurs, and a cache per text loses
// everywhere. Real evaluations repeat their words far more than the zipf
// stream does, so the companion module keeps one cache per thread.
//
// The tokens come from the system's English word list (/usr/share/dict,
// installed by scripts/setup-dev.sh), laid out one after another as in a
// text. Two streams of 2^20 tokens:
//   zipf      words drawn with Zipf frequencies (exponent 1), shorter words
//             more frequent, as in running English text;
//   distinct  every word of the list in turn, shuffled: nothing repeats
//             within the cache's reach, the worst case for a cache.
// And three ways to stem them:
//   plain           porter_stem on every token;
//   cached          one cache for the whole stream, as a worker thread would
//                   keep one across its texts;
//   cache_per_text  a new cache for every 64 tokens, as if each text of a
//                   pair built its own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "scorer/stemming/porter_stemmer.hpp"
#include "scorer/stemming/stem_cache.hpp"

namespace {

using namespace tallygrams::scorer;

constexpr const char* kWordList = "/usr/share/dict/american-english";
constexpr size_t kStreamTokens = size_t{1} << 20;
constexpr size_t kTextTokens = 64;

// Distinct tokens of more than three characters, after lower-casing and
// splitting on everything but a-z and 0-9.
std::vector<std::string> vocabulary() {
    std::ifstream in(kWordList);
    if (!in) {
        std::fprintf(stderr, "cannot read %s (install wamerican; scripts/setup-dev.sh does)\n", kWordList);
        std::exit(1);
    }
    std::unordered_set<std::string> seen;
    std::vector<std::string> words;
    std::string line, token;
    auto flush = [&] {
        if (token.size() > 3 && seen.insert(token).second) words.push_back(token);
        token.clear();
    };
    while (std::getline(in, line)) {
        for (char c : line) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
                token += c;
            } else {
                flush();
            }
        }
        flush();
    }
    return words;
}

// Tokens laid out one after another in one buffer, as they are in a text:
// reading them is sequential, whichever words they are.
struct Stream {
    std::string text;
    std::vector<std::string_view> tokens;
    size_t bytes = 0;

    explicit Stream(const std::vector<std::string_view>& words) {
        for (std::string_view w : words) text += w;
        size_t offset = 0;
        for (std::string_view w : words) {
            tokens.emplace_back(text.data() + offset, w.size());
            offset += w.size();
        }
        bytes = text.size();
    }
};

const std::vector<std::string>& shuffled_vocabulary() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w = vocabulary();
        std::shuffle(w.begin(), w.end(), std::mt19937_64(7));
        return w;
    }();
    return words;
}

const Stream& zipf_stream() {
    static const Stream stream = [] {
        // Rank by length (ties in shuffled order), so that shorter words are
        // the frequent ones.
        std::vector<std::string_view> ranked(shuffled_vocabulary().begin(), shuffled_vocabulary().end());
        std::stable_sort(ranked.begin(), ranked.end(), [](auto a, auto b) { return a.size() < b.size(); });
        std::vector<double> weights(ranked.size());
        for (size_t i = 0; i < weights.size(); ++i) weights[i] = 1.0 / static_cast<double>(i + 1);
        std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
        std::mt19937_64 rng(11);
        std::vector<std::string_view> drawn;
        for (size_t i = 0; i < kStreamTokens; ++i) drawn.push_back(ranked[pick(rng)]);
        return Stream(drawn);
    }();
    return stream;
}

const Stream& distinct_stream() {
    static const Stream stream = [] {
        const auto& words = shuffled_vocabulary();
        std::vector<std::string_view> drawn;
        // The list holds fewer words than the stream: after the first pass,
        // words repeat only every ~70,000 tokens, far beyond what the cache
        // holds.
        for (size_t i = 0; i < kStreamTokens; ++i) drawn.push_back(words[i % words.size()]);
        return Stream(drawn);
    }();
    return stream;
}

const Stream& stream_for(const benchmark::State& state) {
    return state.range(0) == 0 ? zipf_stream() : distinct_stream();
}

void finish(benchmark::State& state, const Stream& stream) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * stream.tokens.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.bytes));
    state.SetLabel(state.range(0) == 0 ? "zipf" : "distinct");
}

void BM_StemPlain(benchmark::State& state) {
    const Stream& stream = stream_for(state);
    char out[256];
    std::string long_out;
    for (auto _ : state) {
        size_t total = 0;
        for (std::string_view token : stream.tokens) {
            char* room = out;
            if (token.size() > sizeof out) room = (long_out.resize(token.size()), long_out.data());
            total += porter_stem(token, room);
        }
        benchmark::DoNotOptimize(total);
    }
    finish(state, stream);
}

void BM_StemCached(benchmark::State& state) {
    const Stream& stream = stream_for(state);
    char out[256];
    std::string long_out;
    StemCache cache;
    for (auto _ : state) {
        size_t total = 0;
        for (std::string_view token : stream.tokens) {
            char* room = out;
            if (token.size() > sizeof out) room = (long_out.resize(token.size()), long_out.data());
            total += cache.stem(token, room);
        }
        benchmark::DoNotOptimize(total);
    }
    finish(state, stream);
}

void BM_StemCachePerText(benchmark::State& state) {
    const Stream& stream = stream_for(state);
    char out[256];
    std::string long_out;
    for (auto _ : state) {
        size_t total = 0;
        for (size_t begin = 0; begin < stream.tokens.size(); begin += kTextTokens) {
            StemCache cache;
            const size_t end = std::min(begin + kTextTokens, stream.tokens.size());
            for (size_t i = begin; i < end; ++i) {
                const std::string_view token = stream.tokens[i];
                char* room = out;
                if (token.size() > sizeof out) room = (long_out.resize(token.size()), long_out.data());
                total += cache.stem(token, room);
            }
        }
        benchmark::DoNotOptimize(total);
    }
    finish(state, stream);
}

BENCHMARK(BM_StemPlain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StemCached)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StemCachePerText)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
