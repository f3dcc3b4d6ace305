// The Porter stemmer of the ROUGE-1.5.5 script: M. F. Porter, "An algorithm
// for suffix stripping", Program 14(3), 130-137, 1980, as the script writes
// it in Perl (after Porter's own Perl version), including its author's
// change to step 4. Its departures from the paper's text, all kept:
//   - the measure conditions are regular expressions (porter_patterns.hpp),
//     which treat y in its own way: y starts a run of vowels or of
//     consonants but never continues one;
//   - an initial y is written as Y while the steps run, so that no pattern
//     takes it for a vowel (it matches no lower-case suffix either);
//   - step 1b's cvc test asks whether the whole word is one consonant run, a
//     vowel and a last consonant other than w, x, y;
//   - each step tries only its longest matching suffix: when that one's
//     condition fails, shorter suffixes are not tried;
//   - step 4 first tries -al, -ance, -ence, -er, -ic, -able, -ible, -ant,
//     -ement, -ou, -ism, -ate, -iti, -ous, -ive, -ize; then, on what is left,
//     -ment; then -ent, or else -sion/-tion. So a word can lose two suffixes
//     here (fundamental -> fundament -> fundam).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "scorer/rouge155/details/porter_patterns.hpp"

namespace tallygrams::scorer::rouge155::details {

struct SuffixRule {
    std::string_view suffix;
    std::string_view replacement;
};

inline constexpr SuffixRule kStep2Rules[] = {
    {"ational", "ate"}, {"tional", "tion"}, {"enci", "ence"}, {"anci", "ance"}, {"izer", "ize"},
    {"bli", "ble"},     {"alli", "al"},     {"entli", "ent"}, {"eli", "e"},     {"ousli", "ous"},
    {"ization", "ize"}, {"ation", "ate"},   {"ator", "ate"},  {"alism", "al"},  {"iveness", "ive"},
    {"fulness", "ful"}, {"ousness", "ous"}, {"aliti", "al"},  {"iviti", "ive"}, {"biliti", "ble"},
    {"logi", "log"},
};

inline constexpr SuffixRule kStep3Rules[] = {
    {"icate", "ic"}, {"ative", ""}, {"alize", "al"}, {"iciti", "ic"}, {"ical", "ic"}, {"ful", ""}, {"ness", ""},
};

inline constexpr SuffixRule kStep4Rules[] = {
    {"al", ""},  {"ance", ""}, {"ence", ""}, {"er", ""},  {"ic", ""},  {"able", ""}, {"ible", ""}, {"ant", ""},
    {"ement", ""}, {"ou", ""}, {"ism", ""},  {"ate", ""}, {"iti", ""}, {"ous", ""},  {"ive", ""},  {"ize", ""},
};

inline bool ends_with(const std::string& w, std::string_view suffix) noexcept {
    return w.size() >= suffix.size() && std::string_view(w).substr(w.size() - suffix.size()) == suffix;
}

// The longest rule whose suffix ends `w` (a regular expression's leftmost
// match of the alternation), or null.
template <size_t N>
const SuffixRule* longest_suffix(const std::string& w, const SuffixRule (&rules)[N]) noexcept {
    const SuffixRule* best = nullptr;
    for (const SuffixRule& rule : rules) {
        if (ends_with(w, rule.suffix) && (best == nullptr || rule.suffix.size() > best->suffix.size())) best = &rule;
    }
    return best;
}

// Replaces the longest matching suffix of `rules` when the stem before it
// passes `condition`.
template <size_t N, class Condition>
void replace_longest(std::string& w, const SuffixRule (&rules)[N], Condition condition) {
    const SuffixRule* rule = longest_suffix(w, rules);
    if (rule == nullptr) return;
    const std::string_view stem = std::string_view(w).substr(0, w.size() - rule->suffix.size());
    if (condition(stem)) w = std::string(stem) + std::string(rule->replacement);
}

inline void step_1a(std::string& w) {
    if (ends_with(w, "sses") || ends_with(w, "ies")) {
        w.resize(w.size() - 2);
    } else if (w.size() >= 2 && w.back() == 's' && w[w.size() - 2] != 's') {
        w.pop_back();
    }
}

inline void step_1b(std::string& w) {
    if (ends_with(w, "eed")) {
        if (measure_above_zero(std::string_view(w).substr(0, w.size() - 3))) w.pop_back();
        return;
    }
    size_t cut = 0;
    if (ends_with(w, "ed")) cut = 2;
    if (ends_with(w, "ing")) cut = 3;
    if (cut == 0 || !has_vowel(std::string_view(w).substr(0, w.size() - cut))) return;
    w.resize(w.size() - cut);
    const size_t n = w.size();
    if (ends_with(w, "at") || ends_with(w, "bl") || ends_with(w, "iz")) {
        w += 'e';
    } else if (n >= 2 && w[n - 1] == w[n - 2] && std::string_view("aeiouylsz").find(w[n - 1]) == std::string_view::npos) {
        w.pop_back();
    } else if (is_consonant_vowel_consonant(w)) {
        w += 'e';
    }
}

inline void step_1c(std::string& w) {
    if (!w.empty() && w.back() == 'y' && has_vowel(std::string_view(w).substr(0, w.size() - 1))) w.back() = 'i';
}

inline void step_4(std::string& w) {
    replace_longest(w, kStep4Rules, measure_above_one);
    const auto strip_if = [&w](size_t cut) {
        if (measure_above_one(std::string_view(w).substr(0, w.size() - cut))) w.resize(w.size() - cut);
    };
    if (ends_with(w, "ment")) strip_if(4);
    if (ends_with(w, "ent")) {
        strip_if(3);
    } else if (ends_with(w, "sion") || ends_with(w, "tion")) {
        strip_if(3);  // the s or t stays
    }
}

inline void step_5(std::string& w) {
    if (!w.empty() && w.back() == 'e') {
        const std::string_view stem = std::string_view(w).substr(0, w.size() - 1);
        if (measure_above_one(stem) || (measure_is_one(stem) && !is_consonant_vowel_consonant(stem))) w.pop_back();
    }
    if (ends_with(w, "ll") && measure_above_one(w)) w.pop_back();
}

// The stem of `word`. Words of fewer than three bytes stay as they are.
inline std::string porter_stem(std::string_view word) {
    std::string w(word);
    if (w.size() < 3) return w;
    const bool initial_y = w[0] == 'y';
    if (initial_y) w[0] = 'Y';
    step_1a(w);
    step_1b(w);
    step_1c(w);
    replace_longest(w, kStep2Rules, measure_above_zero);
    replace_longest(w, kStep3Rules, measure_above_zero);
    step_4(w);
    step_5(w);
    if (initial_y) w[0] = 'y';
    return w;
}

}  // namespace tallygrams::scorer::rouge155::details
