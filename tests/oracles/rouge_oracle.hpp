// rouge-score's RougeScorer, transcribed as directly as C++ allows: token
// strings, n-gram counters keyed by token tuples, the full LCS table and its
// backtrack, the summary-level union with its clipped hits, the per-metric
// argmax over references, and a result list filled like a Python dict. Slow
// on purpose and sharing no code with the production scorer: this is what
// the fast path is checked against.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "oracles/straightforward_scorer.hpp"

namespace tallygrams::oracle {

using Tokens = std::vector<std::string>;
using Tokenizer = std::function<Tokens(std::string_view)>;
using SentenceSplitter = std::function<std::vector<std::string>(std::string_view)>;

// A Score as the peer returns it. `integers` marks the Score(0, 0, 0) made
// of Python ints that the LCS metrics return for an empty side.
struct PeerScore {
    double precision = 0.0;
    double recall = 0.0;
    double fmeasure = 0.0;
    bool integers = false;
};

using ScoreDict = std::vector<std::pair<std::string, PeerScore>>;  // in insertion order

// str.split("\n").
inline std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            return lines;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// rouge_score.tokenize.tokenize: lower-case, every run of [a-z0-9] a token,
// tokens longer than 3 characters replaced by stem(token) when a stemmer is
// given, then everything that is not a non-empty run of [a-z0-9] dropped.
inline Tokenizer default_tokenizer(std::function<std::string(const std::string&)> stem = nullptr) {
    return [stem](std::string_view text) {
        const straightforward::TokenizedText words = straightforward::tokenize(text);
        Tokens tokens;
        for (size_t i = 0; i < words.token_count(); ++i) {
            std::string token(words.token(i));
            if (stem && token.size() > 3) token = stem(token);
            const bool valid = !token.empty() && std::all_of(token.begin(), token.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            });
            if (valid) tokens.push_back(token);
        }
        return tokens;
    };
}

inline double fmeasure(double precision, double recall) {
    if (precision + recall > 0) return 2 * precision * recall / (precision + recall);
    return 0.0;
}

inline double divide(uint64_t a, uint64_t b) { return static_cast<double>(a) / static_cast<double>(b); }

// _create_ngrams
inline std::map<Tokens, uint64_t> create_ngrams(const Tokens& tokens, size_t n) {
    std::map<Tokens, uint64_t> ngrams;
    for (size_t i = 0; i + n <= tokens.size(); ++i) ++ngrams[Tokens(tokens.begin() + i, tokens.begin() + i + n)];
    return ngrams;
}

// _score_ngrams
inline PeerScore score_ngrams(const std::map<Tokens, uint64_t>& target, const std::map<Tokens, uint64_t>& prediction) {
    uint64_t intersection = 0;
    for (const auto& [ngram, count] : target) {
        const auto found = prediction.find(ngram);
        intersection += std::min(count, found == prediction.end() ? 0 : found->second);
    }
    uint64_t target_count = 0;
    uint64_t prediction_count = 0;
    for (const auto& entry : target) target_count += entry.second;
    for (const auto& entry : prediction) prediction_count += entry.second;
    PeerScore score;
    score.precision = divide(intersection, std::max<uint64_t>(prediction_count, 1));
    score.recall = divide(intersection, std::max<uint64_t>(target_count, 1));
    score.fmeasure = fmeasure(score.precision, score.recall);
    return score;
}

using Table = std::vector<std::vector<uint64_t>>;

// _lcs_table
inline Table lcs_table(const Tokens& ref, const Tokens& can) {
    Table table(ref.size() + 1, std::vector<uint64_t>(can.size() + 1, 0));
    for (size_t i = 1; i <= ref.size(); ++i) {
        for (size_t j = 1; j <= can.size(); ++j) {
            table[i][j] = ref[i - 1] == can[j - 1] ? table[i - 1][j - 1] + 1 : std::max(table[i - 1][j], table[i][j - 1]);
        }
    }
    return table;
}

// _score_lcs
inline PeerScore score_lcs(const Tokens& target, const Tokens& prediction) {
    if (target.empty() || prediction.empty()) return PeerScore{0, 0, 0, true};
    const uint64_t length = lcs_table(target, prediction)[target.size()][prediction.size()];
    PeerScore score;
    score.precision = divide(length, prediction.size());
    score.recall = divide(length, target.size());
    score.fmeasure = fmeasure(score.precision, score.recall);
    return score;
}

// _backtrack_norec: reference indices of one LCS. `flipped_ties` takes the
// other branch on ties, to show that a test can tell the two apart.
inline std::vector<size_t> backtrack(const Table& t, const Tokens& ref, const Tokens& can, bool flipped_ties = false) {
    size_t i = ref.size();
    size_t j = can.size();
    std::vector<size_t> lcs;
    while (i > 0 && j > 0) {
        if (ref[i - 1] == can[j - 1]) {
            lcs.insert(lcs.begin(), i - 1);
            --i;
            --j;
        } else if (flipped_ties ? t[i][j - 1] >= t[i - 1][j] : t[i][j - 1] > t[i - 1][j]) {
            --j;
        } else {
            --i;
        }
    }
    return lcs;
}

// _union_lcs with lcs_ind and _find_union
inline Tokens union_lcs(const Tokens& ref, const std::vector<Tokens>& candidates, bool flipped_ties = false) {
    std::set<size_t> indices;
    for (const Tokens& can : candidates) {
        for (size_t i : backtrack(lcs_table(ref, can), ref, can, flipped_ties)) indices.insert(i);
    }
    Tokens tokens;
    for (size_t i : indices) tokens.push_back(ref[i]);
    return tokens;
}

// _summary_level_lcs
inline PeerScore summary_level_lcs(const std::vector<Tokens>& ref_sent, const std::vector<Tokens>& can_sent,
                                   bool flipped_ties = false) {
    if (ref_sent.empty() || can_sent.empty()) return PeerScore{0, 0, 0, true};
    uint64_t m = 0;
    uint64_t n = 0;
    for (const Tokens& s : ref_sent) m += s.size();
    for (const Tokens& s : can_sent) n += s.size();
    if (n == 0 || m == 0) return PeerScore{0, 0, 0, true};

    std::map<std::string, int64_t> token_cnts_r;
    std::map<std::string, int64_t> token_cnts_c;
    for (const Tokens& s : ref_sent) {
        for (const std::string& t : s) ++token_cnts_r[t];
    }
    for (const Tokens& s : can_sent) {
        for (const std::string& t : s) ++token_cnts_c[t];
    }
    uint64_t hits = 0;
    for (const Tokens& r : ref_sent) {
        for (const std::string& t : union_lcs(r, can_sent, flipped_ties)) {
            if (token_cnts_c[t] > 0 && token_cnts_r[t] > 0) {
                hits += 1;
                token_cnts_c[t] -= 1;
                token_cnts_r[t] -= 1;
            }
        }
    }
    PeerScore score;
    score.recall = divide(hits, m);
    score.precision = divide(hits, n);
    score.fmeasure = fmeasure(score.precision, score.recall);
    return score;
}

// RougeScorer(rouge_types, tokenizer=...), with the sentence split of its
// rougeLsum made explicit (lines by default; a sentence splitter when the
// peer is asked to split summaries).
class PeerScorer {
public:
    PeerScorer(std::vector<std::string> rouge_types, Tokenizer tokenizer, SentenceSplitter splitter = split_lines,
               bool flipped_ties = false)
        : rouge_types_(std::move(rouge_types)),
          tokenizer_(std::move(tokenizer)),
          splitter_(std::move(splitter)),
          flipped_ties_(flipped_ties) {}

    ScoreDict score(std::string_view target, std::string_view prediction) const {
        Tokens target_tokens;
        Tokens prediction_tokens;
        if (!(rouge_types_.size() == 1 && rouge_types_[0] == "rougeLsum")) {
            target_tokens = tokenizer_(target);
            prediction_tokens = tokenizer_(prediction);
        }
        ScoreDict result;
        for (const std::string& rouge_type : rouge_types_) {
            PeerScore scores;
            if (rouge_type == "rougeL") {
                scores = score_lcs(target_tokens, prediction_tokens);
            } else if (rouge_type == "rougeLsum") {
                scores = summary_level_lcs(sentence_tokens(target), sentence_tokens(prediction), flipped_ties_);
            } else if (matches_rouge_n(rouge_type)) {
                const int n = rouge_type[5] - '0';
                if (n <= 0) throw std::invalid_argument("rougen requires positive n: " + rouge_type);
                scores = score_ngrams(create_ngrams(target_tokens, n), create_ngrams(prediction_tokens, n));
            } else {
                throw std::invalid_argument("Invalid rouge type: " + rouge_type);
            }
            set(result, rouge_type, scores);
        }
        return result;
    }

    ScoreDict score_multi(const std::vector<std::string>& targets, std::string_view prediction) const {
        std::vector<ScoreDict> score_dicts;
        for (const std::string& t : targets) score_dicts.push_back(score(t, prediction));
        if (score_dicts.empty()) throw std::invalid_argument("attempt to get argmax of an empty sequence");
        ScoreDict max_score;
        for (const std::string& k : rouge_types_) {
            size_t index = 0;  // np.argmax: the first of the greatest
            for (size_t i = 1; i < score_dicts.size(); ++i) {
                if (get(score_dicts[i], k).fmeasure > get(score_dicts[index], k).fmeasure) index = i;
            }
            set(max_score, k, get(score_dicts[index], k));
        }
        return max_score;
    }

private:
    // re.match(r"rouge[0-9]$", ...): `$` also matches before a final "\n".
    static bool matches_rouge_n(const std::string& name) {
        const bool tail = name.size() == 6 || (name.size() == 7 && name[6] == '\n');
        return tail && name.rfind("rouge", 0) == 0 && name[5] >= '0' && name[5] <= '9';
    }

    std::vector<Tokens> sentence_tokens(std::string_view text) const {
        std::vector<Tokens> sentences;
        for (const std::string& s : splitter_(text)) {
            if (!s.empty()) sentences.push_back(tokenizer_(s));
        }
        return sentences;
    }

    static void set(ScoreDict& dict, const std::string& key, const PeerScore& value) {
        for (auto& entry : dict) {
            if (entry.first == key) {
                entry.second = value;
                return;
            }
        }
        dict.emplace_back(key, value);
    }

    static const PeerScore& get(const ScoreDict& dict, const std::string& key) {
        for (const auto& entry : dict) {
            if (entry.first == key) return entry.second;
        }
        throw std::out_of_range(key);
    }

    std::vector<std::string> rouge_types_;
    Tokenizer tokenizer_;
    SentenceSplitter splitter_;
    bool flipped_ties_;
};

}  // namespace tallygrams::oracle
