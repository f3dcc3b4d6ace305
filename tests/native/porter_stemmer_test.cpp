// Edge cases of the Porter stemmer worth pinning beside the word-for-word
// check against NLTK (porter_stem_check.py): the expected stems below are
// NLTK 3.10.4's, and each shows a place where a plain reading of Porter's
// paper gives something else. Also: the room promised for the stem, in-place
// stemming, and tokens far longer than any word.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "scorer/stemming/porter_stemmer.hpp"

namespace {

using tallygrams::scorer::porter_stem;
using tallygrams::scorer::porter_stem_room;

std::string stem_of(std::string_view word) {
    std::string out(porter_stem_room(word.size()), '\0');
    out.resize(porter_stem(word, out.data()));
    return out;
}

struct Case {
    const char* word;
    const char* stem;
};

void expect_stems(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(stem_of(c.word), c.stem) << "word: " << c.word;
}

TEST(PorterStem, IrregularFormsAreWholeWordsOnly) {
    expect_stems({{"skies", "sky"}, {"xskies", "xski"}, {"news", "news"}, {"newss", "newss"}, {"dying", "die"},
                  {"innings", "inning"}, {"succeed", "succeed"}, {"agreed", "agre"}});
}

TEST(PorterStem, ShortWordsAndStemsTooShortForTheirRule) {
    expect_stems({{"a", "a"}, {"aa", "aa"}, {"ow", "ow"},
                  // three letters go through the rules
                  {"ies", "i"}, {"ied", "i"}, {"eed", "eed"}, {"ing", "ing"}, {"aing", "a"}, {"xed", "xed"},
                  // -eed with m = 0 blocks -ed as well
                  {"feed", "feed"},
                  // four-letter -ies and -ied keep their e
                  {"dies", "die"}, {"died", "die"}, {"spies", "spi"}, {"spied", "spi"},
                  // a two-letter vowel-consonant stem counts as ending cvc
                  {"oping", "ope"}, {"ace", "ace"}, {"owe", "owe"}});
}

TEST(PorterStem, FirstMatchingSuffixDecidesEvenWhenItsConditionFails) {
    // -ement with a stem of m = 0 is not retried as -ment or -ent.
    expect_stems({{"cement", "cement"}, {"station", "station"}, {"traffic", "traffic"},
                  // -alli comes off first and the result is stemmed again by step 2
                  {"sensationalli", "sensat"},
                  // -logi measures its stem with the l
                  {"geologi", "geolog"}, {"conditional", "condit"}});
}

TEST(PorterStem, YIsAVowelOrConsonantByWhatPrecedesIt) {
    expect_stems({{"happy", "happi"}, {"enjoy", "enjoy"}, {"spy", "spi"}, {"yyyy", "yyyi"}, {"yyyyy", "yyyyy"},
                  {"ayyyy", "ayyyi"}, {"byyyy", "byyyy"}});
}

TEST(PorterStem, DigitsAreConsonants) {
    expect_stems({{"1990s", "1990"}, {"a11ed", "a1"}, {"b4ing", "b4ing"}, {"mp3s", "mp3"}, {"4x4s", "4x4"},
                  {"1111", "1111"}, {"111111111111111111111111111111ies", "111111111111111111111111111111i"}});
}

// Whole runs of y alternate between consonant and vowel from the start of
// the word; a million of them must cost linear time, not a walk per letter.
TEST(PorterStem, MillionLetterTokens) {
    const std::string even(1'000'000, 'y');
    EXPECT_EQ(stem_of(even), std::string(999'999, 'y') + "i");
    const std::string odd(1'000'001, 'y');
    EXPECT_EQ(stem_of(odd), odd);
    std::string abab;
    for (int i = 0; i < 500'000; ++i) abab += "ab";
    EXPECT_EQ(stem_of(abab + "ational"), abab);
}

TEST(PorterStem, EmptyWordWritesNothing) {
    char out = '#';
    EXPECT_EQ(porter_stem("", &out), 0u);
    EXPECT_EQ(out, '#');
}

// Every word of up to five letters over letters that decide the conditions,
// and every rule suffix after them: the stem fits the room promised for its
// word, no byte past that room is written, and stemming in place agrees.
TEST(PorterStem, StemFitsItsRoomAndInPlaceAgrees) {
    const std::string_view letters = "aeiybsdltz1";
    std::vector<std::string> words{""};
    for (size_t begin = 0, length = 1; length <= 5; ++length) {
        const size_t end = words.size();
        for (size_t i = begin; i < end; ++i) {
            for (char c : letters) words.push_back(words[i] + c);
        }
        begin = end;
    }
    const size_t shapes = words.size() / 40;
    for (const char* suffix : {"ational", "izing", "ies", "ied", "eed", "ated", "bling", "izes", "alli", "logi",
                               "ement", "ions", "fulness", "ll", "ying", "sses"}) {
        for (size_t i = 0; i < shapes; ++i) words.push_back(words[i] + suffix);
    }
    constexpr size_t kCanary = 8;
    std::string out;
    size_t failures = 0;
    for (const std::string& word : words) {
        const size_t room = porter_stem_room(word.size());
        out.assign(room + kCanary, '#');
        const size_t length = porter_stem(word, out.data());
        std::string in_place = word;
        in_place.resize(porter_stem(in_place, in_place.data()));
        const bool ok = length <= room && out.compare(room, kCanary, std::string(kCanary, '#')) == 0 &&
                        in_place == std::string_view(out.data(), length);
        if (!ok && ++failures <= 5) ADD_FAILURE() << "word: " << word;
    }
    EXPECT_EQ(failures, 0u) << "of " << words.size() << " words";
}

}  // namespace
