// The script's option string, read as its option parser reads it (Perl's
// Getopt::Std): flags may be bundled (-mx), a value may follow its letter
// directly (-n4) or as the next word (-n 4, -2 -1), and a later occurrence of
// an option replaces an earlier one. Values are checked where the script
// takes whatever Perl makes of them, so that a typing error is reported
// instead of scored: a value must be a number of the expected kind, within
// the range the script accepts.
//
// Options about the script's files (-a, -e, -z) are accepted and do
// nothing. Options whose output cannot be reproduced from text are refused:
// -3 (Basic Elements files), -M (stemming the references only), -v (debugging
// output), -h and -H (usage).
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "scorer/rouge155/options.hpp"

namespace tallygrams::scorer::rouge155 {

// Limits of our own, far beyond any evaluation's needs, which keep the
// output and the memory of an evaluation bounded.
inline constexpr int kMaxNgram = 64;
inline constexpr size_t kMaxResamples = 10'000'000;
inline constexpr double kMaxWeight = 100;

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the string was read
};

namespace details {

inline bool is_option_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

inline std::vector<std::string_view> split_words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_option_space(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !is_option_space(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

inline bool read_integer(std::string_view text, int64_t& value) noexcept {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// A decimal number such as 95, 1.2, .5 or 1e-1.
inline bool read_number(std::string_view text, double& value) noexcept {
    if (text.empty() || text.front() == '+') return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

class OptionReader {
public:
    std::string error;
    Options options;

    void flag(char letter) {
        switch (letter) {
            case 'a': break;
            case 'd': options.per_pair = true; break;
            case 'm': options.stem = true; break;
            case 's': options.remove_stop_words = true; break;
            case 'u': unigrams_ = true; break;
            case 'U': both_ = true; break;
            case 'x': options.lcs = false; break;
            case 'h': case 'H': refuse("-h and -H print the script's usage; they are not scoring options"); break;
            case 'M': refuse("-M (stemming the references only) is not supported"); break;
            case 'v': refuse("-v (the script's debugging output) is not supported"); break;
            default: break;
        }
    }

    void value(char letter, std::string_view text) {
        int64_t integer = 0;
        double number = 0;
        switch (letter) {
            case 'e': case 'z': break;
            case '3': refuse("-3 (Basic Elements) is not supported: it scores BE files, not text"); break;
            case 'n':
                if (!read_integer(text, integer) || integer < 0 || integer > kMaxNgram) {
                    bad(letter, text, "a whole number from 0 to " + std::to_string(kMaxNgram));
                } else {
                    options.max_ngram = static_cast<int>(integer);
                }
                break;
            case 'l': case 'b':
                if (!read_integer(text, integer) || integer < 0) {
                    bad(letter, text, "a whole number of " + std::string(letter == 'l' ? "words" : "bytes") + ", 0 for no limit");
                } else {
                    (letter == 'l' ? word_limit_ : byte_limit_) = static_cast<size_t>(integer);
                    (letter == 'l' ? has_word_limit_ : has_byte_limit_) = true;
                }
                break;
            case 'c':
                if (!read_number(text, number) || number < 0 || number > 100) {
                    bad(letter, text, "a confidence level from 0 to 100");
                } else {
                    options.confidence = number;
                    options.confidence_text = std::string(text);
                }
                break;
            case 'r':
                if (!read_integer(text, integer) || integer < 1 || static_cast<uint64_t>(integer) > kMaxResamples) {
                    bad(letter, text, "a number of resamples from 1 to " + std::to_string(kMaxResamples));
                } else {
                    options.resamples = static_cast<size_t>(integer);
                }
                break;
            case 'w':
                if (!read_number(text, number) || !(number > 0) || number > kMaxWeight) {
                    bad(letter, text, "a weight above 0 and at most 100");
                } else {
                    options.weight = number;
                    options.weight_text = std::string(text);
                }
                break;
            case '2':
                if (!read_integer(text, integer)) {
                    bad(letter, text, "a whole number of words, negative for no limit");
                } else {
                    options.skip_distance = integer;
                    options.skip_text = std::string(text);
                }
                break;
            case 'f':
                if (text == "A") {
                    options.formula = Formula::average;
                } else if (text == "B") {
                    options.formula = Formula::best;
                } else {
                    bad(letter, text, "A (average over the references) or B (the best reference)");
                }
                break;
            case 'p':
                if (!read_number(text, number) || number < 0 || number > 1) {
                    bad(letter, text, "an alpha from 0 to 1");
                } else {
                    options.alpha = number;
                }
                break;
            case 't':
                if (text == "0" || text == "1" || text == "2") {
                    options.units = static_cast<Units>(text[0] - '0');
                } else {
                    bad(letter, text, "0, 1 or 2");
                }
                break;
            default: break;
        }
    }

    void finish() {
        if (!error.empty()) return;
        if (has_word_limit_ && has_byte_limit_) {
            error = "-l and -b cannot be given together: limit the length in words or in bytes";
            return;
        }
        options.word_limit = word_limit_;
        options.byte_limit = byte_limit_;
        options.skip_unigrams = unigrams_ ? SkipUnigrams::with : both_ ? SkipUnigrams::both : SkipUnigrams::without;
    }

    void refuse(std::string message) {
        if (error.empty()) error = std::move(message);
    }

private:
    void bad(char letter, std::string_view text, const std::string& expected) {
        refuse(std::string("-") + letter + " takes " + expected + ", not '" + std::string(text) + "'");
    }

    size_t word_limit_ = 0;
    size_t byte_limit_ = 0;
    bool has_word_limit_ = false;
    bool has_byte_limit_ = false;
    bool unigrams_ = false;
    bool both_ = false;
};

inline constexpr std::string_view kFlagLetters = "adhHmMsuUvx";
inline constexpr std::string_view kValueLetters = "bceflnprt23wz";

}  // namespace details

inline ParsedOptions parse_options(std::string_view text) {
    details::OptionReader reader;
    const std::vector<std::string_view> words = details::split_words(text);
    for (size_t i = 0; i < words.size() && reader.error.empty(); ++i) {
        const std::string_view word = words[i];
        if (word == "--") {
            if (i + 1 < words.size()) reader.refuse("unexpected argument '" + std::string(words[i + 1]) + "': only options are taken");
            break;
        }
        if (word.size() < 2 || word[0] != '-') {
            reader.refuse("unexpected argument '" + std::string(word) + "': only options are taken");
            break;
        }
        for (size_t at = 1; at < word.size() && reader.error.empty(); ++at) {
            const char letter = word[at];
            if (details::kValueLetters.find(letter) != std::string_view::npos) {
                std::string_view value = word.substr(at + 1);
                if (value.empty()) {
                    if (i + 1 == words.size()) {
                        reader.refuse(std::string("option -") + letter + " needs a value");
                        break;
                    }
                    value = words[++i];
                }
                reader.value(letter, value);
                break;
            }
            if (details::kFlagLetters.find(letter) != std::string_view::npos) {
                reader.flag(letter);
            } else {
                reader.refuse(std::string("unknown option -") + letter);
            }
        }
    }
    reader.finish();
    return ParsedOptions{std::move(reader.options), std::move(reader.error)};
}

}  // namespace tallygrams::scorer::rouge155
