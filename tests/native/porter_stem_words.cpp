// Reads one word per line on standard input and writes its Porter stem, one
// per line, for the word-for-word check against NLTK (porter_stem_check.py).
//
// Each stem is written into a buffer of exactly porter_stem_room(word) bytes
// on the heap, so a sanitizer build catches any write past the promised room.
// Each word is also stemmed in place; if the two results differ, the line
// says so and the checker reports a mismatch.
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "scorer/stemming/porter_stemmer.hpp"

int main() {
    using tallygrams::scorer::porter_stem;
    using tallygrams::scorer::porter_stem_room;
    std::ios::sync_with_stdio(false);
    std::string word;
    while (std::getline(std::cin, word)) {
        const size_t room = porter_stem_room(word.size());
        const auto out = std::make_unique_for_overwrite<char[]>(room == 0 ? 1 : room);
        const std::string_view stem(out.get(), porter_stem(word, out.get()));
        std::string in_place = word;
        in_place.resize(porter_stem(in_place, in_place.data()));
        if (in_place != stem) {
            std::cout << "<in-place stem " << in_place << " differs from " << stem << ">\n";
        } else {
            std::cout << stem << '\n';
        }
    }
    return std::cout.good() ? 0 : 1;
}
