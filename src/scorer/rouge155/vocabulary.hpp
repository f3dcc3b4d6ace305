// Token texts to numbers for a run of pairs, with the script's stop words
// and stemming applied once per distinct token.
//
// Every token is numbered twice over. Its text gets a number in the run's
// table of distinct texts (numbering/token_numbering.hpp); the first time a
// text is seen, it is looked up in the stop-word list (-s) and stemmed (-m),
// and the result gets a number of its own: the token's word. Two texts whose
// stems are equal are the same word, as the script compares stems as
// strings. Pairs then renumber the words they hold from 0 (pair_numbering).
//
// Texts are copied on first sight into the vocabulary's own memory, so the
// text they came from may go away; a run must therefore bound the distinct
// texts it can hold (`max_texts`), which its length in bytes does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/numbering/token_numbering.hpp"
#include "scorer/rouge155/options.hpp"
#include "scorer/rouge155/stemmer.hpp"
#include "scorer/rouge155/word_lists.hpp"

namespace tallygrams::scorer::rouge155 {

using WordId = uint32_t;

// A token the stop-word list removes.
inline constexpr WordId kStopped = ~WordId{0};

class Vocabulary {
public:
    // `arena` must outlive the vocabulary and be used for nothing that is
    // rewound meanwhile. `stems`, if given, remembers stems across
    // vocabularies (one cache per thread).
    Vocabulary(const Options& options, size_t max_texts, ScratchArena& arena, ScriptStemCache* stems = nullptr)
        : arena_(arena),
          stems_(stems),
          transform_(options.stem || options.remove_stop_words),
          stem_(options.stem),
          remove_stop_words_(options.remove_stop_words),
          texts_(max_texts, arena),
          words_(transform_ ? max_texts : 1, arena) {}

    // The word of the token `text` (normalised: lower case), or kStopped.
    // `text` needs 16 readable bytes (normalised text is padded for this).
    WordId word_of(const char* text, size_t length) {
        constexpr uint32_t kNew = ~uint32_t{0};
        uint32_t id = texts_.find(text, length, kNew);
        if (id == kNew) {
            id = texts_.number(keep(text, length), length);
            word_of_text_.push_back(transform_ ? transform(std::string_view(text, length)) : id);
        }
        return word_of_text_[id];
    }

    // Words are numbered below this.
    WordId word_count() const noexcept { return transform_ ? words_.distinct() : texts_.distinct(); }

private:
    // A copy of the text in the vocabulary's memory, padded for short_key.
    const char* keep(const char* text, size_t length) {
        char* copy = room_for(length + 16);
        std::memcpy(copy, text, length);
        std::memset(copy + length, ' ', 16);
        return copy;
    }

    // Bytes for texts and stems, cut from blocks of the arena: one
    // allocation per block rather than per text.
    char* room_for(size_t bytes) {
        constexpr size_t kBlock = 64 * 1024;
        if (bytes > block_left_) {
            const size_t size = bytes > kBlock / 4 ? bytes : kBlock;
            if (size != bytes) {
                block_ = arena_.allocate<char>(size);
                block_left_ = size;
            } else {
                return arena_.allocate<char>(bytes);  // a long text: a block of its own
            }
        }
        char* out = block_;
        block_ += bytes;
        block_left_ -= bytes;
        return out;
    }

    WordId transform(std::string_view token) {
        if (remove_stop_words_ && is_stop_word(token)) return kStopped;
        if (!stem_) return words_.number(keep(token.data(), token.size()), token.size());
        // Written straight into the vocabulary's memory, padded for short_key.
        char* stem = room_for(ScriptStemmer::room(token.size()) + 16);
        const size_t size = stems_ != nullptr ? stems_->stem(token, stem) : ScriptStemmer::stem(token, stem);
        std::memset(stem + size, ' ', 16);
        return words_.number(stem, size);
    }

    ScratchArena& arena_;
    ScriptStemCache* stems_;
    bool transform_;
    bool stem_;
    bool remove_stop_words_;
    detail::TokenNumbering<uint32_t> texts_;
    detail::TokenNumbering<uint32_t> words_;
    std::vector<WordId> word_of_text_;
    char* block_ = nullptr;
    size_t block_left_ = 0;
};

// Words renumbered from 0 for one pair: the prediction's words first, in
// order of appearance; a reference word the prediction lacks matches nothing
// and gets `absent()`, one past the prediction's.
class PairNumbering {
public:
    void start_pair() {
        ++serial_;
        next_ = 0;
        if (serial_ == 0) {  // the stamps wrapped around
            std::fill(stamp_.begin(), stamp_.end(), 0);
            serial_ = 1;
        }
    }

    WordId number(WordId word) {
        if (word >= stamp_.size()) grow(word);
        if (stamp_[word] != serial_) {
            stamp_[word] = serial_;
            local_[word] = next_++;
        }
        return local_[word];
    }

    WordId look_up(WordId word) const noexcept {
        return word < stamp_.size() && stamp_[word] == serial_ ? local_[word] : next_;
    }

    WordId absent() const noexcept { return next_; }

private:
    void grow(WordId word) {
        const size_t size = std::max<size_t>(size_t{word} + 1, 2 * stamp_.size());
        stamp_.resize(size, 0);
        local_.resize(size, 0);
    }

    std::vector<uint32_t> stamp_;
    std::vector<WordId> local_;
    uint32_t serial_ = 0;
    WordId next_ = 0;
};

}  // namespace tallygrams::scorer::rouge155
