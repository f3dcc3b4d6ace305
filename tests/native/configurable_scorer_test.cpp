// The configurable scorer against the oracle, bit for bit, on generated
// cases: random metric lists (duplicates, every n from 1 to 9, the
// trailing-newline spelling), several references (duplicates among them, so
// maxima tie), and texts from small repetitive vocabularies laid out over
// lines with blank lines, "\r\n" and lines without tokens, through each way
// of tokenizing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "oracles/rouge_config_checks.hpp"
#include "scorer/configurable_scorer.hpp"
#include "scorer/tokenizing/tokenizers.hpp"

namespace {

using namespace tallygrams;
using fuzz::ConfigCase;
using fuzz::Tokenization;

class CaseGenerator {
public:
    explicit CaseGenerator(uint64_t seed) : rng_(seed) {}

    ConfigCase next(Tokenization tokenization) {
        ConfigCase c;
        c.tokenization = tokenization;
        c.stemming = static_cast<fuzz::Stemming>(rng_() % 3);
        c.rouge_types = types();
        const auto& vocabulary = kVocabularies[rng_() % std::size(kVocabularies)];
        const size_t longest = pick_length();
        c.prediction = text(vocabulary, longest);
        for (size_t r = 1 + rng_() % 4; r > 0; --r) {
            const auto roll = rng_() % 10;
            if (roll == 0 && !c.references.empty()) {
                c.references.push_back(c.references[rng_() % c.references.size()]);  // tied maxima
            } else if (roll == 1) {
                c.references.push_back(c.prediction);
            } else {
                c.references.push_back(text(vocabulary, longest));
            }
        }
        return c;
    }

private:
    std::vector<std::string> types() {
        static const char* const kNames[] = {"rouge1", "rouge2", "rouge3", "rouge4", "rouge5", "rouge6", "rouge7",
                                             "rouge8", "rouge9", "rougeL", "rougeLsum", "rouge2\n", "rougeLsum"};
        if (rng_() % 8 == 0) return {"rougeLsum"};
        std::vector<std::string> names;
        for (size_t k = 1 + rng_() % 6; k > 0; --k) names.emplace_back(kNames[rng_() % std::size(kNames)]);
        return names;
    }

    size_t pick_length() {
        const auto roll = rng_() % 20;
        if (roll == 0) return 400;  // long lines: sentences beyond one and four words
        if (roll < 3) return 120;
        return 30;
    }

    std::string text(const std::vector<std::string>& vocabulary, size_t longest) {
        static const char* const kSeparators[] = {" ", " ", " ", " ",    "  ",     ", ",   ". ",  "\n",
                                                  "\n", "\n\n", "\r\n", "\n!!\n", " ?\n", ".\n", "\n \n"};
        const size_t tokens = rng_() % (longest + 1);
        // Long texts keep to few lines, so that their sentences are long.
        const size_t separators = longest > 30 ? 7 : std::size(kSeparators);
        std::string out;
        if (rng_() % 6 == 0) out += "\n";
        for (size_t i = 0; i < tokens; ++i) {
            out += vocabulary[rng_() % vocabulary.size()];
            if (i + 1 < tokens || rng_() % 4 == 0) out += kSeparators[rng_() % separators];
        }
        return out;
    }

    static inline const std::vector<std::string> kVocabularies[] = {
        {"a", "b"},
        {"a", "b"},
        {"a", "b", "c"},
        {"a", "b", "c"},
        {"a", "A", "b", "c", "d"},
        {"the", "cat", "sat", "on", "mat", "a"},
        {"bomb", "bombs", "cats", "catsup", "zebra", "zz", "abc", "abcd", "abcde"},
        {"x", "\xC4\xB0", "\xE2\x84\xAA", "k", "i", "caf\xC3\xA9", "cafe"},
        {"running", "runs", "ran", "generously", "generous", "flies", "fly", "a"},  // the Porter stemmer merges
        {"\xCE\xA3\xCE\x91\xCE\xA3", "\xCF\x83\xCE\xB1\xCF\x82", "\xE4\xB8\xAD\xE6\x96\x87", "\xE0\xA4\xB9\xE0\xA4\xBF", "a"},
    };

    std::mt19937_64 rng_;
};

void run_cases(Tokenization tokenization, uint64_t seed, int count) {
    CaseGenerator generate(seed);
    for (int round = 0; round < count; ++round) {
        const ConfigCase c = generate.next(tokenization);
        const std::string difference = fuzz::check_config(c);
        ASSERT_EQ(difference, "") << "round " << round;
    }
}

TEST(ConfigurableScorer, MatchesTheOracleWithLinesAsSentences) { run_cases(Tokenization::lines, 31, 4000); }

TEST(ConfigurableScorer, MatchesTheOracleWithCallerSplitSentences) {
    run_cases(Tokenization::split_sentences, 32, 2000);
}

// A caller's tokenizer: "a  b" has an empty token, tokens may hold "\n", and
// the whole text's tokens are not the lines' tokens run together.
TEST(ConfigurableScorer, MatchesTheOracleWithTheCallersOwnTokens) { run_cases(Tokenization::own_tokens, 33, 2000); }

// The tokenizer for every script through its adapter, against the oracle
// given that tokenizer's own output for the whole text and for each line.
TEST(ConfigurableScorer, MatchesTheOracleWithTheTokenizerForEveryScript) {
    run_cases(Tokenization::unicode_lines, 35, 1500);
}

TEST(ConfigurableScorer, EqualFmeasuresGoToTheFirstReference) {
    // Against "a b": "a" gives P 1/2, R 1; "a b c d" gives P 1, R 1/2; the
    // same F-measure, bit for bit, with precision and recall swapped.
    for (const auto& references : {std::vector<std::string>{"a", "a b c d"}, std::vector<std::string>{"a b c d", "a"}}) {
        ConfigCase c;
        c.rouge_types = {"rouge1", "rougeL", "rougeLsum"};
        c.references = references;
        c.prediction = "a b";
        ASSERT_EQ(fuzz::check_config(c), "");
        const fuzz::FastResult result = fuzz::fast_scores(c);
        const bool short_first = references[0] == "a";
        EXPECT_EQ(result.scores[0].second.precision, short_first ? 0.5 : 1.0);
    }
}

TEST(ConfigurableScorer, LcsMetricsGiveIntegerZerosForAnEmptySide) {
    const std::vector<std::vector<std::string>> cases = {
        {"", "a b"}, {"a b", ""}, {"!!\n\n", "a"}, {"", "x"}};  // prediction first, then references
    for (const auto& texts : cases) {
        ConfigCase c;
        c.rouge_types = {"rouge1", "rougeL", "rougeLsum"};
        c.prediction = texts[0];
        c.references.assign(texts.begin() + 1, texts.end());
        ASSERT_EQ(fuzz::check_config(c), "");
        const fuzz::FastResult result = fuzz::fast_scores(c);
        EXPECT_FALSE(result.integer_zeros[0]);
        EXPECT_TRUE(result.integer_zeros[1]);
        EXPECT_TRUE(result.integer_zeros[2]);
    }
    // All references score 0: the first wins, and only it is empty.
    ConfigCase c;
    c.rouge_types = {"rougeL"};
    c.prediction = "a";
    c.references = {"", "b"};
    EXPECT_EQ(fuzz::check_config(c), "");
    EXPECT_TRUE(fuzz::fast_scores(c).integer_zeros[0]);
    c.references = {"b", ""};
    EXPECT_EQ(fuzz::check_config(c), "");
    EXPECT_FALSE(fuzz::fast_scores(c).integer_zeros[0]);
}

TEST(ConfigurableScorer, EmptyTokensOfACallersTokenizerMatchEachOther) {
    ConfigCase c;
    c.tokenization = Tokenization::own_tokens;
    c.rouge_types = {"rouge1", "rouge3", "rougeLsum"};
    c.prediction = "a  b";  // "a", "", "b"
    c.references = {"a  b", " a", "a b"};
    ASSERT_EQ(fuzz::check_config(c), "");
    const fuzz::FastResult result = fuzz::fast_scores(c);
    EXPECT_EQ(result.scores[0].second.fmeasure, 1.0);
    EXPECT_EQ(result.scores[1].second.fmeasure, 1.0);
}

TEST(ConfigurableScorer, WideIdsGiveTheSameScores) {
    CaseGenerator generate(34);
    for (int round = 0; round < 500; ++round) {
        const ConfigCase c = generate.next(static_cast<Tokenization>(round % 4));
        scorer::RougeConfig config;
        for (const std::string& name : c.rouge_types) config.add(scorer::parse_rouge_type(name).type);
        scorer::ScratchArena arena;
        const fuzz::CaseTokenizer tokenize(c, config.needs_whole(), config.needs_sentences(), arena);
        std::vector<scorer::TokenizedText> references;
        for (const std::string& r : c.references) references.push_back(tokenize(r));
        const scorer::TokenizedText prediction = tokenize(c.prediction);
        scorer::Score narrow[scorer::RougeConfig::kMaxTypes];
        scorer::Score wide[scorer::RougeConfig::kMaxTypes];
        scorer::detail::score_configured<uint32_t>(config, references, prediction, narrow, nullptr, arena);
        scorer::detail::score_configured<uint64_t>(config, references, prediction, wide, nullptr, arena);
        ASSERT_EQ(std::memcmp(narrow, wide, config.size() * sizeof(scorer::Score)), 0) << fuzz::describe(c);
    }
}

// The scorer works within the caller's arena scope and gives back what it
// used, so that a batch can score pair after pair in one arena.
TEST(ConfigurableScorer, ReturnsItsWorkingMemory) {
    scorer::RougeConfig config;
    for (const char* name : {"rouge1", "rouge2", "rouge4", "rougeL", "rougeLsum"}) {
        config.add(scorer::parse_rouge_type(name).type);
    }
    scorer::ScratchArena arena;
    const scorer::TokenizedText reference = scorer::tokenize_ascii_text("The cat sat.\nOn the mat.", arena, true);
    const scorer::TokenizedText prediction = scorer::tokenize_ascii_text("the cat\non a mat", arena, true);
    const auto before = arena.mark();
    scorer::Score out[scorer::RougeConfig::kMaxTypes];
    scorer::score_tokenized(config, std::span(&reference, 1), prediction, out, arena);
    const auto after = arena.mark();
    EXPECT_EQ(before.used, after.used);
    EXPECT_EQ(before.overflow_blocks, after.overflow_blocks);
    EXPECT_EQ(after.overflow_blocks, 0u);  // a summary pair stays in the inline buffer
}

TEST(ConfigurableScorer, RefusesToScoreWithoutAReference) {
    scorer::RougeConfig config;
    config.add(scorer::RougeType::ngram(1));
    scorer::ScratchArena arena;
    const scorer::TokenizedText prediction = scorer::tokenize_ascii_text("a", arena, false);
    scorer::Score out[1];
    EXPECT_THROW(scorer::score_tokenized(config, std::span<const scorer::TokenizedText>(), prediction, out),
                 InternalFailure);
    // Nor with a text that lacks the sentences rougeLsum needs.
    config.add(scorer::RougeType::summary_lcs());
    scorer::Score two[2];
    EXPECT_THROW(scorer::score_tokenized(config, prediction, prediction, two), InternalFailure);
}

// A raised stop flag abandons a pair inside each metric whose work grows
// with the product of the lengths, on every path the summary-level LCS
// takes, once the pair is long enough to need it; an unraised one changes
// nothing, and the arena is left as it was either way.
TEST(ConfigurableScorer, AStopFlagAbandonsALongPairInsideEachQuadraticMetric) {
    const auto words = [](size_t count, size_t per_line, size_t seed) {
        std::string text;
        for (size_t i = 0; i < count; ++i) {
            text += "w" + std::to_string((i * 7 + seed) % 13) + (i % per_line == per_line - 1 ? "\n" : " ");
        }
        return text;
    };
    struct Text {
        size_t tokens;
        size_t per_line;
    };
    struct Case {
        const char* type;
        Text reference;
        Text prediction;
        bool checked;
    };
    const Case cases[] = {
        {"rouge4", {3000, 3000}, {3000, 3000}, false},
        {"rougeL", {3000, 3000}, {200, 200}, false},     // one group of columns: linear
        {"rougeL", {3000, 3000}, {3000, 3000}, true},    // many
        {"rougeLsum", {40, 10}, {40, 10}, false},        // a summary pair, packed
        {"rougeLsum", {5000, 10}, {40, 10}, true},       // packed, many short reference sentences
        {"rougeLsum", {5000, 5000}, {40, 10}, true},     // packed, one long reference sentence
        {"rougeLsum", {600, 30}, {600, 30}, true},       // too wide to pack: sentences of up to 64 tokens
        {"rougeLsum", {600, 200}, {600, 200}, true},     // longer sentences, rows kept in blocks
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.reference.tokens) + "/" +
                     std::to_string(c.reference.per_line) + " " + std::to_string(c.prediction.tokens) + "/" +
                     std::to_string(c.prediction.per_line));
        scorer::RougeConfig config;
        config.add(scorer::parse_rouge_type(c.type).type);
        scorer::ScratchArena arena;
        const scorer::TokenizedText reference =
            scorer::tokenize_ascii_text(words(c.reference.tokens, c.reference.per_line, 1), arena, true);
        const scorer::TokenizedText prediction =
            scorer::tokenize_ascii_text(words(c.prediction.tokens, c.prediction.per_line, 4), arena, true);
        const auto before = arena.mark();
        scorer::Score plain[1];
        scorer::Score quiet[1];
        scorer::score_tokenized(config, std::span(&reference, 1), prediction, plain, arena);
        const std::atomic<bool> lowered{false};
        scorer::score_tokenized(config, std::span(&reference, 1), prediction, quiet, arena, nullptr,
                                scorer::StopSignal(lowered));
        EXPECT_EQ(quiet[0].fmeasure, plain[0].fmeasure);
        const std::atomic<bool> raised{true};
        const auto scored = [&] {
            scorer::score_tokenized(config, std::span(&reference, 1), prediction, quiet, arena, nullptr,
                                    scorer::StopSignal(raised));
        };
        if (c.checked) {
            EXPECT_THROW(scored(), scorer::PairAbandoned);
        } else {
            EXPECT_NO_THROW(scored());
        }
        EXPECT_EQ(arena.mark().used, before.used);
    }
}

}  // namespace
