// The stem cache gives exactly what the stemmer gives, whatever it held
// before: words that share a slot, words of every length around its limits,
// and a word written over in place.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "scorer/stemming/porter_stemmer.hpp"
#include "scorer/stemming/stem_cache.hpp"

namespace {

using tallygrams::scorer::porter_stem;
using tallygrams::scorer::StemCache;

std::string plain_stem(const std::string& word) {
    std::string out(word.size(), '\0');
    out.resize(porter_stem(word, out.data()));
    return out;
}

TEST(StemCache, AgreesWithTheStemmerOnEveryLookup) {
    // Many more distinct words than slots, drawn again and again, so that
    // slots are taken over by other words and hit again later.
    std::mt19937 rng(7);
    const std::vector<std::string> suffixes = {"", "s", "ing", "ed", "ness", "ational", "ization", "fully", "ies"};
    std::vector<std::string> words;
    for (int i = 0; i < 20000; ++i) {
        std::string stem;
        const int length = 1 + static_cast<int>(rng() % 26);
        for (int k = 0; k < length; ++k) stem += static_cast<char>("aeioubcdfgy0123"[rng() % 15]);
        words.push_back(stem + suffixes[rng() % suffixes.size()]);
    }
    StemCache cache;
    for (int round = 0; round < 100000; ++round) {
        const std::string& word = words[std::min<size_t>(rng() % words.size(), rng() % words.size())];
        std::string out(word.size(), '\0');
        out.resize(cache.stem(word, out.data()));
        ASSERT_EQ(out, plain_stem(word)) << word;
    }
}

TEST(StemCache, StemsInPlaceLikeTheStemmer) {
    StemCache cache;
    for (int pass = 0; pass < 2; ++pass) {  // a miss, then a hit
        std::string word = "generalizations";
        word.resize(cache.stem(word, word.data()));
        EXPECT_EQ(word, plain_stem("generalizations"));
    }
}

}  // namespace
