// The tokenizer adapters: line breaks cut the one token walk exactly where
// tokenizing line by line would, the transform hook sees every token, and
// token texts from anywhere end up padded.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "oracles/rouge_config_checks.hpp"
#include "oracles/rouge_oracle.hpp"
#include "scorer/stemming/stemming.hpp"
#include "scorer/tokenizing/tokenizers.hpp"
#include "scorer/tokenizing/unicode_tokenized_text.hpp"

namespace {

using namespace tallygrams;
using scorer::ScratchArena;
using scorer::TokenSequence;

std::vector<std::vector<std::string>> sentences_of(const TokenSequence& sequence) {
    std::vector<std::vector<std::string>> sentences;
    size_t start = 0;
    for (size_t k = 0; k < sequence.sentence_count; ++k) {
        std::vector<std::string> sentence;
        for (size_t i = start; i < sequence.sentence_ends[k]; ++i) sentence.emplace_back(sequence.token(i));
        sentences.push_back(sentence);
        start = sequence.sentence_ends[k];
    }
    EXPECT_EQ(start, sequence.token_count);
    return sentences;
}

// Texts built from pieces that stress the cut: the Kelvin sign (which
// shortens the normalised text), dotted capital I, other multi-byte
// characters, "\r\n", blank lines and lines without tokens.
std::string random_text(std::mt19937_64& rng) {
    static const std::vector<std::string> pieces = {
        "a",     "Bc",   "word", "bomb",     "zebra", "\xE2\x84\xAA", "\xC4\xB0", "caf\xC3\xA9", "\n", "\n",
        "\r\n",  "\n\n", " ",    " ",        "!!",    "x\xE2\x84\xAAy", "12",     "\xE4\xB8\xAD", ".",  "catsup"};
    std::string text;
    for (size_t k = rng() % 40; k > 0; --k) text += pieces[rng() % pieces.size()];
    return text;
}

TEST(AsciiTokenizer, LinesAreTheTokensOfEachLine) {
    std::mt19937_64 rng(11);
    const oracle::Tokenizer per_line = oracle::default_tokenizer();
    for (int round = 0; round < 3000; ++round) {
        const std::string text = random_text(rng);
        ScratchArena arena;
        const TokenSequence lines = scorer::tokenize_ascii(text, arena, true);
        std::vector<std::vector<std::string>> expected;
        for (const std::string& line : oracle::split_lines(text)) expected.push_back(per_line(line));
        ASSERT_EQ(sentences_of(lines), expected) << fuzz::printable(text);

        // Unmarked, the same tokens form one sentence.
        const TokenSequence whole = scorer::tokenize_ascii(text, arena, false);
        ASSERT_EQ(whole.sentence_count, 1u);
        ASSERT_EQ(whole.token_count, lines.token_count);
    }
}

TEST(AsciiTokenizer, TransformKeepsGrowsShortensAndDrops) {
    std::mt19937_64 rng(12);
    const oracle::Tokenizer expected_tokens = oracle::default_tokenizer(fuzz::toy_stem);
    for (int round = 0; round < 2000; ++round) {
        const std::string text = random_text(rng);
        ScratchArena arena;
        const TokenSequence tokens = scorer::tokenize_ascii(text, arena, true, fuzz::ToyStem{});
        std::vector<std::string> actual;
        for (size_t i = 0; i < tokens.token_count; ++i) actual.emplace_back(tokens.token(i));
        ASSERT_EQ(actual, expected_tokens(text)) << fuzz::printable(text);
    }
}

TEST(AsciiTokenizer, PorterStemmingAsTheDefaultTokenizerDoesIt) {
    std::mt19937_64 rng(14);
    const oracle::Tokenizer expected_tokens = oracle::default_tokenizer(fuzz::porter_stem_string);
    for (int round = 0; round < 2000; ++round) {
        const std::string text = random_text(rng) + " Running flies generously agreed";
        ScratchArena arena;
        const TokenSequence tokens = scorer::tokenize_ascii(text, arena, true, scorer::StemLongTokens{});
        std::vector<std::string> actual;
        for (size_t i = 0; i < tokens.token_count; ++i) actual.emplace_back(tokens.token(i));
        ASSERT_EQ(actual, expected_tokens(text)) << fuzz::printable(text);
    }
}

TEST(UnicodeTokenizer, LinesAreTheTokensOfEachLine) {
    std::mt19937_64 rng(15);
    for (int round = 0; round < 2000; ++round) {
        // Final sigma and dotted capital I next to line breaks, among others.
        std::string text = random_text(rng);
        if (round % 2 == 0) text += "\xCE\xA3\n\xCE\xA3\xCE\x91\xCE\xA3\r\n\xC4\xB0\xE4\xB8\xAD";
        ScratchArena arena;
        const TokenSequence lines = scorer::tokenize_unicode(text, arena, true);
        std::vector<std::vector<std::string>> expected;
        for (const std::string& line : oracle::split_lines(text)) expected.push_back(fuzz::unicode_tokens(line));
        ASSERT_EQ(sentences_of(lines), expected) << fuzz::printable(text);
    }
}

TEST(AsciiTokenizer, CallerSplitSentencesAreTokenizedOneByOne) {
    ScratchArena arena;
    const std::vector<std::string_view> sentences = {"The cat.", "", "!!", "Sat on\nthe MAT"};
    const TokenSequence tokens = scorer::tokenize_ascii_sentences(sentences, arena);
    const std::vector<std::vector<std::string>> expected = {{"the", "cat"}, {}, {}, {"sat", "on", "the", "mat"}};
    EXPECT_EQ(sentences_of(tokens), expected);
}

// A tokenizer reporting through callbacks, with views into memory that is
// gone by the time the tokens are used: the adapter must have copied them.
TEST(CollectTokens, CopiesTokensAndMarksLines) {
    ScratchArena arena;
    TokenSequence tokens;
    {
        std::string scratch;
        tokens = scorer::collect_tokens(
            [&](auto on_token, auto on_newline) {
                for (const char* word : {"alpha", "\n", "beta", "gamma", "\n", "\n", "delta"}) {
                    if (word[0] == '\n') {
                        on_newline();
                        continue;
                    }
                    scratch = word;
                    on_token(std::string_view(scratch));
                    scratch.assign(scratch.size(), '#');
                }
            },
            arena, true, fuzz::ToyStem{});
    }
    const std::vector<std::vector<std::string>> expected = {{"alph"}, {"beta", "gamm"}, {}, {"delt"}};
    EXPECT_EQ(sentences_of(tokens), expected);
}

TEST(TokenStore, ViewsSurviveGrowthAndKeepTheirSlack) {
    ScratchArena arena;
    scorer::TokenStore store(arena);
    std::vector<std::string> originals;
    std::vector<std::string_view> views;
    std::mt19937_64 rng(13);
    for (int i = 0; i < 3000; ++i) {
        // Mostly short texts, now and then one longer than a whole chunk.
        const size_t length = rng() % 50 == 0 ? 700 + rng() % 3000 : rng() % 12;
        std::string text;
        for (size_t k = 0; k < length; ++k) text += static_cast<char>('a' + rng() % 26);
        originals.push_back(text);
        views.push_back(store.copy(text));
    }
    for (size_t i = 0; i < views.size(); ++i) {
        ASSERT_EQ(views[i], originals[i]);
        // The slack after every text is readable and initialised.
        unsigned sum = 0;
        for (size_t k = 0; k < scorer::kTokenSlack; ++k) sum += static_cast<unsigned char>(views[i].data()[views[i].size() + k]);
        EXPECT_GE(sum, 0u);
    }
    char* room = store.room(4);
    EXPECT_THROW(store.commit(5), InternalFailure);
    (void)room;
}

}  // namespace
