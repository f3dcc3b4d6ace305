// The configurable scorer on summary-like pairs (a few sentences, one per
// line, 40-90 tokens per text), next to score_pair on the same pairs. Every
// benchmark cycles through the same 256 pairs, so the figures compare
// directly; the oracle runs on a few for scale. Times are per pair,
// tokenizing included.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "oracles/rouge_oracle.hpp"
#include "scorer/configurable_scorer.hpp"
#include "scorer/pair_scorer.hpp"
#include "scorer/tokenizing/tokenizers.hpp"

namespace {

using namespace tallygrams::scorer;

const std::vector<std::string>& words() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> out;
        std::string current;
        for (const char* p =
                 "the of and to a in is that for it as was with be by on not he this are or his from at which but "
                 "have an they you were her she there been one all we their has would when if so no will more can "
                 "said who what about out up them some could into than then its time only two may first like new "
                 "police arrested men museum painting bank interest rates rain flooded roads schools vaccine "
                 "hospital council homes residents shares profits costs match goals fire warehouse minister report "
                 "water flights airport scientists species union strike oil prices health waiting election voters";
             ; ++p) {
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
    return list;
}

struct Pair {
    std::string reference;
    std::vector<std::string> more_references;
    std::string prediction;
};

// Zipf-weighted words in sentences of 8 to 20 tokens, one per line; the
// prediction drops or replaces about a quarter of the reference's words.
std::vector<Pair> make_pairs(size_t count, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<double> weights;
    for (size_t i = 0; i < words().size(); ++i) weights.push_back(1.0 / std::pow(i + 1.0, 0.9));
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
    const auto reference_text = [&] {
        std::vector<std::vector<size_t>> sentences;
        size_t total = 0;
        const size_t target = 40 + rng() % 51;
        while (total < target) {
            std::vector<size_t> sentence;
            for (size_t k = std::min<size_t>(8 + rng() % 13, target - total); k > 0; --k) sentence.push_back(pick(rng));
            total += sentence.size();
            sentences.push_back(sentence);
        }
        return sentences;
    };
    const auto render = [&](const std::vector<std::vector<size_t>>& sentences) {
        std::string text;
        for (const auto& sentence : sentences) {
            if (!text.empty()) text += "\n";
            for (size_t i = 0; i < sentence.size(); ++i) {
                std::string w = words()[sentence[i]];
                if (i == 0) w[0] = static_cast<char>(w[0] - 32);
                text += w;
                text += i + 1 == sentence.size() ? "." : (rng() % 10 == 0 ? ", " : " ");
            }
        }
        return text;
    };
    std::vector<Pair> pairs;
    for (size_t p = 0; p < count; ++p) {
        const auto reference = reference_text();
        std::vector<std::vector<size_t>> prediction;
        for (const auto& sentence : reference) {
            std::vector<size_t> edited;
            for (size_t id : sentence) {
                const auto roll = rng() % 100;
                if (roll < 12) continue;
                edited.push_back(roll < 24 ? pick(rng) : id);
            }
            if (!edited.empty()) prediction.push_back(edited);
        }
        Pair pair{render(reference), {}, render(prediction)};
        for (int r = 0; r < 3; ++r) pair.more_references.push_back(render(reference_text()));
        pairs.push_back(pair);
    }
    return pairs;
}

const std::vector<Pair>& pairs() {
    static const std::vector<Pair> all = make_pairs(256, 7);
    return all;
}

RougeConfig config_of(std::initializer_list<const char*> names) {
    RougeConfig config;
    for (const char* name : names) config.add(parse_rouge_type(name).type);
    return config;
}

// One iteration is one pair, so the reported time is per pair.
void count_pairs(benchmark::State& state) { state.SetItemsProcessed(static_cast<int64_t>(state.iterations())); }

// rouge1, rouge2, rougeL through the fused single-configuration path.
void BM_ScorePair(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        const Pair& pair = pairs()[i++ % pairs().size()];
        benchmark::DoNotOptimize(score_pair(pair.reference, pair.prediction));
    }
    count_pairs(state);
}

// Tokenizes both texts and scores them, `references` references per pair.
void run_configured(benchmark::State& state, const RougeConfig& config, size_t references) {
    size_t i = 0;
    Score out[RougeConfig::kMaxTypes];
    for (auto _ : state) {
        const Pair& pair = pairs()[i++ % pairs().size()];
        ScratchArena texts;  // the caller's arena, beside the scorer's own
        TokenizedText tokenized[4];
        tokenized[0] = tokenize_ascii_text(pair.reference, texts, config.needs_sentences());
        for (size_t r = 1; r < references; ++r) {
            tokenized[r] = tokenize_ascii_text(pair.more_references[r - 1], texts, config.needs_sentences());
        }
        const TokenizedText prediction = tokenize_ascii_text(pair.prediction, texts, config.needs_sentences());
        score_tokenized(config, std::span<const TokenizedText>(tokenized, references), prediction, out);
        benchmark::DoNotOptimize(out);
    }
    count_pairs(state);
}

void BM_Configured_R1_R2_L(benchmark::State& state) { run_configured(state, config_of({"rouge1", "rouge2", "rougeL"}), 1); }
void BM_Configured_R1_R2_Lsum(benchmark::State& state) {
    run_configured(state, config_of({"rouge1", "rouge2", "rougeLsum"}), 1);
}
void BM_Configured_Lsum(benchmark::State& state) { run_configured(state, config_of({"rougeLsum"}), 1); }
void BM_Configured_R3_R4(benchmark::State& state) { run_configured(state, config_of({"rouge3", "rouge4"}), 1); }
void BM_Configured_All(benchmark::State& state) {
    run_configured(state, config_of({"rouge1", "rouge2", "rouge3", "rouge4", "rouge5", "rouge6", "rouge7", "rouge8",
                                     "rouge9", "rougeL", "rougeLsum"}),
                   1);
}
void BM_Configured_R1_R2_Lsum_4refs(benchmark::State& state) {
    run_configured(state, config_of({"rouge1", "rouge2", "rougeLsum"}), 4);
}

// The oracle, for scale: the straightforward transcription of the peer.
void BM_Oracle_R1_R2_Lsum(benchmark::State& state) {
    const tallygrams::oracle::PeerScorer scorer({"rouge1", "rouge2", "rougeLsum"}, tallygrams::oracle::default_tokenizer());
    size_t i = 0;
    for (auto _ : state) {
        const Pair& pair = pairs()[i++ % pairs().size()];
        benchmark::DoNotOptimize(scorer.score(pair.reference, pair.prediction));
    }
    count_pairs(state);
}

// rougeLsum on one-line texts of `tokens` tokens each: one long sentence
// pair, the path with several words per row (and blocks of rows beyond).
void BM_Configured_Lsum_OneLine(benchmark::State& state) {
    const auto tokens = static_cast<size_t>(state.range(0));
    std::mt19937_64 rng(3);
    std::string reference, prediction;
    for (size_t k = 0; k < tokens; ++k) {
        reference += words()[rng() % 40] + " ";
        prediction += words()[rng() % 40] + " ";
    }
    const RougeConfig config = config_of({"rougeLsum"});
    Score out[1];
    for (auto _ : state) {
        ScratchArena texts;
        const TokenizedText r = tokenize_ascii_text(reference, texts, true);
        const TokenizedText p = tokenize_ascii_text(prediction, texts, true);
        score_tokenized(config, r, p, out);
        benchmark::DoNotOptimize(out);
    }
    state.counters["tokens"] = static_cast<double>(tokens);
}

BENCHMARK(BM_ScorePair);
BENCHMARK(BM_Configured_R1_R2_L);
BENCHMARK(BM_Configured_R1_R2_Lsum);
BENCHMARK(BM_Configured_Lsum);
BENCHMARK(BM_Configured_R3_R4);
BENCHMARK(BM_Configured_All);
BENCHMARK(BM_Configured_R1_R2_Lsum_4refs);
BENCHMARK(BM_Oracle_R1_R2_Lsum);
BENCHMARK(BM_Configured_Lsum_OneLine)->Arg(64)->Arg(256)->Arg(1024)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
