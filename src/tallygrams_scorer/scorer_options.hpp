// What a RougeScorer was asked for, parsed and checked once when it is made:
// the metrics, the tokenizer, whether tokens are stemmed, and how texts are
// cut into sentences for rougeLsum.
#pragma once

#include <array>

#include "boundary/arguments.hpp"
#include "boundary/py_err.hpp"
#include "scorer/rouge_types.hpp"

namespace tallygrams::companion {

enum class TokenizerKind {
    ascii,    // the default: runs of ASCII letters and digits, lower-cased
    unicode,  // tokenizer="unicode": runs of letters, marks and numbers in any script
    python,   // the caller's own: an object with tokenize(text), or a callable
};

// How a scorer turns one text into tokens: plain data, read without the
// interpreter lock.
struct TextRules {
    TokenizerKind tokenizer = TokenizerKind::ascii;
    bool stem = false;             // Porter stemming of tokens longer than 3 characters
    bool split_sentences = false;  // rougeLsum's sentences from NLTK, not from lines
    bool whole = true;             // the whole text's tokens are needed (n-grams, rougeL)
    bool sentences = false;        // its sentences' tokens are needed (rougeLsum)
};

struct ScorerOptions {
    scorer::RougeConfig config;
    // The distinct names as given, in order of first mention: the keys of
    // every result dict. Two names may denote one metric ("rouge2" and
    // "rouge2\n" both name rouge2, as rouge-score reads them), each keeping
    // its own key; metric_of_key[i] is key i's position in `config`.
    boundary::PyRef keys;  // tuple of str
    std::array<size_t, 64> metric_of_key{};
    TokenizerKind tokenizer = TokenizerKind::ascii;
    bool stem = false;              // Porter stemming of tokens longer than 3 characters
    bool split_sentences = false;   // rougeLsum's sentences from NLTK, not from lines
    boundary::PyRef tokenize;       // the caller's tokenizer as a callable, for TokenizerKind::python
    boundary::PyRef sent_tokenize;  // nltk.sent_tokenize, when split_sentences is set

    // The arguments as given, for pickling and repr.
    boundary::PyRef rouge_types;  // the caller's list, copied
    boundary::PyRef use_stemmer;
    boundary::PyRef split_summaries;
    boundary::PyRef tokenizer_argument;

    TextRules rules() const noexcept {
        return {tokenizer, stem, split_sentences, config.needs_whole(), config.needs_sentences()};
    }
};

// RougeScorer(rouge_types, use_stemmer=False, split_summaries=False, tokenizer=None)
inline constexpr boundary::Signature kScorerSignature{
    .function_name = "RougeScorer",
    .parameters = {{"rouge_types"},
                   {"use_stemmer", &boundary::kTruth},
                   {"split_summaries", &boundary::kTruth},
                   {"tokenizer"}},
    .required = 1,
};

boundary::Result<ScorerOptions> parse_scorer_options(const boundary::BoundArguments& arguments);

}  // namespace tallygrams::companion
