// The properties the fuzzers check, as plain functions so that the committed
// corpus can be replayed by an ordinary unit test. Each returns an empty
// string when the property holds, else a description of the difference.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "oracles/fuzz_input.hpp"
#include "scorer/pair_scorer.hpp"
#include "oracles/byte_range_tokenizer.hpp"
#include "oracles/straightforward_scorer.hpp"

namespace tallygrams::fuzz {

inline std::string printable(std::string_view text) {
    std::ostringstream out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out << c;
        } else {
            static const char* digits = "0123456789abcdef";
            out << "\\x" << digits[c >> 4] << digits[c & 15];
        }
    }
    return out.str();
}

// The fast scorer and the straightforward one agree on all nine values, bit
// for bit.
inline std::string check_pair(std::string_view reference, std::string_view prediction) {
    const scorer::PairScores fast = scorer::score_pair(reference, prediction);
    const scorer::PairScores plain = straightforward::score_pair(reference, prediction);
    if (std::memcmp(&fast, &plain, sizeof fast) == 0) return {};
    const double* f = &fast.rouge1.precision;
    const double* p = &plain.rouge1.precision;
    std::ostringstream out;
    out.precision(17);
    out << "reference \"" << printable(reference) << "\"\nprediction \"" << printable(prediction) << "\"\n";
    for (int k = 0; k < 9; ++k) out << "value " << k << ": fast " << f[k] << ", straightforward " << p[k] << '\n';
    return out.str();
}

inline std::string check_pair_input(const uint8_t* data, size_t size) {
    const auto [reference, prediction] = split_pair(data, size);
    return check_pair(reference, prediction);
}

// Tokens by the definition, one code point at a time: lower-case the text as
// Python does, then every run of ASCII letters and digits is a token. Only
// U+0130 (to "i" and a combining dot) and U+212A (to "k") lower-case to
// anything containing an ASCII letter or digit; every other non-ASCII
// character separates tokens. `text` must be valid UTF-8.
inline std::vector<std::string> tokens_by_definition(std::string_view text) {
    std::vector<std::string> tokens;
    std::string current;
    const auto end_token = [&] {
        if (!current.empty()) tokens.push_back(std::move(current));
        current.clear();
    };
    size_t i = 0;
    while (i < text.size()) {
        const size_t length = valid_sequence_length(text.substr(i));
        const std::string_view character = text.substr(i, length == 0 ? 1 : length);
        i += character.size();
        const char c = character[0];
        if (character.size() == 1 && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            current += c;
        } else if (character.size() == 1 && c >= 'A' && c <= 'Z') {
            current += static_cast<char>(c - 'A' + 'a');
        } else if (character == "\xC4\xB0") {  // U+0130
            current += 'i';
            end_token();
        } else if (character == "\xE2\x84\xAA") {  // U+212A
            current += 'k';
        } else {
            end_token();
        }
    }
    end_token();
    return tokens;
}

inline std::string check_tokens(std::string_view text) {
    const reference::TokenizedText tokenized = reference::tokenize(text);
    std::vector<std::string> actual;
    for (size_t i = 0; i < tokenized.token_count(); ++i) actual.emplace_back(tokenized.token(i));
    const std::vector<std::string> expected = tokens_by_definition(text);
    if (actual == expected) return {};
    std::ostringstream out;
    out << "text \"" << printable(text) << "\"\ntokenizer:";
    for (const auto& t : actual) out << " [" << t << ']';
    out << "\ndefinition:";
    for (const auto& t : expected) out << " [" << t << ']';
    out << '\n';
    return out.str();
}

inline std::string check_tokens_input(const uint8_t* data, size_t size) {
    return check_tokens(repair_utf8(std::string_view(reinterpret_cast<const char*>(data), size)));
}

}  // namespace tallygrams::fuzz
