// The scoring core on a corpus of generated news-like summary pairs
// (benchmarks/corpus.py writes them at build time), stage by stage, on the
// default path (score_pair) and on the configurable path without stemming
// (rouge1, rouge2, rougeL from tokenized texts). One hot pair would flatter
// the core: its table, tokens and branches would all stay warm; ten
// thousand different pairs do not.
//
// Each stage is timed over the whole corpus, `rounds` times in turns, and
// reported per token (tokens of both texts) with the fastest, median and
// slowest round; the whole pair also as bytes of input per second. A stage
// that builds on another is reported as the difference: numbering is
// "tokenize and number" less "tokenize".
//
//     core_benchmark [corpus file] [rounds] [pairs]
//
// Fewer pairs and one round suit an instruction count under callgrind.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <time.h>
#include <vector>

#include "oracles/straightforward_scorer.hpp"
#include "scorer/configurable_scorer.hpp"
#include "scorer/pair_scorer.hpp"
#include "scorer/tokenizing/tokenizers.hpp"

namespace {

using namespace tallygrams::scorer;

struct Pair {
    std::string reference;
    std::string prediction;
};

std::vector<Pair> read_pairs(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<Pair> pairs;
    const auto read_text = [&](std::string& text) {
        size_t length = 0;
        if (!(in >> length) || in.get() != '\n') return false;
        text.resize(length);
        return static_cast<bool>(in.read(text.data(), static_cast<std::streamsize>(length)));
    };
    Pair pair;
    while (read_text(pair.reference) && read_text(pair.prediction)) pairs.push_back(pair);
    return pairs;
}

// Keeps results observable so that no stage is optimised away.
volatile uint64_t g_sink;

// The ids of every pair, numbered once, for timing the metrics alone.
struct NumberedCorpus {
    std::vector<uint32_t> ids;
    struct Entry {
        size_t offset;
        size_t reference_count;
        size_t prediction_count;
        uint32_t distinct;
    };
    std::vector<Entry> entries;

    NumberedTokens<uint32_t> at(size_t i) const {
        const Entry& e = entries[i];
        return {ids.data() + e.offset, e.reference_count, ids.data() + e.offset + e.reference_count,
                e.prediction_count, e.distinct};
    }
};

NumberedCorpus number_corpus(const std::vector<Pair>& pairs) {
    NumberedCorpus corpus;
    for (const Pair& pair : pairs) {
        ScratchArena arena;
        const auto tokens = number_tokens<uint32_t>(pair.reference, pair.prediction, arena);
        corpus.entries.push_back({corpus.ids.size(), tokens.reference_count, tokens.prediction_count, tokens.distinct});
        corpus.ids.insert(corpus.ids.end(), tokens.reference, tokens.reference + tokens.reference_count);
        corpus.ids.insert(corpus.ids.end(), tokens.prediction, tokens.prediction + tokens.prediction_count);
    }
    return corpus;
}

RougeConfig unstemmed_config() {
    RougeConfig config;
    for (const char* name : {"rouge1", "rouge2", "rougeL"}) config.add(parse_rouge_type(name).type);
    return config;
}

struct Stage {
    const char* name;
    std::function<uint64_t()> run;  // one pass over the corpus
    std::vector<double> seconds;
};

// The thread's processor time rather than the clock's: on a machine shared
// with other work, time spent descheduled would otherwise count.
double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double seconds_of(const std::function<uint64_t()>& run) {
    const double start = thread_seconds();
    g_sink = g_sink + run();
    return thread_seconds() - start;
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : TALLYGRAMS_BENCHMARK_CORPUS;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::vector<Pair> pairs = read_pairs(path);
    if (argc > 3) pairs.resize(std::min(pairs.size(), static_cast<size_t>(std::atoll(argv[3]))));
    if (pairs.empty()) {
        std::fprintf(stderr, "no pairs in %s\n", path);
        return 1;
    }

    // The core's scores against the straightforward scorer on a sample:
    // a fast path that drifted would make its figures meaningless.
    for (size_t i = 0; i < pairs.size(); i += 97) {
        const PairScores fast = score_pair(pairs[i].reference, pairs[i].prediction);
        const PairScores slow = tallygrams::straightforward::score_pair(pairs[i].reference, pairs[i].prediction);
        if (std::memcmp(&fast, &slow, sizeof fast) != 0) {
            std::fprintf(stderr, "pair %zu: scores differ from the straightforward scorer\n", i);
            return 1;
        }
    }

    const NumberedCorpus numbered = number_corpus(pairs);
    size_t bytes = 0;
    size_t tokens = 0;
    for (size_t i = 0; i < pairs.size(); ++i) {
        bytes += pairs[i].reference.size() + pairs[i].prediction.size();
        tokens += numbered.entries[i].reference_count + numbered.entries[i].prediction_count;
    }
    const RougeConfig config = unstemmed_config();

    std::vector<Stage> stages;
    // Tokenizing is finding every token's start and end: normalising the
    // text and listing the edges of its token masks, which is what the
    // numbering then reads.
    stages.push_back({"tokenize", [&] {
        uint64_t found = 0;
        uint32_t edges[kWalkChunkBlocks * NormalizedText::kBlock + detail::kEdgeSlack];
        const auto list_edges = [&](const NormalizedText& text) {
            uint64_t inside = 0;
            const size_t blocks = text.padded_length / NormalizedText::kBlock;
            for (size_t first = 0; first < blocks; first += kWalkChunkBlocks) {
                const size_t chunk = std::min(kWalkChunkBlocks, blocks - first);
#if defined(TALLYGRAMS_X86_KERNELS)
                if (cpu_has_avx2()) {
                    found += detail::Avx2Edges::offsets(text.token_masks + first, chunk, inside, edges);
                    continue;
                }
#endif
                found += detail::BaselineEdges::offsets(text.token_masks + first, chunk, inside, edges);
            }
        };
        for (const Pair& pair : pairs) {
            ScratchArena arena;
            list_edges(normalize(pair.reference, arena));
            list_edges(normalize(pair.prediction, arena));
        }
        return found;
    }, {}});
    stages.push_back({"tokenize+number", [&] {
        uint64_t distinct = 0;
        for (const Pair& pair : pairs) {
            ScratchArena arena;
            distinct += number_tokens<uint32_t>(pair.reference, pair.prediction, arena).distinct;
        }
        return distinct;
    }, {}});
    stages.push_back({"ngrams+lcs", [&] {
        uint64_t total = 0;
        for (size_t i = 0; i < pairs.size(); ++i) {
            ScratchArena arena;
            const PairScores scores = detail::score_numbered_tokens(numbered.at(i), arena);
            total += static_cast<uint64_t>(scores.rouge1.fmeasure * 1e6 + scores.rouge2.fmeasure * 1e3 + scores.rougeL.fmeasure);
        }
        return total;
    }, {}});
    stages.push_back({"whole pair", [&] {
        uint64_t total = 0;
        for (const Pair& pair : pairs) {
            total += static_cast<uint64_t>(score_pair(pair.reference, pair.prediction).rougeL.fmeasure * 1e6);
        }
        return total;
    }, {}});
    stages.push_back({"conf: tokenize", [&] {
        uint64_t count = 0;
        for (const Pair& pair : pairs) {
            ScratchArena arena;
            count += tokenize_ascii_text(pair.reference, arena, false).whole.token_count;
            count += tokenize_ascii_text(pair.prediction, arena, false).whole.token_count;
        }
        return count;
    }, {}});
    stages.push_back({"conf: tokenize+number", [&] {
        uint64_t distinct = 0;
        for (const Pair& pair : pairs) {
            ScratchArena arena;
            const TokenizedText reference = tokenize_ascii_text(pair.reference, arena, false);
            const TokenizedText prediction = tokenize_ascii_text(pair.prediction, arena, false);
            distinct += number_texts<uint32_t>(std::span(&reference, 1), prediction, true, false, arena).distinct;
        }
        return distinct;
    }, {}});
    stages.push_back({"conf: whole pair", [&] {
        uint64_t total = 0;
        Score out[3];
        for (const Pair& pair : pairs) {
            ScratchArena arena;
            const TokenizedText reference = tokenize_ascii_text(pair.reference, arena, false);
            const TokenizedText prediction = tokenize_ascii_text(pair.prediction, arena, false);
            score_tokenized(config, std::span(&reference, 1), prediction, out, arena);
            total += static_cast<uint64_t>(out[2].fmeasure * 1e6);
        }
        return total;
    }, {}});

    for (Stage& stage : stages) seconds_of(stage.run);  // warm up
    for (int round = 0; round < rounds; ++round) {
        for (Stage& stage : stages) stage.seconds.push_back(seconds_of(stage.run));
    }

    const double n_pairs = static_cast<double>(pairs.size());
    const double n_tokens = static_cast<double>(tokens);
    std::printf("%zu pairs, %.0f bytes and %.1f tokens a pair on average, %d rounds\n\n", pairs.size(),
                static_cast<double>(bytes) / n_pairs, n_tokens / n_pairs, rounds);
    std::printf("%-24s %9s %22s %9s\n", "stage", "ns/pair", "ns/token (min med max)", "GB/s");
    const auto row = [&](const char* name, const std::vector<double>& seconds, bool whole) {
        const double low = quantile(seconds, 0), median = quantile(seconds, 0.5), high = quantile(seconds, 1);
        char rate[16] = "";
        if (whole) std::snprintf(rate, sizeof rate, "%.2f", static_cast<double>(bytes) / median / 1e9);
        std::printf("%-24s %9.0f %6.2f %6.2f %6.2f   %9s\n", name, median * 1e9 / n_pairs, low * 1e9 / n_tokens,
                    median * 1e9 / n_tokens, high * 1e9 / n_tokens, rate);
    };
    // Differences between stages, round by round.
    const auto minus = [&](size_t a, size_t b) {
        std::vector<double> out;
        for (int r = 0; r < rounds; ++r) out.push_back(stages[a].seconds[r] - stages[b].seconds[r]);
        return out;
    };
    row("tokenizing", stages[0].seconds, false);
    row("numbering", minus(1, 0), false);
    row("n-grams and LCS", stages[2].seconds, false);
    row("whole pair", stages[3].seconds, true);
    row("conf: tokenizing", stages[4].seconds, false);
    row("conf: numbering", minus(5, 4), false);
    row("conf: n-grams and LCS", minus(6, 5), false);
    row("conf: whole pair", stages[6].seconds, true);
    return 0;
}
