// Porter stemming throughput, with and without a word -> stem cache, on
// tokens the way the scorer would stem them (only tokens of more than three
// characters).
//
// The cache was measured here and left out of the core: a hit costs about a
// fifth of a stemming, but on the zipf stream about half the lookups miss
// and then cost both, so it gains about a quarter where words recur and
// loses about as much where they do not, and a cache per text loses
// everywhere. It stays here so the comparison can be repeated if the
// stemmer changes.
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

#include "scorer/porter_stemmer.hpp"

namespace {

using namespace tallygrams::scorer;

// A bounded memo of word -> stem: direct-mapped, 4096 slots of 64 bytes
// (256 KiB), one allocation; a new word replaces whatever its slot held, and
// words outside 4 to 24 bytes are stemmed every time.
class StemCache {
public:
    static constexpr size_t kMaxWord = 24;
    static constexpr size_t kSlotBits = 12;
    static constexpr size_t kSlots = size_t{1} << kSlotBits;

    StemCache() : slots_(std::make_unique<Slot[]>(kSlots)) {}

    // The same contract as porter_stem.
    size_t stem(std::string_view word, char* out) noexcept {
        const size_t size = word.size();
        if (size < 4 || size > kMaxWord) return porter_stem(word, out);
        const Chunks key = chunks_of(word.data(), size);
        Slot& slot = slots_[slot_of(key, size)];
        if (slot.word_size != size || !(chunks_of(slot.word, size) == key)) {
            // The slot is filled before `out` is written, since `out` may be
            // the word itself.
            slot.word_size = static_cast<uint8_t>(size);
            std::memcpy(slot.word, word.data(), size);
            slot.stem_size = static_cast<uint8_t>(porter_stem(word, slot.stem));
        }
        copy_short(out, slot.stem, slot.stem_size);
        return slot.stem_size;
    }

private:
    // An empty slot has word_size 0, which no looked-up word has.
    struct alignas(64) Slot {
        uint8_t word_size = 0;
        uint8_t stem_size = 0;
        char word[kMaxWord];
        char stem[kMaxWord];
    };
    static_assert(sizeof(Slot) == 64 && porter_stem_room(kMaxWord) <= kMaxWord);

    // Three eight-byte (or, below eight bytes, four-byte) pieces that
    // together cover a word of 4 to 24 bytes, overlapping where it is
    // shorter: two words of the same length are equal exactly when their
    // pieces are.
    struct Chunks {
        uint64_t first, middle, last;
        bool operator==(const Chunks&) const = default;
    };
    static uint64_t load8(const char* p) noexcept {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    static uint32_t load4(const char* p) noexcept {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    static Chunks chunks_of(const char* p, size_t size) noexcept {
        if (size < 8) return {load4(p), 0, load4(p + size - 4)};
        return {load8(p), load8(p + (size > 16 ? 8 : 0)), load8(p + size - 8)};
    }

    // Copies `size` bytes (at most kMaxWord) with a few overlapping loads and
    // stores, writing nothing past `size`.
    static void copy_short(char* out, const char* from, size_t size) noexcept {
        if (size >= 8) {
            const uint64_t a = load8(from), b = load8(from + (size > 16 ? 8 : 0)), c = load8(from + size - 8);
            std::memcpy(out, &a, 8);
            std::memcpy(out + (size > 16 ? 8 : 0), &b, 8);
            std::memcpy(out + size - 8, &c, 8);
        } else if (size >= 4) {
            const uint32_t a = load4(from), c = load4(from + size - 4);
            std::memcpy(out, &a, 4);
            std::memcpy(out + size - 4, &c, 4);
        } else {
            for (size_t i = 0; i < size; ++i) out[i] = from[i];
        }
    }

    static size_t slot_of(const Chunks& key, size_t size) noexcept {
        const uint64_t mixed = (key.first ^ (key.last * 0x9E3779B97F4A7C15ull) ^ (key.middle << 7) ^ size) *
                               0xD6E8FEB86659FD93ull;
        return static_cast<size_t>(mixed >> (64 - kSlotBits));
    }

    std::unique_ptr<Slot[]> slots_;
};


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
