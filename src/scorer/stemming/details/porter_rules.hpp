// Porter's suffix rules as tables, in the order they are tried.
//
// A table is applied the way the stemmer we match applies it: the first rule
// whose suffix ends the word decides alone. If its condition holds on the
// stem (the word without that suffix), the suffix is replaced; if not, the
// word stays as it is and no later rule is tried, even one with a shorter
// suffix that also matches (a word ending in -ement whose stem is too short
// is not tried for -ment or -ent).
//
// Every suffix in a table has at least two letters, so only rules whose
// suffix has the word's second-to-last letter in that place can match (the
// dispatch of Porter's own implementation). A table keeps, for each letter,
// the set of such rules as bits in table order, and tries just those.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scorer/stemming/details/porter_word.hpp"

namespace tallygrams::scorer::details {

enum class StemCondition : unsigned char {
    measure_above_0,       // m > 0
    measure_above_1,       // m > 1
    measure_above_1_s_t,   // m > 1 and the stem ends in s or t (for -ion)
    measure_above_0_and_l, // m > 0 of the stem with the suffix's leading l kept (for -logi)
};

struct SuffixRule {
    constexpr SuffixRule(std::string_view suffix_letters, std::string_view replacement_letters,
                         StemCondition stem_condition) noexcept
        : suffix(pack_suffix(suffix_letters)),
          replacement(replacement_letters),
          condition(stem_condition),
          second_last(suffix_letters.size() >= 2 ? suffix_letters[suffix_letters.size() - 2] : '\0') {}

    PackedSuffix suffix;
    std::string_view replacement;
    StemCondition condition;
    char second_last;
};

template <size_t N>
struct RuleTable {
    static_assert(N <= 32);

    constexpr explicit RuleTable(const std::array<SuffixRule, N>& table_rules) : rules(table_rules) {
        for (size_t i = 0; i < N; ++i) {
            const char letter = rules[i].second_last;
            if (letter >= 'a' && letter <= 'z') by_second_last[static_cast<size_t>(letter - 'a')] |= uint32_t{1} << i;
        }
    }

    // Every suffix packs and has a second-to-last letter, and every
    // replacement is no longer than its suffix: applying a table never
    // lengthens the word.
    constexpr bool well_formed() const {
        for (const SuffixRule& rule : rules) {
            if (rule.suffix.size < 2 || rule.suffix.size > 8 || rule.replacement.size() > rule.suffix.size ||
                rule.second_last < 'a' || rule.second_last > 'z') {
                return false;
            }
        }
        return true;
    }

    std::array<SuffixRule, N> rules;
    std::array<uint32_t, 26> by_second_last{};
};

inline bool condition_holds(const PorterWord& word, size_t stem_size, StemCondition condition) noexcept {
    switch (condition) {
    case StemCondition::measure_above_0:
        return word.measure(stem_size) > 0;
    case StemCondition::measure_above_1:
        return word.measure(stem_size) > 1;
    case StemCondition::measure_above_1_s_t: {
        if (word.measure(stem_size) <= 1) return false;
        const char last = word.view()[stem_size - 1];
        return last == 's' || last == 't';
    }
    case StemCondition::measure_above_0_and_l:
        return word.measure(stem_size + 1) > 0;
    }
    return false;
}

template <size_t N>
void apply_first_matching_rule(PorterWord& word, const RuleTable<N>& table) noexcept {
    const auto letter = static_cast<unsigned char>(word.second_last() - 'a');
    if (letter >= 26) return;
    for (uint32_t candidates = table.by_second_last[letter]; candidates != 0; candidates &= candidates - 1) {
        const SuffixRule& rule = table.rules[static_cast<size_t>(std::countr_zero(candidates))];
        if (!word.ends_with(rule.suffix)) continue;
        const size_t stem_size = word.size() - rule.suffix.size;
        if (condition_holds(word, stem_size, rule.condition)) word.replace_suffix(rule.suffix.size, rule.replacement);
        return;
    }
}

using enum StemCondition;

// Step 2, with the additions of the stemmer we match: -bli (in place of
// Porter's -abli), -fulli and -logi.
inline constexpr RuleTable kStep2Rules{std::array<SuffixRule, 22>{{
    {"ational", "ate", measure_above_0},
    {"tional", "tion", measure_above_0},
    {"enci", "ence", measure_above_0},
    {"anci", "ance", measure_above_0},
    {"izer", "ize", measure_above_0},
    {"bli", "ble", measure_above_0},
    {"alli", "al", measure_above_0},
    {"entli", "ent", measure_above_0},
    {"eli", "e", measure_above_0},
    {"ousli", "ous", measure_above_0},
    {"ization", "ize", measure_above_0},
    {"ation", "ate", measure_above_0},
    {"ator", "ate", measure_above_0},
    {"alism", "al", measure_above_0},
    {"iveness", "ive", measure_above_0},
    {"fulness", "ful", measure_above_0},
    {"ousness", "ous", measure_above_0},
    {"aliti", "al", measure_above_0},
    {"iviti", "ive", measure_above_0},
    {"biliti", "ble", measure_above_0},
    {"fulli", "ful", measure_above_0},
    // The l stays with the stem for the measure, so that geologi -> geolog
    // as archaeologi -> archaeolog.
    {"logi", "log", measure_above_0_and_l},
}}};

inline constexpr RuleTable kStep3Rules{std::array<SuffixRule, 7>{{
    {"icate", "ic", measure_above_0},
    {"ative", "", measure_above_0},
    {"alize", "al", measure_above_0},
    {"iciti", "ic", measure_above_0},
    {"ical", "ic", measure_above_0},
    {"ful", "", measure_above_0},
    {"ness", "", measure_above_0},
}}};

inline constexpr RuleTable kStep4Rules{std::array<SuffixRule, 19>{{
    {"al", "", measure_above_1},
    {"ance", "", measure_above_1},
    {"ence", "", measure_above_1},
    {"er", "", measure_above_1},
    {"ic", "", measure_above_1},
    {"able", "", measure_above_1},
    {"ible", "", measure_above_1},
    {"ant", "", measure_above_1},
    {"ement", "", measure_above_1},
    {"ment", "", measure_above_1},
    {"ent", "", measure_above_1},
    {"ion", "", measure_above_1_s_t},
    {"ou", "", measure_above_1},
    {"ism", "", measure_above_1},
    {"ate", "", measure_above_1},
    {"iti", "", measure_above_1},
    {"ous", "", measure_above_1},
    {"ive", "", measure_above_1},
    {"ize", "", measure_above_1},
}}};

static_assert(kStep2Rules.well_formed() && kStep3Rules.well_formed() && kStep4Rules.well_formed());

}  // namespace tallygrams::scorer::details
