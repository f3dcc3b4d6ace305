// Porter stemming of one token, exactly as the stemmer that rouge-score uses
// with use_stemmer=True (NLTK 3.10.4's PorterStemmer in its default mode).
//
// The algorithm is M. F. Porter, "An algorithm for suffix stripping",
// Program 14(3), 130-137, 1980: five steps of suffix rules, each guarded by
// the stem's measure m (the number of vowel-consonant sequences) and a few
// shape conditions. The stemmer we match departs from the paper in these
// ways, all reproduced here:
//   - a short table of irregular forms is looked up first (skies -> sky,
//     dying -> die, news stays news, innings -> inning, succeed stays ...);
//   - words of one or two letters are returned as they are;
//   - a four-letter -ies or -ied word keeps an e (dies, died -> die), and any
//     other -ied word goes to -i before the other rules of step 1b;
//   - in step 1b, a two-letter stem vowel-consonant counts as ending
//     consonant-vowel-consonant (the same extension applies in step 5a);
//   - y -> i needs a consonant right before the y, one that is not the
//     only letter before it;
//   - step 2 has -bli -> -ble in place of -abli -> -able, and adds -fulli ->
//     -ful and -logi -> -log; it tries -alli -> -al first and then runs again.
// Where the paper leaves a choice open, the choice of that stemmer is made:
// an -eed word whose stem is too short stays as it is rather than being
// tried for -ed (feed stays feed, as in the paper's examples).
// The step files under details/ mark each departure where it happens.
//
// Input: any string of a-z and 0-9 (the tokens of the default tokenizer),
// of any length. Digits are consonants. Other bytes are not rejected but
// nothing is promised about them (upper-case letters in particular are not
// lower-cased here).
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "scorer/stemming/details/porter_irregular.hpp"
#include "scorer/stemming/details/porter_steps.hpp"
#include "scorer/stemming/details/porter_word.hpp"

namespace tallygrams::scorer {

// Room `porter_stem` needs for a word of `word_size` bytes. A stem is never
// longer than its word: irregular forms map to shorter or equal words, every
// rule of steps 2 to 4 replaces a suffix with one no longer (checked at
// compile time in details/porter_rules.hpp), and the only rules that add
// letters (step 1b's -e, -ie, -ee) do so right after removing at least as
// many.
constexpr size_t porter_stem_room(size_t word_size) noexcept { return word_size; }

namespace details {

inline void run_porter_steps(PorterWord& stem) noexcept {
    porter_step_1a(stem);
    porter_step_1b(stem);
    porter_step_1c(stem);
    porter_step_2(stem);
    porter_step_3(stem);
    porter_step_4(stem);
    porter_step_5a(stem);
    porter_step_5b(stem);
}

}  // namespace details

// Writes the stem of `word` to `out`, which must have room for
// `porter_stem_room(word.size())` bytes, and returns its length. `out` may be
// `word.data()` itself, to stem in place. Allocates nothing; time is linear
// in the length of the word.
inline size_t porter_stem(std::string_view word, char* out) noexcept {
    if (word.empty()) return 0;
    if (const std::string_view irregular = details::irregular_porter_stem(word); !irregular.empty()) {
        std::memmove(out, irregular.data(), irregular.size());
        return irregular.size();
    }
    if (word.size() <= 2) {
        std::memmove(out, word.data(), word.size());
        return word.size();
    }
    if (word.size() <= 64) {
        // Words are stemmed on the stack behind eight zero bytes, so that the
        // last eight bytes of the word can be read however short it gets,
        // with 64 bytes from its start to classify its letters in blocks.
        char work[8 + 64] = {};
        std::memcpy(work + 8, word.data(), word.size());
        details::PorterWord stem(work + 8, word.size());
        details::run_porter_steps(stem);
        std::memcpy(out, work + 8, stem.size());
        return stem.size();
    }
    // A longer word is stemmed where it lands. All the steps together take
    // fewer than 30 letters off, so it never gets shorter than eight.
    std::memmove(out, word.data(), word.size());
    details::PorterWord stem(out, word.size());
    details::run_porter_steps(stem);
    return stem.size();
}

}  // namespace tallygrams::scorer
