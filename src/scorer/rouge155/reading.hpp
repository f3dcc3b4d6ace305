// How the script reads a summary: one sentence per line, each line cut to
// the length limit, in two slightly different ways.
//
// A summary is the bytes of a file. Its lines are split at '\n'; empty lines
// are dropped (a line of spaces, or a lone '\r' from a "\r\n" ending, is
// kept: it is a sentence without tokens). The script's -l and -b limits then
// cut the text, and it does so twice:
//
//   - for n-grams and skip-bigrams, and for the token counts of ROUGE-L and
//     ROUGE-W, it joins the lines and keeps (-l) the first L words, counting
//     the words of each line as Perl's split(/\s+/) does: a line that starts
//     with white space counts one more, empty, word; or (-b) the first B
//     bytes of the lines, not counting the spaces that join them. The line
//     that reaches the limit is the last, cut to what is left of it (a line
//     that would just reach it is cut too, to all of it);
//   - for the sentences of ROUGE-L and ROUGE-W, it keeps each line whole
//     while it is shorter than the limit, and cuts the first one that is
//     not, and stops. With -l, the words counted so far add up as above.
//     With -b, they do not: each line is measured on its own, so a long
//     summary keeps more bytes here than for its n-grams.
//
// Both limits apply to the references as much as to the predictions.
// A cut can fall inside a word (with -b), which leaves the word's beginning.
//
// White space for the word count is ASCII's: space, \t, \n, \r, \f and \v;
// bytes of 128 and above are not white space (nor letters: every byte other
// than a letter or a digit separates tokens).
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "scorer/rouge155/options.hpp"

namespace tallygrams::scorer::rouge155 {

// A line of a summary, of which the first `kept` bytes count.
struct KeptLine {
    size_t start = 0;
    size_t length = 0;
    size_t kept = 0;
};

namespace details {

inline bool is_perl_space(unsigned char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The words Perl's split(/\s+/, line) returns.
inline size_t perl_word_count(std::string_view line) noexcept {
    size_t runs = 0;
    bool in_word = false;
    for (const char c : line) {
        const bool space = is_perl_space(static_cast<unsigned char>(c));
        runs += static_cast<size_t>(!space && !in_word);
        in_word = !space;
    }
    const bool leading_space = !line.empty() && is_perl_space(static_cast<unsigned char>(line[0]));
    return runs + static_cast<size_t>(leading_space && runs > 0);
}

// The bytes of `line` up to the end of its first `words` words, counted as
// perl_word_count counts them.
inline size_t perl_words_prefix(std::string_view line, size_t words) noexcept {
    if (!line.empty() && is_perl_space(static_cast<unsigned char>(line[0]))) {
        if (words == 0) return 0;
        --words;  // the empty word before the leading white space
    }
    size_t end = 0;
    size_t i = 0;
    while (words > 0 && i < line.size()) {
        while (i < line.size() && is_perl_space(static_cast<unsigned char>(line[i]))) ++i;
        while (i < line.size() && !is_perl_space(static_cast<unsigned char>(line[i]))) ++i;
        end = i;
        --words;
    }
    return end;
}

}  // namespace details

// The number of non-empty lines of `text`.
inline size_t count_lines(std::string_view text) noexcept {
    size_t count = 0;
    size_t start = 0;
    while (start < text.size()) {
        const void* found = std::memchr(text.data() + start, '\n', text.size() - start);
        const size_t end = found ? static_cast<size_t>(static_cast<const char*>(found) - text.data()) : text.size();
        count += static_cast<size_t>(end > start);
        start = end + 1;
    }
    return count;
}

// The non-empty lines of `text`, each kept whole, into `out` (room for
// count_lines(text) lines); returns how many.
inline size_t split_lines(std::string_view text, KeptLine* out) noexcept {
    size_t count = 0;
    size_t start = 0;
    while (start < text.size()) {
        const void* found = std::memchr(text.data() + start, '\n', text.size() - start);
        const size_t end = found ? static_cast<size_t>(static_cast<const char*>(found) - text.data()) : text.size();
        if (end > start) out[count++] = KeptLine{start, end - start, end - start};
        start = end + 1;
    }
    return count;
}

// Cuts `lines` for the n-gram reading (sentences = false) or the sentence
// reading (sentences = true); returns how many lines remain.
inline size_t apply_limits(std::string_view text, KeptLine* lines, size_t count, const Options& options,
                           bool sentences) noexcept {
    if (options.word_limit != 0) {
        const size_t limit = options.word_limit;
        size_t so_far = 0;
        for (size_t i = 0; i < count; ++i) {
            const std::string_view line = text.substr(lines[i].start, lines[i].length);
            const size_t words = details::perl_word_count(line);
            if (so_far + words < limit) {
                so_far += words;
                continue;
            }
            lines[i].kept = details::perl_words_prefix(line, limit - so_far);
            return i + 1;
        }
    } else if (options.byte_limit != 0) {
        const size_t limit = options.byte_limit;
        size_t so_far = 0;
        for (size_t i = 0; i < count; ++i) {
            if (so_far + lines[i].length < limit) {
                if (!sentences) so_far += lines[i].length;
                continue;
            }
            lines[i].kept = limit - so_far;
            return i + 1;
        }
    }
    return count;
}

}  // namespace tallygrams::scorer::rouge155
