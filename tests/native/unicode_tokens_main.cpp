// Tokenizes texts read from standard input with the tokenizer for every
// script, for the differential test against the Python oracle
// (unicode_differential.py).
//
// Input: any number of texts, each a 4-byte little-endian length followed by
// that many bytes. Output, per text: each token followed by 0x1F, a line
// break reported as "\n" followed by 0x1F, and 0x1E at the end of the text.
// Tokens are letters, marks and numbers, so they never hold these bytes.
// With --version, prints the Unicode version of the tables and the Python
// version that generated them instead.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "scorer/tokenizing/unicode_tokenizer.hpp"

int main(int argc, char** argv) {
    using namespace tallygrams::scorer;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", unicode::kUnicodeVersion, unicode::kGeneratedByPython);
        return 0;
    }
    std::ios::sync_with_stdio(false);
    const std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::string output;
    size_t at = 0;
    while (at < input.size()) {
        if (input.size() - at < 4) {
            std::fprintf(stderr, "truncated length at byte %zu\n", at);
            return 2;
        }
        uint32_t length = 0;
        for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(input[at + static_cast<size_t>(i)]);
        at += 4;
        if (input.size() - at < length) {
            std::fprintf(stderr, "truncated text at byte %zu\n", at);
            return 2;
        }
        ScratchArena arena;
        for_each_unicode_token(
            std::string_view(input).substr(at, length), arena,
            [&](std::string_view token) {
                output += token;
                output += '\x1F';
            },
            [&] { output += "\n\x1F"; });
        output += '\x1E';
        at += length;
    }
    std::fwrite(output.data(), 1, output.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
