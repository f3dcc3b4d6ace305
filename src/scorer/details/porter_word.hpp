// The word a Porter stemmer works on: characters in a caller's buffer, edited
// in place at the end, and the questions the algorithm's conditions ask about
// a prefix of it (the "stem" left when a suffix is taken off).
//
// Consonants and vowels follow Porter's definition: a, e, i, o and u are
// vowels; y is a consonant at the start of a word or after a vowel, and a
// vowel after a consonant; everything else, digits included, is a consonant.
// Whether a letter is a consonant therefore depends only on the letters
// before it, so a prefix classifies the same whether or not the rest of the
// word follows.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace tallygrams::scorer::details {

constexpr bool is_plain_vowel(char c) noexcept { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

class PorterWord {
public:
    PorterWord(char* text, size_t size) noexcept : text_(text), size_(size) {}

    size_t size() const noexcept { return size_; }
    std::string_view view() const noexcept { return {text_, size_}; }
    char last() const noexcept { return text_[size_ - 1]; }

    bool ends_with(std::string_view suffix) const noexcept {
        return suffix.size() <= size_ && std::memcmp(text_ + size_ - suffix.size(), suffix.data(), suffix.size()) == 0;
    }

    // Replaces the last `suffix_size` characters with `replacement`. The word
    // never grows past the length it started with (see porter_stem.hpp); the
    // callers only write replacements into room a removed suffix left.
    void replace_suffix(size_t suffix_size, std::string_view replacement) noexcept {
        size_ -= suffix_size;
        if (!replacement.empty()) std::memcpy(text_ + size_, replacement.data(), replacement.size());
        size_ += replacement.size();
    }
    void drop(size_t count) noexcept { size_ -= count; }

    // Whether the character at `index` is a consonant. A run of y's
    // alternates, so walk back to the first letter that is not a y (or to
    // the start): an even number of steps keeps its class, an odd one flips it.
    bool is_consonant(size_t index) const noexcept {
        bool flip = false;
        while (index > 0 && text_[index] == 'y') {
            flip = !flip;
            --index;
        }
        return !is_plain_vowel(text_[index]) != flip;
    }

    // Porter's measure m of the first `length` characters: the number of
    // vowel-to-consonant transitions, m in [C](VC){m}[V].
    size_t measure(size_t length) const noexcept {
        size_t m = 0;
        bool previous_consonant = false;  // so that a leading y is a consonant
        for (size_t i = 0; i < length; ++i) {
            const char c = text_[i];
            const bool consonant = c == 'y' ? !previous_consonant : !is_plain_vowel(c);
            m += (i > 0) & !previous_consonant & consonant;
            previous_consonant = consonant;
        }
        return m;
    }

    // Porter's *v*: the first `length` characters hold a vowel.
    bool contains_vowel(size_t length) const noexcept {
        bool previous_consonant = false;
        for (size_t i = 0; i < length; ++i) {
            const char c = text_[i];
            const bool consonant = c == 'y' ? !previous_consonant : !is_plain_vowel(c);
            if (!consonant) return true;
            previous_consonant = consonant;
        }
        return false;
    }

    // Porter's *d: the first `length` characters end in two equal consonants.
    bool ends_double_consonant(size_t length) const noexcept {
        return length >= 2 && text_[length - 1] == text_[length - 2] && is_consonant(length - 1);
    }

    // Porter's *o: the first `length` characters end consonant-vowel-consonant
    // and the last is not w, x or y. The stemmer we match also accepts a
    // two-letter stem that is exactly vowel-consonant (any consonant).
    bool ends_cvc(size_t length) const noexcept {
        if (length >= 3) {
            const char c = text_[length - 1];
            if (c != 'w' && c != 'x' && c != 'y' && is_consonant(length - 3) && !is_consonant(length - 2) &&
                is_consonant(length - 1)) {
                return true;
            }
        }
        return length == 2 && !is_consonant(0) && is_consonant(1);
    }

private:
    char* text_;
    size_t size_;
};

}  // namespace tallygrams::scorer::details
