#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "oracles/byte_range_tokenizer.hpp"
#include "oracles/straightforward_scorer.hpp"
#include "scorer/tokenizing/token_walk.hpp"

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

namespace {

using namespace tallygrams::scorer;

// The edges of random masks, chunk by chunk, from both edge kernels against
// a bit-by-bit listing: masks dense and sparse, all ones (tokens running
// across blocks) and all zeros, and runs of any number of blocks.
TEST(TokenEdges, KernelsListEveryEdgeInOrder) {
    std::mt19937_64 rng(23);
    const auto random_mask = [&](int kind) -> uint64_t {
        switch (kind) {
            case 0: return rng();
            case 1: return rng() & rng() & rng();  // sparse
            case 2: return ~uint64_t{0};
            case 3: return 0;
            default: return 0x5555555555555555ULL << (rng() % 2);
        }
    };
    for (int round = 0; round < 3000; ++round) {
        const size_t blocks = 1 + rng() % kWalkChunkBlocks;
        std::vector<uint64_t> masks(blocks);
        for (uint64_t& mask : masks) mask = random_mask(static_cast<int>(rng() % 5));
        const uint64_t inside_before = rng() % 2;
        std::vector<uint32_t> expected;
        uint64_t previous = inside_before;
        for (size_t bit = 0; bit < 64 * blocks; ++bit) {
            const uint64_t here = (masks[bit / 64] >> (bit % 64)) & 1;
            if (here != previous) expected.push_back(static_cast<uint32_t>(bit));
            previous = here;
        }
        const auto listed = [&](auto kernel, uint64_t& inside) {
            std::vector<uint32_t> edges(64 * blocks + detail::kEdgeSlack);
            edges.resize(kernel(masks.data(), blocks, inside, edges.data()));
            return edges;
        };
        uint64_t inside = inside_before;
        ASSERT_EQ(listed(detail::edge_offsets_baseline, inside), expected) << round;
        ASSERT_EQ(inside, masks.back() >> 63);
#if defined(TALLYGRAMS_X86_KERNELS)
        if (cpu_has_avx2()) {
            inside = inside_before;
            ASSERT_EQ(listed(detail::edge_offsets_avx2, inside), expected) << round;
            ASSERT_EQ(inside, masks.back() >> 63);
        }
#endif
    }
}

// Whole texts through the chunked walk, with both kernels, and through the
// token-at-a-time cursor: tokens across the 1 KiB chunk boundaries, and
// tokens longer than a chunk.
TEST(TokenEdges, WalkAcrossChunksFindsEveryToken) {
    std::mt19937_64 rng(29);
    for (size_t round = 0; round < 200; ++round) {
        std::string text;
        while (text.size() < 5000) {
            const size_t length = rng() % 8 == 0 ? rng() % 3000 : 1 + rng() % 12;
            for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + rng() % 26);
            text += rng() % 3 == 0 ? ", " : " ";
        }
        const auto expected = tallygrams::straightforward::tokenize(text);
        ScratchArena arena;
        const NormalizedText normalized = normalize(text, arena);
        const auto walked = [&](auto edges) {
            std::vector<std::string> tokens;
            walk_tokens<decltype(edges)>(normalized, [&](const char* token, size_t length) {
                tokens.emplace_back(token, length);
            });
            return tokens;
        };
        std::vector<std::vector<std::string>> results = {walked(detail::BaselineEdges{})};
        std::vector<std::string> by_cursor;  // the token-at-a-time walk
        TokenCursor cursor(normalized);
        for (size_t start = 0, length = 0; cursor.next(start, length);) by_cursor.emplace_back(normalized.bytes + start, length);
        results.push_back(by_cursor);
#if defined(TALLYGRAMS_X86_KERNELS)
        if (cpu_has_avx2()) results.push_back(walked(detail::Avx2Edges{}));
#endif
        for (const auto& tokens : results) {
            ASSERT_EQ(tokens.size(), expected.token_count()) << round;
            for (size_t i = 0; i < tokens.size(); ++i) ASSERT_EQ(tokens[i], expected.token(i)) << round;
        }
    }
}

}  // namespace
