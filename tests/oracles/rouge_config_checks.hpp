// The configurable scorer against the oracle (rouge_oracle.hpp), as a plain
// function shared by the unit tests, the fuzzer and the corpus replay. A
// case names the metrics as a caller would, the texts, and how they are
// tokenized; the check builds both sides from that and compares every
// result bit for bit, including whether the peer's zero is made of ints.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "oracles/fuzz_checks.hpp"
#include "oracles/fuzz_input.hpp"
#include "oracles/rouge_oracle.hpp"
#include "scorer/configurable_scorer.hpp"
#include "scorer/stemming/porter_stemmer.hpp"
#include "scorer/stemming/stemming.hpp"
#include "scorer/tokenizing/tokenizers.hpp"
#include "scorer/tokenizing/unicode_tokenized_text.hpp"

namespace tallygrams::fuzz {

enum class Tokenization : uint8_t {
    lines,            // the built-in tokenizer; sentences are lines
    split_sentences,  // the built-in tokenizer; sentences cut at '.' by the caller
    own_tokens,       // the caller's tokenizer: split at ' ', empty strings kept
    unicode_lines,    // the tokenizer for every script; sentences are lines
};

// Stemming applies to the built-in ASCII tokenizer only (lines and
// split_sentences), as in rouge-score.
enum class Stemming : uint8_t { none, toy, porter };

struct ConfigCase {
    std::vector<std::string> rouge_types;
    std::vector<std::string> references;
    std::string prediction;
    Tokenization tokenization = Tokenization::lines;
    Stemming stemming = Stemming::none;

    bool stems() const noexcept {
        return stemming != Stemming::none &&
               (tokenization == Tokenization::lines || tokenization == Tokenization::split_sentences);
    }
};

// A stand-in for a stemmer that exercises every outcome of the transform
// hook: tokens kept, grown, shortened (merging words), dropped.
inline std::string toy_stem(std::string_view word) {
    if (word[0] == 'z') return "";
    if (word.back() == 'b') return std::string(word) + "e";
    return std::string(word.substr(0, 4));
}

inline std::string porter_stem_string(const std::string& word) {
    std::string stem(scorer::porter_stem_room(word.size()), '\0');
    stem.resize(scorer::porter_stem(word, stem.data()));
    return stem;
}

// The tokens of the tokenizer for every script, as a caller's tokenizer
// would hand them over.
inline oracle::Tokens unicode_tokens(std::string_view text) {
    scorer::ScratchArena arena;
    oracle::Tokens tokens;
    scorer::for_each_unicode_token(
        text, arena, [&](std::string_view token) { tokens.emplace_back(token); }, [] {});
    return tokens;
}

struct ToyStem {
    std::string_view operator()(std::string_view word, scorer::TokenStore& store) const {
        if (word.size() <= 3) return word;
        const std::string stem = toy_stem(word);
        char* room = store.room(word.size() + 1);
        std::memcpy(room, stem.data(), stem.size());
        return store.commit(stem.size());
    }
};

inline std::vector<std::string> split_at(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        pieces.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return pieces;
        start = end + 1;
    }
}

// How the fast side tokenizes one text of a case, as a caller would.
class CaseTokenizer {
public:
    CaseTokenizer(const ConfigCase& c, bool whole, bool sentences, scorer::ScratchArena& arena)
        : case_(c), whole_(whole), sentences_(sentences), arena_(arena) {}

    scorer::TokenizedText operator()(std::string_view text) const {
        if (!case_.stems()) return tokenize(text, scorer::KeepToken{});
        if (case_.stemming == Stemming::toy) return tokenize(text, ToyStem{});
        return tokenize(text, scorer::StemLongTokens{});
    }

private:
    template <class Transform>
    scorer::TokenizedText tokenize(std::string_view text, Transform transform) const {
        using namespace scorer;
        switch (case_.tokenization) {
            case Tokenization::lines:
                return tokenize_ascii_text(text, arena_, sentences_, transform);
            case Tokenization::split_sentences: {
                TokenizedText tokenized;
                if (whole_) tokenized.whole = tokenize_ascii(text, arena_, false, transform);
                const std::vector<std::string> pieces = split_at(text, '.');
                const std::vector<std::string_view> views(pieces.begin(), pieces.end());
                if (sentences_) tokenized.sentences = tokenize_ascii_sentences(views, arena_, transform);
                tokenized.has_whole = whole_;
                tokenized.has_sentences = sentences_;
                return tokenized;
            }
            case Tokenization::unicode_lines:
                return tokenize_unicode_text(text, arena_, sentences_, transform);
            case Tokenization::own_tokens:
                break;
        }
        // A caller's tokenizer sees the whole text, then each non-empty line:
        // it may well find tokens in an empty string, so empty lines must
        // not reach it.
        TokenizedText tokenized;
        tokenized.has_whole = whole_;
        tokenized.has_sentences = sentences_;
        if (whole_) {
            TokenSequenceBuilder builder(arena_);
            for (const std::string& token : split_at(text, ' ')) builder.add_copy(token);
            tokenized.whole = builder.finish();
        }
        if (sentences_) {
            TokenSequenceBuilder builder(arena_);
            bool first = true;
            for (const std::string& line : split_at(text, '\n')) {
                if (line.empty()) continue;
                if (!first) builder.end_sentence();
                first = false;
                for (const std::string& token : split_at(line, ' ')) builder.add_copy(token);
            }
            tokenized.sentences = builder.finish();
        }
        return tokenized;
    }

    const ConfigCase& case_;
    bool whole_;
    bool sentences_;
    scorer::ScratchArena& arena_;
};

inline oracle::PeerScorer peer_for(const ConfigCase& c, bool flipped_ties = false) {
    oracle::Tokenizer tokenizer;
    if (c.tokenization == Tokenization::own_tokens) {
        tokenizer = [](std::string_view text) { return split_at(text, ' '); };
    } else if (c.tokenization == Tokenization::unicode_lines) {
        tokenizer = unicode_tokens;
    } else if (c.stems()) {
        tokenizer = c.stemming == Stemming::toy ? oracle::default_tokenizer(toy_stem)
                                                : oracle::default_tokenizer(porter_stem_string);
    } else {
        tokenizer = oracle::default_tokenizer();
    }
    oracle::SentenceSplitter splitter = oracle::split_lines;
    if (c.tokenization == Tokenization::split_sentences) {
        splitter = [](std::string_view text) { return split_at(text, '.'); };
    }
    return oracle::PeerScorer(c.rouge_types, tokenizer, splitter, flipped_ties);
}

inline std::string describe(const ConfigCase& c) {
    std::ostringstream out;
    out << "types:";
    for (const auto& t : c.rouge_types) out << " \"" << printable(t) << '"';
    out << "\ntokenization " << static_cast<int>(c.tokenization) << ", stemming " << static_cast<int>(c.stemming)
        << "\nprediction \""
        << printable(c.prediction) << "\"\n";
    for (const auto& r : c.references) out << "reference \"" << printable(r) << "\"\n";
    return out.str();
}

// The fast scorer's results, by name: the names in dict order with their
// Scores and integer-zero flags.
struct FastResult {
    std::vector<std::pair<std::string, scorer::Score>> scores;
    std::vector<bool> integer_zeros;
    bool rejected = false;  // a name that is not a metric
};

inline FastResult fast_scores(const ConfigCase& c) {
    using namespace scorer;
    FastResult result;
    RougeConfig config;
    std::vector<std::pair<std::string, size_t>> positions;  // a dict's keys, first mention first
    for (const std::string& name : c.rouge_types) {
        const ParsedRougeType parsed = parse_rouge_type(name);
        if (parsed.error != RougeTypeError::none) {
            result.rejected = true;
            return result;
        }
        const size_t position = config.add(parsed.type);
        bool known = false;
        for (const auto& entry : positions) known |= entry.first == name;
        if (!known) positions.emplace_back(name, position);
    }
    ScratchArena arena;
    const CaseTokenizer tokenize(c, config.needs_whole(), config.needs_sentences(), arena);
    std::vector<TokenizedText> references;
    for (const std::string& r : c.references) references.push_back(tokenize(r));
    const TokenizedText prediction = tokenize(c.prediction);
    Score out[RougeConfig::kMaxTypes];
    bool integer_zeros[RougeConfig::kMaxTypes];
    score_tokenized(config, references, prediction, out, integer_zeros);
    for (const auto& [name, position] : positions) {
        result.scores.emplace_back(name, out[position]);
        result.integer_zeros.push_back(integer_zeros[position]);
    }
    return result;
}

inline std::string check_config(const ConfigCase& c) {
    bool peer_rejects = false;
    oracle::ScoreDict expected;
    try {
        expected = peer_for(c).score_multi(c.references, c.prediction);
    } catch (const std::invalid_argument&) {
        peer_rejects = true;
    }
    if (c.references.empty()) return {};  // the peer's own error; the scorer is never called without one
    const FastResult actual = fast_scores(c);
    std::ostringstream out;
    out.precision(17);
    if (peer_rejects || actual.rejected) {
        if (peer_rejects == actual.rejected) return {};
        out << describe(c) << "the peer " << (peer_rejects ? "rejects" : "accepts") << " the metric names\n";
        return out.str();
    }
    bool same = expected.size() == actual.scores.size();
    for (size_t k = 0; same && k < expected.size(); ++k) {
        const oracle::PeerScore& e = expected[k].second;
        const scorer::Score& a = actual.scores[k].second;
        same = expected[k].first == actual.scores[k].first && std::memcmp(&e.precision, &a.precision, 8) == 0 &&
               std::memcmp(&e.recall, &a.recall, 8) == 0 && std::memcmp(&e.fmeasure, &a.fmeasure, 8) == 0 &&
               e.integers == actual.integer_zeros[k];
    }
    if (same) return {};
    out << describe(c);
    for (size_t k = 0; k < std::max(expected.size(), actual.scores.size()); ++k) {
        if (k < expected.size()) {
            const auto& [name, e] = expected[k];
            out << "peer " << printable(name) << ": " << e.precision << ' ' << e.recall << ' ' << e.fmeasure
                << (e.integers ? " (ints)" : "") << '\n';
        }
        if (k < actual.scores.size()) {
            const auto& [name, a] = actual.scores[k];
            out << "fast " << printable(name) << ": " << a.precision << ' ' << a.recall << ' ' << a.fmeasure
                << (actual.integer_zeros[k] ? " (ints)" : "") << '\n';
        }
    }
    return out.str();
}

// Fuzzer bytes to a case. Byte 0 and the low bits of byte 1 choose the
// metrics (rouge1..rouge9, rougeL, rougeLsum); byte 1's high bits the
// tokenization, stemming, and where the list of names starts (so their
// order varies; an odd start picks the Porter stemmer over the toy one).
// The rest is texts separated by 0xFF: the prediction, then the references
// (an empty one if none).
inline ConfigCase decode_config_input(const uint8_t* data, size_t size) {
    static const char* const kNames[] = {"rouge1", "rouge2", "rouge3", "rouge4", "rouge5",   "rouge6",
                                         "rouge7", "rouge8", "rouge9", "rougeL", "rougeLsum"};
    ConfigCase c;
    const unsigned bits = (size > 0 ? data[0] : 0xFFu) | (size > 1 ? (data[1] & 0x07u) << 8 : 0x700u);
    const unsigned options = size > 1 ? data[1] >> 3 : 0;
    const size_t rotation = options >> 3;  // 0..3
    for (size_t k = 0; k < 11; ++k) {
        const size_t name = (k + rotation) % 11;
        if (bits & (1u << name)) c.rouge_types.emplace_back(kNames[name]);
    }
    c.tokenization = static_cast<Tokenization>(options & 3u);
    if ((options & 4u) != 0) c.stemming = rotation % 2 == 0 ? Stemming::toy : Stemming::porter;
    const size_t skip = std::min<size_t>(size, 2);
    std::vector<std::string> texts;
    const std::string_view rest(reinterpret_cast<const char*>(data) + skip, size - skip);
    size_t start = 0;
    for (;;) {
        const size_t end = rest.find('\xFF', start);
        texts.push_back(repair_utf8(rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    c.prediction = texts[0];
    c.references.assign(texts.begin() + 1, texts.end());
    if (c.references.empty()) c.references.emplace_back();
    return c;
}

inline std::string check_config_input(const uint8_t* data, size_t size) {
    return check_config(decode_config_input(data, size));
}

}  // namespace tallygrams::fuzz
