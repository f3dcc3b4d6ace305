// The tokenizer for every script: the cases worth pinning by hand. Every
// code point, and real sentences, are checked against the Python oracle by
// unicode_differential.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "scorer/tokenizing/token_walk.hpp"
#include "scorer/tokenizing/unicode_tokenizer.hpp"

namespace {

using tallygrams::scorer::for_each_unicode_token;
using tallygrams::scorer::ScratchArena;

// Tokens, with "\n" standing for each reported line break.
std::vector<std::string> events_of(std::string_view text) {
    ScratchArena arena;
    std::vector<std::string_view> views;
    for_each_unicode_token(
        text, arena, [&](std::string_view token) { views.push_back(token); },
        [&] { views.push_back("\n"); });
    // Copied only now: every view must still point at intact arena memory.
    return {views.begin(), views.end()};
}

using Events = std::vector<std::string>;

struct Case {
    const char* name;
    std::string text;
    Events events;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class UnicodeTokens : public testing::TestWithParam<Case> {};

TEST_P(UnicodeTokens, AreAsDefined) { EXPECT_EQ(events_of(GetParam().text), GetParam().events); }

std::string case_name(const testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Scripts, UnicodeTokens,
    testing::Values(
        Case{"ascii", "The quick, brown FOX-19.", {"the", "quick", "brown", "fox", "19"}},
        Case{"empty", "", {}},
        Case{"han_between_latin", "abc\u4e2d\u6587def", {"abc", "\u4e2d", "\u6587", "def"}},
        Case{"thai_marks_are_own_tokens", "\u0e01\u0e34\u0e19",  // KO KAI, SARA I (Mn), NO NU
             {"\u0e01", "\u0e34", "\u0e19"}},
        Case{"kana", "\u3072\u3089\u30ab\u30bf", {"\u3072", "\u3089", "\u30ab", "\u30bf"}},
        Case{"devanagari_marks_join", "\u0928\u092e\u0938\u094d\u0924\u0947 \u0926\u0941\u0928\u093f\u092f\u093e",
             {"\u0928\u092e\u0938\u094d\u0924\u0947", "\u0926\u0941\u0928\u093f\u092f\u093e"}},
        Case{"hangul_is_spaced", "\ud55c\uad6d\uc5b4 \ubb38\uc7a5", {"\ud55c\uad6d\uc5b4", "\ubb38\uc7a5"}},
        Case{"arabic", "\u0645\u0631\u062d\u0628\u0627 \u0628\u0643\u0645", {"\u0645\u0631\u062d\u0628\u0627", "\u0628\u0643\u0645"}},
        Case{"cyrillic_upper", "\u041c\u041e\u0421\u041a\u0412\u0410", {"\u043c\u043e\u0441\u043a\u0432\u0430"}},
        Case{"precomposed_accent", "CAF\u00c9 cr\u00e8me", {"caf\u00e9", "cr\u00e8me"}},
        Case{"combining_accent_joins", "Cafe\u0301", {"cafe\u0301"}},
        Case{"mark_after_own_token_starts_a_run", "\u4e2d\u0301", {"\u4e2d", "\u0301"}},
        Case{"emoji_and_zwj_separate", "a\U0001F469\u200D\U0001F4BBb", {"a", "b"}},
        Case{"apostrophe_and_nbsp_separate", "don't\u00a0stop", {"don", "t", "stop"}},
        Case{"other_numbers", "x\u00b2 \u2167 \u0663", {"x\u00b2", "\u2177", "\u0663"}},
        Case{"nul_separates", std::string("a\0b", 3), {"a", "b"}}),
    case_name);

// U+0130 lower-cases to two code points, "i" and U+0307; both are token
// characters, so they stay in the word. U+212A KELVIN SIGN becomes ASCII.
INSTANTIATE_TEST_SUITE_P(
    Lowering, UnicodeTokens,
    testing::Values(Case{"dotted_capital_i", "\u0130STANBUL", {"i\u0307stanbul"}},
                    Case{"dotted_capital_i_inside", "x\u0130y \u4e2d\u0130", {"xi\u0307y", "\u4e2d", "i\u0307"}},
                    Case{"kelvin_joins_ascii", "a\u212ab", {"akb"}},
                    Case{"sharp_s_capital", "STRA\u1e9eE", {"stra\u00dfe"}},
                    Case{"grows_two_to_three_bytes", "\u023a\u023a", {"\u2c65\u2c65"}},
                    Case{"georgian_capital", "\u10a0", {"\u2d00"}}),
    case_name);

// CPython's rule: U+03A3 becomes final sigma U+03C2 after a cased letter and
// not before one, looking past case-ignorable characters (which include the
// apostrophe, the full stop and combining marks), else U+03C3.
INSTANTIATE_TEST_SUITE_P(
    FinalSigma, UnicodeTokens,
    testing::Values(Case{"word_end", "\u039f\u0394\u039f\u03a3", {"\u03bf\u03b4\u03bf\u03c2"}},
                    Case{"alone", "\u03a3", {"\u03c3"}},
                    Case{"word_start", "\u03a3A", {"\u03c3a"}},
                    Case{"inside", "A\u03a3B", {"a\u03c3b"}},
                    Case{"second_of_two", "\u03a3\u03a3", {"\u03c3\u03c2"}},
                    Case{"after_space", "A \u03a3", {"a", "\u03c3"}},
                    Case{"looks_back_past_apostrophe", "A'\u03a3", {"a", "\u03c2"}},
                    Case{"looks_back_past_full_stop", "A.\u03a3", {"a", "\u03c2"}},
                    Case{"looks_ahead_past_apostrophe", "A\u03a3'B", {"a\u03c3", "b"}},
                    Case{"combining_mark_after", "A\u03a3\u0301", {"a\u03c2\u0301"}},
                    Case{"combining_mark_then_letter", "A\u03a3\u0301B", {"a\u03c3\u0301b"}},
                    // U+0345 is cased but also case-ignorable: it is passed over.
                    Case{"ypogegrammeni_before", "\u0345\u03a3", {"\u0345\u03c3"}},
                    Case{"ypogegrammeni_between", "A\u0345\u03a3", {"a\u0345\u03c2"}},
                    Case{"after_far_ascii_chunk", "aaaaaaaaaaaaaaaaaaaa''''''''''''''''''''\u03a3",
                         {"aaaaaaaaaaaaaaaaaaaa", "\u03c2"}},
                    // A line break ends the look-around just as the text's edge does.
                    Case{"line_break_after", "A\u03a3\nB", {"a\u03c2", "\n", "b"}},
                    Case{"line_break_before", "A\n\u03a3B", {"a", "\n", "\u03c3b"}},
                    // A malformed byte reads as U+FFFD, neither cased nor ignorable.
                    Case{"malformed_after", "A\u03a3\xff", {"a\u03c2"}},
                    Case{"malformed_before", "A\x80\u03a3", {"a", "\u03c3"}}),
    case_name);

// Each range of the scripts written without spaces, at both ends: the last
// letter, mark or number outside it joins a word, the first one inside is a
// token of its own.
INSTANTIATE_TEST_SUITE_P(
    OwnTokenRangeEdges, UnicodeTokens,
    testing::Values(
        Case{"thai_lao_below", "x\u0df3x", {"x\u0df3x"}}, Case{"thai_lao_first", "x\u0e01x", {"x", "\u0e01", "x"}},
        Case{"thai_lao_last", "x\u0edfx", {"x", "\u0edf", "x"}}, Case{"thai_lao_above", "x\u0f00x", {"x\u0f00x"}},
        Case{"myanmar_below", "x\u0fc6x", {"x\u0fc6x"}}, Case{"myanmar_first", "x\u1000x", {"x", "\u1000", "x"}},
        Case{"myanmar_last", "x\u109dx", {"x", "\u109d", "x"}}, Case{"myanmar_above", "x\u10a0x", {"x\u2d00x"}},
        Case{"khmer_below", "x\u1773x", {"x\u1773x"}}, Case{"khmer_first", "x\u1780x", {"x", "\u1780", "x"}},
        Case{"khmer_last", "x\u17f9x", {"x", "\u17f9", "x"}}, Case{"khmer_above", "x\u180bx", {"x\u180bx"}},
        Case{"kana_below", "x\u303cx", {"x\u303cx"}}, Case{"kana_first", "x\u3041x", {"x", "\u3041", "x"}},
        Case{"kana_last", "x\u30ffx", {"x", "\u30ff", "x"}}, Case{"kana_above", "x\u3105x", {"x\u3105x"}},
        Case{"kana_ext_below", "x\u31bfx", {"x\u31bfx"}}, Case{"kana_ext_first", "x\u31f0x", {"x", "\u31f0", "x"}},
        Case{"kana_ext_last", "x\u31ffx", {"x", "\u31ff", "x"}}, Case{"kana_ext_above", "x\u3220x", {"x\u3220x"}},
        Case{"han_ext_a_below", "x\u32bfx", {"x\u32bfx"}}, Case{"han_ext_a_first", "x\u3400x", {"x", "\u3400", "x"}},
        Case{"han_ext_a_last", "x\u4dbfx", {"x", "\u4dbf", "x"}}, Case{"han_first", "x\u4e00x", {"x", "\u4e00", "x"}},
        Case{"han_last", "x\u9fffx", {"x", "\u9fff", "x"}}, Case{"han_above", "x\ua000x", {"x\ua000x"}},
        Case{"han_compat_below", "x\ud7fbx", {"x\ud7fbx"}}, Case{"han_compat_first", "x\uf900x", {"x", "\uf900", "x"}},
        Case{"han_compat_last", "x\ufad9x", {"x", "\ufad9", "x"}}, Case{"han_compat_above", "x\ufb00x", {"x\ufb00x"}},
        Case{"han_planes_below", "x\U0001fbf9x", {"x\U0001fbf9x"}},
        Case{"han_planes_first", "x\U00020000x", {"x", "\U00020000", "x"}},
        Case{"han_planes_last", "x\U000323afx", {"x", "\U000323af", "x"}},
        Case{"han_planes_above", "x\U000e0100x", {"x\U000e0100x"}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    LineBreaks, UnicodeTokens,
    testing::Values(Case{"between_words", "one two\nthree", {"one", "two", "\n", "three"}},
                    Case{"ends_a_token", "ab\ncd", {"ab", "\n", "cd"}},
                    Case{"only_breaks", "\n\n", {"\n", "\n"}},
                    Case{"trailing", "end\n", {"end", "\n"}},
                    Case{"carriage_return_separates", "a\r\nb", {"a", "\n", "b"}},
                    Case{"after_own_token", "\u4e2d\n\u6587", {"\u4e2d", "\n", "\u6587"}},
                    Case{"after_non_ascii_token", "caf\u00e9\n\u00e9t\u00e9", {"caf\u00e9", "\n", "\u00e9t\u00e9"}},
                    Case{"other_breaks_only_separate", "a\u2028b\u0085c\vd", {"a", "b", "c", "d"}},
                    Case{"overlong_encoding_is_no_break", "a\xc0\x8a" "b", {"a", "b"}}),
    case_name);

// Malformed UTF-8 is read safely: each bad byte separates, as U+FFFD would.
INSTANTIATE_TEST_SUITE_P(
    MalformedInput, UnicodeTokens,
    testing::Values(Case{"truncated_at_end", "ab\xc3", {"ab"}},
                    Case{"truncated_three_byte_at_end", "ab\xe4\xb8", {"ab"}},
                    Case{"stray_continuation", "a\x80\x80" "b", {"a", "b"}},
                    Case{"surrogate", "a\xed\xa0\x80" "b", {"a", "b"}},
                    Case{"beyond_u10ffff", "a\xf4\x90\x80\x80" "b", {"a", "b"}},
                    Case{"overlong_letter", "a\xc1\x81" "b", {"a", "b"}},
                    Case{"lead_then_ascii", "\xe4" "ab", {"ab"}},
                    Case{"valid_after_bad", "\xff\u00e9\xff", {"\u00e9"}}),
    case_name);

// Tokens that cross the 16- and 64-byte steps of the ASCII path and the switches
// between it and the path for other characters, at every offset.
TEST(UnicodeTokenizer, TokensCrossChunkAndPathBoundaries) {
    for (size_t offset = 0; offset < 80; ++offset) {
        const std::string pad(offset, ' ');
        const std::string text = pad + "abcdefghij\u00c9KLMNOPQRSTUV\u00e9wxyz0123456789 \u4e2dAB\nCD";
        const Events expected = {"abcdefghij\u00e9klmnopqrstuv\u00e9wxyz0123456789", "\u4e2d", "ab", "\n", "cd"};
        EXPECT_EQ(events_of(text), expected) << "offset " << offset;
    }
}

// On ASCII text the definition reduces to the default tokenizer's: runs of
// letters and digits, lower-cased. Random texts of every length up to a few
// chunks, against that independent implementation.
TEST(UnicodeTokenizer, AsciiTextMatchesTheDefaultTokenizer) {
    std::mt19937_64 rng(7);
    const std::string alphabet = "aZ09 \n.'\tQq-";
    for (int round = 0; round < 3000; ++round) {
        std::string text(rng() % 200, ' ');
        for (char& c : text) c = alphabet[rng() % alphabet.size()];
        ScratchArena arena;
        Events expected;
        size_t newlines = 0;
        const auto normalized = tallygrams::scorer::normalize(text, arena);
        tallygrams::scorer::for_each_token(normalized, [&](size_t start, size_t length) {
            expected.emplace_back(normalized.bytes + start, length);
        });
        Events got;
        for_each_unicode_token(
            text, arena, [&](std::string_view token) { got.emplace_back(token); }, [&] { ++newlines; });
        ASSERT_EQ(got, expected) << text;
        ASSERT_EQ(newlines, static_cast<size_t>(std::count(text.begin(), text.end(), '\n'))) << text;
    }
}

// A text far beyond the arena's inline buffer, made of characters whose
// lower case is longer than themselves: the output buffer must be sized for
// the growth, and every token view must survive the later allocations.
TEST(UnicodeTokenizer, LongTextsThatGrowWhenLowered) {
    std::string text;
    Events expected;
    for (int i = 0; i < 3000; ++i) {
        text += "\u023a\u0130\u023a ";
        expected.push_back("\u2c65i\u0307\u2c65");
    }
    text += std::string(20000, 'A');
    expected.push_back(std::string(20000, 'a'));
    EXPECT_EQ(events_of(text), expected);
}

}  // namespace
