// Reads one token per line on standard input and writes its stem under the
// ROUGE-1.5.5 script's -m, one per line, for the word-for-word check against
// the script (rouge155_stem_check.py).
#include <iostream>
#include <string>

#include "scorer/rouge155/stemmer.hpp"

int main() {
    std::ios::sync_with_stdio(false);
    std::string token;
    while (std::getline(std::cin, token)) std::cout << tallygrams::scorer::rouge155::stem_token(token) << '\n';
    return std::cout.good() ? 0 : 1;
}
