// Porter's suffix rules as tables, in the order they are tried.
//
// A table is applied the way the stemmer we match applies it: the first rule
// whose suffix ends the word decides alone. If its condition holds on the
// stem (the word without that suffix), the suffix is replaced; if not, the
// word stays as it is and no later rule is tried, even one with a shorter
// suffix that also matches (a word ending in -ement whose stem is too short
// is not tried for -ment or -ent).
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "scorer/details/porter_word.hpp"

namespace tallygrams::scorer::details {

enum class StemCondition : unsigned char {
    measure_above_0,       // m > 0
    measure_above_1,       // m > 1
    measure_above_1_s_t,   // m > 1 and the stem ends in s or t (for -ion)
    measure_above_0_and_l, // m > 0 of the stem with the suffix's leading l kept (for -logi)
};

struct SuffixRule {
    std::string_view suffix;
    std::string_view replacement;
    StemCondition condition;
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
void apply_first_matching_rule(PorterWord& word, const std::array<SuffixRule, N>& rules) noexcept {
    if (word.size() == 0) return;
    const char last = word.last();
    for (const SuffixRule& rule : rules) {
        // The last letter rules out nearly every rule without a full compare.
        if (rule.suffix.back() != last || !word.ends_with(rule.suffix)) continue;
        const size_t stem_size = word.size() - rule.suffix.size();
        if (condition_holds(word, stem_size, rule.condition)) word.replace_suffix(rule.suffix.size(), rule.replacement);
        return;
    }
}

// Every replacement in a table is no longer than its suffix: applying a
// table never lengthens the word.
template <size_t N>
constexpr bool never_lengthens(const std::array<SuffixRule, N>& rules) {
    for (const SuffixRule& rule : rules) {
        if (rule.replacement.size() > rule.suffix.size() || rule.suffix.empty()) return false;
    }
    return true;
}

using enum StemCondition;

// Step 2, with the additions of the stemmer we match: -bli (in place of
// Porter's -abli), -fulli and -logi.
inline constexpr std::array<SuffixRule, 22> kStep2Rules{{
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
}};

inline constexpr std::array<SuffixRule, 7> kStep3Rules{{
    {"icate", "ic", measure_above_0},
    {"ative", "", measure_above_0},
    {"alize", "al", measure_above_0},
    {"iciti", "ic", measure_above_0},
    {"ical", "ic", measure_above_0},
    {"ful", "", measure_above_0},
    {"ness", "", measure_above_0},
}};

inline constexpr std::array<SuffixRule, 19> kStep4Rules{{
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
}};

static_assert(never_lengthens(kStep2Rules) && never_lengthens(kStep3Rules) && never_lengthens(kStep4Rules));

}  // namespace tallygrams::scorer::details
