// The settings of an evaluation, as the script's flags give them, and the
// measures they ask for, named and ordered as the script prints them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallygrams::scorer::rouge155 {

enum class Formula : uint8_t {
    average,  // -f A: hits and counts summed over the references
    best,     // -f B: the reference with the best score alone
};

// -t: what is averaged over the evaluation's pairs.
enum class Units : uint8_t {
    pairs = 0,   // each pair's rounded recall, precision and F
    tokens = 1,  // the counts, summed before dividing
    counts = 2,  // the summed counts, printed as they are
};

// -u and -U with -2.
enum class SkipUnigrams : uint8_t {
    without,  // ROUGE-S only
    with,     // -u: ROUGE-SU only
    both,     // -U: ROUGE-S, then ROUGE-SU
};

struct Options {
    // Reading (-l, -b: 0 is no limit; -s; -m).
    size_t word_limit = 0;
    size_t byte_limit = 0;
    bool remove_stop_words = false;
    bool stem = false;
    // Measures (-n, -x, -w, -2, -u/-U). Texts are kept as given, since the
    // script prints them in the measures' names.
    int max_ngram = 0;
    bool lcs = true;
    std::optional<double> weight;
    std::string weight_text;
    std::optional<int64_t> skip_distance;  // negative: no limit
    std::string skip_text;
    SkipUnigrams skip_unigrams = SkipUnigrams::without;
    // Combining references and pairs (-f, -p, -t).
    Formula formula = Formula::average;
    double alpha = 0.5;
    Units units = Units::pairs;
    // Intervals and output (-c, -r, -d).
    double confidence = 95;
    std::string confidence_text = "95";
    size_t resamples = 1000;
    bool per_pair = false;
};

enum class MeasureKind : uint8_t { ngram, lcs, weighted_lcs, skip_bigram };

struct Measure {
    MeasureKind kind;
    int n = 0;                       // ngram: its size
    bool with_unigrams = false;      // skip_bigram: ROUGE-SU
    std::string name;                // ROUGE-1, ROUGE-L, ROUGE-W-1.2, ROUGE-SU4, ROUGE-S*, ...
};

// The measures in the order the script computes and prints them.
inline std::vector<Measure> measures_of(const Options& options) {
    std::vector<Measure> out;
    for (int n = 1; n <= options.max_ngram; ++n) out.push_back({MeasureKind::ngram, n, false, "ROUGE-" + std::to_string(n)});
    if (options.lcs) out.push_back({MeasureKind::lcs, 0, false, "ROUGE-L"});
    if (options.weight) out.push_back({MeasureKind::weighted_lcs, 0, false, "ROUGE-W-" + options.weight_text});
    if (options.skip_distance) {
        const std::string gap = *options.skip_distance >= 0 ? options.skip_text : std::string("*");
        if (options.skip_unigrams != SkipUnigrams::with) {
            out.push_back({MeasureKind::skip_bigram, 0, false, "ROUGE-S" + gap});
        }
        if (options.skip_unigrams != SkipUnigrams::without) {
            out.push_back({MeasureKind::skip_bigram, 0, true, "ROUGE-SU" + gap});
        }
    }
    return out;
}

}  // namespace tallygrams::scorer::rouge155
