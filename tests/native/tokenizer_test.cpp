#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "oracles/byte_range_tokenizer.hpp"
#include "oracles/straightforward_scorer.hpp"

#include <random>

namespace {

using tallygrams::reference::tokenize;

std::vector<std::string> tokens_of(std::string_view text) {
    const auto tokenized = tokenize(text);
    std::vector<std::string> out;
    for (size_t i = 0; i < tokenized.token_count(); ++i) out.emplace_back(tokenized.token(i));
    return out;
}

struct TokenCase {
    const char* name;
    std::string text;
    std::vector<std::string> tokens;
};

class TokenizerTable : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenizerTable, YieldsExpectedTokens) {
    EXPECT_EQ(tokens_of(GetParam().text), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, TokenizerTable,
    testing::Values(
        TokenCase{"sentence", "The quick brown fox.", {"the", "quick", "brown", "fox"}},
        TokenCase{"comma", "Hello,World", {"hello", "world"}},
        TokenCase{"apostrophe", "don't", {"don", "t"}},
        TokenCase{"underscore_hyphen", "snake_case-name", {"snake", "case", "name"}},
        TokenCase{"digits", "COVID-19 in 2020s", {"covid", "19", "in", "2020s"}},
        TokenCase{"decimal", "3.14", {"3", "14"}},
        TokenCase{"mixed_case", "HeLLo", {"hello"}},
        TokenCase{"empty", "", {}},
        TokenCase{"whitespace", "  \t\n", {}},
        TokenCase{"punctuation", "!!!", {}},
        TokenCase{"nul_separates", std::string("a\0b", 3), {"a", "b"}},
        TokenCase{"precomposed_accent", "caf\u00e9 au lait", {"caf", "au", "lait"}},
        TokenCase{"combining_accent", "cafe\u0301", {"cafe"}},
        TokenCase{"diaeresis", "na\u00efve", {"na", "ve"}},
        TokenCase{"sharp_s", "Stra\u00dfe", {"stra", "e"}},
        TokenCase{"dotted_capital_i", "\u0130stanbul", {"i", "stanbul"}},
        TokenCase{"kelvin_joins", "\u212aelvin", {"kelvin"}},
        TokenCase{"kelvin_between_letters", "a\u212ab", {"akb"}},
        TokenCase{"superscript", "x\u00b2", {"x"}},
        TokenCase{"other_scripts", "\u03a3\u03bf\u03c6\u03af\u03b1 \u041c\u043e\u0441\u043a\u0432\u0430 \u4e2d\u6587 \uff21\uff11",
                  {}},
        TokenCase{"emoji_between", "a\U0001F600b", {"a", "b"}},
        TokenCase{"glued_alnum", "abc123def", {"abc123def"}},
        TokenCase{"trailing_token", "end", {"end"}},
        TokenCase{"leading_separators", "...x", {"x"}}),
    [](const testing::TestParamInfo<TokenCase>& info) { return std::string(info.param.name); });

TEST(Tokenizer, CaseFormsGiveEqualTokens) {
    EXPECT_EQ(tokens_of("Cat"), tokens_of("cat"));
    EXPECT_EQ(tokens_of("CAT"), tokens_of("cat"));
}

TEST(Tokenizer, LongAsciiAndNonAsciiTextsAgreeOnAsciiPart) {
    // Crosses the 64-byte block scan, with the high byte at every position.
    std::string ascii;
    for (int i = 0; i < 40; ++i) ascii.append("Word").append(std::to_string(i)).append(" ");
    const auto expected = tokens_of(ascii);
    for (size_t pos = 0; pos <= ascii.size(); ++pos) {
        if (pos > 0 && ascii[pos - 1] != ' ') continue;  // only between words
        std::string text = ascii;
        text.insert(pos, " \u00e9 ");
        EXPECT_EQ(tokens_of(text), expected) << "insert at " << pos;
    }
}

TEST(Tokenizer, SpansAreOrderedAndSeparated) {
    const auto t = tokenize("  a bb, CCC\u00e9dd ");
    ASSERT_EQ(t.token_count(), 4u);
    for (size_t i = 0; i + 1 < t.token_count(); ++i) {
        EXPECT_LT(t.spans()[i].end, t.spans()[i + 1].start);
        EXPECT_EQ(t.normalized()[t.spans()[i].end], ' ');
    }
    for (char c : t.normalized()) EXPECT_TRUE(c == ' ' || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
}

TEST(Tokenizer, ReadingATokenOutOfRangeIsAnInternalFailure) {
    const auto t = tokenize("one two");
    EXPECT_THROW(static_cast<void>(t.token(2)), tallygrams::InternalFailure);
}

}  // namespace

namespace {

// The production tokenizer against the byte-at-a-time one on random mixtures
// of the pieces that matter: case, digits, separators, NUL, the two special
// non-ASCII letters, other non-ASCII text, and lengths across 64-byte blocks.
TEST(Tokenizer, AgreesWithByteAtATimeTokenizer) {
    const std::vector<std::string> pieces = {"a", "Z", "0", "9", " ", "  ", "\t", "\n", std::string("\0", 1), "-",
                                             "_", "'", ".", "\xC4\xB0", "\xE2\x84\xAA", "\xC3\xA9", "\xCC\x81",
                                             "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xCE\xA3", "word", "MiXeD123"};
    std::mt19937_64 rng(77);
    for (int round = 0; round < 5000; ++round) {
        std::string text;
        for (size_t k = rng() % 120; k > 0; --k) text += pieces[rng() % pieces.size()];
        const auto expected = tallygrams::straightforward::tokenize(text);
        const auto actual = tokenize(text);
        ASSERT_EQ(actual.token_count(), expected.token_count()) << text;
        for (size_t i = 0; i < actual.token_count(); ++i) ASSERT_EQ(actual.token(i), expected.token(i)) << text;
    }
}

// The AVX2 normalisation and the popcount count against the baseline
// kernels, on texts of every length around the 32- and 64-byte steps, with
// and without bytes of 0x80 and above: the same bytes, masks and verdicts.
TEST(Tokenizer, WideKernelsAgreeWithTheBaseline) {
    if (!tallygrams::scorer::cpu_has_avx2()) GTEST_SKIP() << "no AVX2 on this processor";
    using namespace tallygrams::scorer;
    std::mt19937_64 rng(17);
    const std::string alphabet = "abcXYZ09 ,.-_\t\x7f\x01@[`{";
    for (size_t length = 0; length < 300; ++length) {
        for (int variant = 0; variant < 4; ++variant) {
            std::string text;
            for (size_t i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
            if (variant == 1 && length > 0) text[rng() % length] = static_cast<char>(0x80 + rng() % 0x80);
            const size_t blocks = (length + 63) / 64;
            std::vector<char> wide(64 * blocks + 64, '#'), base(64 * blocks + 64, '#');
            std::vector<uint64_t> wide_masks(blocks + 1, 7), base_masks(blocks + 1, 7);
            const bool wide_ascii = detail::normalize_if_ascii_avx2(text, wide.data(), wide_masks.data());
            const bool base_ascii = detail::normalize_if_ascii_baseline(text, base.data(), base_masks.data());
            ASSERT_EQ(wide_ascii, base_ascii) << length;
            ASSERT_EQ(wide_ascii, variant != 1 || length == 0);
            ASSERT_EQ(wide, base) << length;
            ASSERT_EQ(wide_masks, base_masks) << length;
            ScratchArena arena;
            const NormalizedText normalized = normalize(text, arena);
            ASSERT_EQ(detail::count_token_starts_popcnt(normalized), detail::count_token_starts_baseline(normalized));
        }
    }
}

// normalize_bytes reads bytes, not UTF-8: every byte of 0x80 and above
// separates (even where the Unicode path would make a letter of it), and
// byte i of the output stands for byte i of the input, across block ends.
TEST(Tokenizer, ByteNormalisationSeparatesEveryHighByteInPlace) {
    using namespace tallygrams::scorer;
    std::mt19937_64 rng(23);
    const std::vector<std::string> pieces = {"Ab", "9", " ", "\xC4\xB0", "\xE2\x84\xAA", "\xFF", "\x80x", "-"};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (size_t k = rng() % 60; k > 0; --k) text += pieces[rng() % pieces.size()];
        ScratchArena arena;
        const NormalizedText normalized = normalize_bytes(text, arena);
        ASSERT_EQ(normalized.length, text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            const auto b = static_cast<unsigned char>(text[i]);
            const bool alnum = (b >= '0' && b <= '9') || ((b | 0x20) >= 'a' && (b | 0x20) <= 'z');
            ASSERT_EQ(normalized.bytes[i], alnum ? static_cast<char>(b >= 'A' && b <= 'Z' ? b | 0x20 : b) : ' ') << i;
        }
        size_t tokens = 0;
        for_each_token(normalized, [&](size_t start, size_t length) {
            ++tokens;
            ASSERT_LE(start + length, text.size());
        });
        ASSERT_EQ(tokens, count_tokens(normalized));
    }
}

}  // namespace
