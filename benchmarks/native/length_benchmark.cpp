// Cost of each stage of the scoring core as texts grow: tokenizing,
// numbering, unigram and bigram overlap, LCS, and the whole pair, next to the
// straightforward scorer for scale.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "scorer/pair_scorer.hpp"
#include "oracles/straightforward_scorer.hpp"

namespace {

using namespace tallygrams::scorer;

// English-like text: Zipf-weighted common words, capitals and punctuation.
// The prediction is the reference with about a quarter of its words edited.
struct Pair {
    std::string reference;
    std::string prediction;
};

Pair make_pair_of(size_t tokens, uint64_t seed) {
    static const std::vector<std::string> words = [] {
        const char* list =
            "the of and to a in is that for it as was with be by on not he this are or his from at which but have "
            "an they you were her she there been one all we their has would when if so no will more can said who "
            "what about out up them some could into than then its time only two may first like new these other any "
            "police arrested men museum painting bank interest rates rain flooded roads schools vaccine hospital "
            "council homes residents shares profits costs match goals fire warehouse minister report water flights "
            "airport scientists species union strike oil prices health waiting election voters company customers "
            "bridge river coach players house capital doctors cases rail journey festival court landlord tenants";
        std::vector<std::string> out;
        std::string current;
        for (const char* p = list;; ++p) {
            if (*p == ' ' || *p == '\0') {
                if (!current.empty()) out.push_back(current);
                current.clear();
                if (*p == '\0') break;
            } else {
                current += *p;
            }
        }
        return out;
    }();
    std::mt19937_64 rng(seed);
    std::vector<double> weights;
    for (size_t i = 0; i < words.size(); ++i) weights.push_back(1.0 / std::pow(i + 1.0, 0.9));
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());

    std::vector<size_t> reference, prediction;
    for (size_t i = 0; i < tokens; ++i) reference.push_back(pick(rng));
    for (size_t id : reference) {
        const auto roll = rng() % 100;
        if (roll < 12) continue;
        prediction.push_back(roll < 24 ? pick(rng) : id);
    }
    auto render = [&](const std::vector<size_t>& ids) {
        std::string text;
        bool capital = true;
        for (size_t id : ids) {
            std::string w = words[id];
            if (capital) w[0] = static_cast<char>(w[0] - 32);
            text += w;
            const auto roll = rng() % 100;
            capital = roll < 7;
            text += roll < 7 ? ". " : roll < 12 ? ", " : " ";
        }
        return text;
    };
    return {render(reference), render(prediction)};
}

void set_counters(benchmark::State& state, const Pair& pair) {
    state.counters["tokens"] = static_cast<double>(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(pair.reference.size() + pair.prediction.size()));
}

void BM_Tokenize(benchmark::State& state) {
    const Pair pair = make_pair_of(state.range(0), 1);
    for (auto _ : state) {
        ScratchArena arena;
        size_t tokens = 0;
        for_each_token(normalize(pair.reference, arena), [&](size_t, size_t) { ++tokens; });
        for_each_token(normalize(pair.prediction, arena), [&](size_t, size_t) { ++tokens; });
        benchmark::DoNotOptimize(tokens);
    }
    set_counters(state, pair);
}

void BM_Numbering(benchmark::State& state) {
    const Pair pair = make_pair_of(state.range(0), 1);
    for (auto _ : state) {
        ScratchArena arena;
        benchmark::DoNotOptimize(number_tokens<uint32_t>(pair.reference, pair.prediction, arena));
    }
    set_counters(state, pair);
}

template <uint64_t (*Metric)(const NumberedTokens<uint32_t>&, ScratchArena&)>
void BM_Metric(benchmark::State& state) {
    const Pair pair = make_pair_of(state.range(0), 1);
    ScratchArena arena;
    const auto tokens = number_tokens<uint32_t>(pair.reference, pair.prediction, arena);
    for (auto _ : state) benchmark::DoNotOptimize(Metric(tokens, arena));
    set_counters(state, pair);
}

void BM_ScorePair(benchmark::State& state) {
    const Pair pair = make_pair_of(state.range(0), 1);
    for (auto _ : state) benchmark::DoNotOptimize(score_pair(pair.reference, pair.prediction));
    set_counters(state, pair);
}

void BM_StraightforwardScorePair(benchmark::State& state) {
    const Pair pair = make_pair_of(state.range(0), 1);
    for (auto _ : state) benchmark::DoNotOptimize(tallygrams::straightforward::score_pair(pair.reference, pair.prediction));
    set_counters(state, pair);
}

constexpr int64_t kShortest = 16;
constexpr int64_t kLongest = 16384;

BENCHMARK(BM_Tokenize)->RangeMultiplier(4)->Range(kShortest, kLongest);
BENCHMARK(BM_Numbering)->RangeMultiplier(4)->Range(kShortest, kLongest);
BENCHMARK(BM_Metric<unigram_overlap<uint32_t>>)->Name("BM_UnigramOverlap")->RangeMultiplier(4)->Range(kShortest, kLongest);
BENCHMARK(BM_Metric<bigram_overlap<uint32_t>>)->Name("BM_BigramOverlap")->RangeMultiplier(4)->Range(kShortest, kLongest);
uint64_t lcs_of(const NumberedTokens<uint32_t>& tokens, ScratchArena& arena) { return lcs_length(tokens, arena); }

BENCHMARK(BM_Metric<lcs_of>)->Name("BM_Lcs")->RangeMultiplier(4)->Range(kShortest, kLongest);
BENCHMARK(BM_ScorePair)->RangeMultiplier(4)->Range(kShortest, kLongest);
BENCHMARK(BM_StraightforwardScorePair)->RangeMultiplier(4)->Range(kShortest, 4096);

}  // namespace

BENCHMARK_MAIN();
