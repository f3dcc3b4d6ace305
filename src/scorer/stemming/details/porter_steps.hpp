// The steps of the Porter stemmer, as the stemmer we match runs them: Porter's
// steps 1a to 5b with Porter's own later corrections and a few further
// changes (marked "Departure" below). Each step edits the word in place and
// never makes it longer than the word the stemmer was given.
#pragma once

#include <cstddef>

#include "scorer/stemming/details/porter_rules.hpp"
#include "scorer/stemming/details/porter_word.hpp"

namespace tallygrams::scorer::details {

// The suffixes the steps test outside the rule tables.
namespace suffix {
inline constexpr PackedSuffix alli = pack_suffix("alli");
inline constexpr PackedSuffix at = pack_suffix("at");
inline constexpr PackedSuffix bl = pack_suffix("bl");
inline constexpr PackedSuffix ed = pack_suffix("ed");
inline constexpr PackedSuffix eed = pack_suffix("eed");
inline constexpr PackedSuffix ied = pack_suffix("ied");
inline constexpr PackedSuffix ies = pack_suffix("ies");
inline constexpr PackedSuffix ing = pack_suffix("ing");
inline constexpr PackedSuffix iz = pack_suffix("iz");
inline constexpr PackedSuffix ll = pack_suffix("ll");
inline constexpr PackedSuffix s = pack_suffix("s");
inline constexpr PackedSuffix ss = pack_suffix("ss");
inline constexpr PackedSuffix sses = pack_suffix("sses");
}  // namespace suffix

// Plurals: -sses -> -ss, -ies -> -i, -ss stays, -s goes.
inline void porter_step_1a(PorterWord& word) noexcept {
    // Departure: a four-letter -ies word keeps its e (dies -> die, ties ->
    // tie), where Porter gives di, ti.
    if (word.size() == 4 && word.ends_with(suffix::ies)) {
        word.drop(1);
    } else if (word.ends_with(suffix::sses) || word.ends_with(suffix::ies)) {
        word.drop(2);
    } else if (word.ends_with(suffix::ss)) {
        // stays
    } else if (word.ends_with(suffix::s)) {
        word.drop(1);
    }
}

// Past tenses and participles: -eed, -ed, -ing, then the tidying up that puts
// an e back or undoubles a final consonant.
inline void porter_step_1b(PorterWord& word) noexcept {
    // Departure: -ied always goes to -i (spied -> spi), or to -ie for a
    // four-letter word (died -> die, tied -> tie), before any other rule.
    if (word.ends_with(suffix::ied)) {
        word.replace_suffix(3, word.size() == 4 ? "ie" : "i");
        return;
    }
    // -eed -> -ee when m > 0; otherwise the word stays and -ed is not tried
    // (feed stays feed).
    if (word.ends_with(suffix::eed)) {
        if (word.measure(word.size() - 3) > 0) word.drop(1);
        return;
    }
    if (word.ends_with(suffix::ed) && word.contains_vowel(word.size() - 2)) {
        word.drop(2);
    } else if (word.ends_with(suffix::ing) && word.contains_vowel(word.size() - 3)) {
        word.drop(3);
    } else {
        return;
    }
    // The e comes back onto -at, -bl and -iz (conflat(ed) -> conflate), so
    // that steps 2 to 4 recognise -ate, -ble and -ize. Room: at least two
    // letters were just removed.
    if (word.ends_with(suffix::at) || word.ends_with(suffix::bl) || word.ends_with(suffix::iz)) {
        word.replace_suffix(0, "e");
    } else if (word.ends_double_consonant(word.size())) {
        // hopp(ing) -> hop, but fall(ing), hiss(ing), fizz(ed) keep both.
        const char last = word.last();
        if (last != 'l' && last != 's' && last != 'z') word.drop(1);
    } else if (word.measure(word.size()) == 1 && word.ends_cvc(word.size())) {
        word.replace_suffix(0, "e");  // fil(ing) -> file
    }
}

// A final y after a consonant becomes i (happy -> happi).
inline void porter_step_1c(PorterWord& word) noexcept {
    // Departure: Porter asks only for a vowel somewhere before the y. Here the
    // letter just before must be a consonant, and not the only letter before
    // it: enjoy stays enjoy, spy -> spi and fly -> fli (with no vowel before
    // the y at all), but bys -> by.
    const size_t size = word.size();
    if (size > 2 && word.last() == 'y' && word.is_consonant(size - 2)) word.replace_suffix(1, "i");
}

// Double suffixes to single ones: -ational -> -ate, -iveness -> -ive, ...
inline void porter_step_2(PorterWord& word) noexcept {
    // Departure: -alli -> -al is tried before the table, and when it applies
    // the result goes through the table again, so that -ationalli can end as
    // -ate (sensationalli -> sensational -> sensate).
    if (word.ends_with(suffix::alli) && word.measure(word.size() - 4) > 0) word.drop(2);
    apply_first_matching_rule(word, kStep2Rules);
}

// -icate, -ative, -alize, -iciti, -ical, -ful, -ness.
inline void porter_step_3(PorterWord& word) noexcept { apply_first_matching_rule(word, kStep3Rules); }

// Single suffixes off a stem with m > 1: -al, -ance, -ence, -er, ...
inline void porter_step_4(PorterWord& word) noexcept { apply_first_matching_rule(word, kStep4Rules); }

// A final e goes when m > 1, or when m = 1 and the stem does not end
// consonant-vowel-consonant (probate -> probat, cease -> ceas, rate stays).
inline void porter_step_5a(PorterWord& word) noexcept {
    if (word.size() == 0 || word.last() != 'e') return;
    const size_t stem = word.size() - 1;
    const size_t m = word.measure(stem);
    if (m > 1 || (m == 1 && !word.ends_cvc(stem))) word.drop(1);
}

// -ll -> -l when m > 1, the measure taken with one l kept (controll -> control).
inline void porter_step_5b(PorterWord& word) noexcept {
    if (word.ends_with(suffix::ll) && word.measure(word.size() - 1) > 1) word.drop(1);
}

}  // namespace tallygrams::scorer::details
