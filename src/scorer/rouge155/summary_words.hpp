// A summary as the script's two readings of it (reading.hpp), each a
// sequence of words (vocabulary.hpp): all of its kept tokens in a row, for
// n-grams and skip-bigrams and the token counts, and its kept lines as
// sentences, for ROUGE-L and ROUGE-W. Without -b the two hold the same
// words, and share them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/numbering/id_sequence.hpp"
#include "scorer/rouge155/reading.hpp"
#include "scorer/rouge155/vocabulary.hpp"
#include "scorer/tokenizing/token_walk.hpp"

namespace tallygrams::scorer::rouge155 {

struct SummaryWords {
    IdSequence<WordId> tokens;     // one sentence: the n-gram reading
    IdSequence<WordId> sentences;  // the sentence reading
};

namespace details {

// The words of the kept parts of `lines`, with a sentence end after each
// line that has any; stop words are left out.
inline IdSequence<WordId> words_of_lines(const NormalizedText& text, const KeptLine* lines, size_t line_count,
                                         Vocabulary& vocabulary, ScratchArena& arena) {
    IdSequence<WordId> out;
    WordId* words = arena.allocate<WordId>(count_tokens(text) + 1);
    size_t* ends = arena.allocate<size_t>(line_count + 1);
    size_t count = 0;
    size_t sentences = 0;
    size_t line = 0;
    size_t sentence_start = 0;
    const auto close_sentence = [&] {
        if (count > sentence_start) ends[sentences++] = count;
        sentence_start = count;
    };
    TokenCursor cursor(text);
    size_t start = 0;
    size_t length = 0;
    while (line < line_count && cursor.next(start, length)) {
        while (line < line_count && start >= lines[line].start + lines[line].length) {
            close_sentence();
            ++line;
        }
        if (line == line_count) break;
        const size_t kept_end = lines[line].start + lines[line].kept;
        if (start >= kept_end) continue;
        const WordId word = vocabulary.word_of(text.bytes + start, std::min(length, kept_end - start));
        if (word != kStopped) words[count++] = word;
    }
    close_sentence();
    out.ids = words;
    out.count = count;
    out.sentence_ends = ends;
    out.sentence_count = sentences;
    return out;
}

}  // namespace details

// `text` is a summary's bytes. The words live in `arena`.
inline SummaryWords read_summary(std::string_view text, const Options& options, Vocabulary& vocabulary,
                                 ScratchArena& arena) {
    const NormalizedText normalized = normalize_bytes(text, arena);
    KeptLine* lines = arena.allocate<KeptLine>(count_lines(text) + 1);
    const size_t line_count = split_lines(text, lines);
    SummaryWords words;
    if (options.byte_limit == 0) {
        const size_t kept = apply_limits(text, lines, line_count, options, /*sentences=*/false);
        words.sentences = details::words_of_lines(normalized, lines, kept, vocabulary, arena);
        words.tokens = words.sentences;
    } else {
        KeptLine* sentence_lines = arena.allocate<KeptLine>(line_count + 1);
        std::copy(lines, lines + line_count, sentence_lines);
        const size_t kept = apply_limits(text, lines, line_count, options, /*sentences=*/false);
        words.tokens = details::words_of_lines(normalized, lines, kept, vocabulary, arena);
        const size_t kept_sentences = apply_limits(text, sentence_lines, line_count, options, /*sentences=*/true);
        words.sentences = details::words_of_lines(normalized, sentence_lines, kept_sentences, vocabulary, arena);
    }
    return words;
}

}  // namespace tallygrams::scorer::rouge155
