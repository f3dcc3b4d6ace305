// The word a Porter stemmer works on: characters in a buffer, edited in place
// at the end, and the questions the algorithm's conditions ask about a prefix
// of it (the "stem" left when a suffix is taken off).
//
// Consonants and vowels follow Porter's definition: a, e, i, o and u are
// vowels; y is a consonant at the start of a word or after a vowel, and a
// vowel after a consonant; everything else, digits included, is a consonant.
// Whether a letter is a consonant therefore depends only on the letters
// before it, so a prefix classifies the same whether or not the rest of the
// word follows.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/bits.hpp"

namespace tallygrams::scorer::details {

constexpr bool is_plain_vowel(char c) noexcept { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

// Whether `c` is a consonant when the letter before it is (or is not) one.
constexpr bool classify(char c, bool previous_consonant) noexcept {
    return c == 'y' ? !previous_consonant : !is_plain_vowel(c);
}

// The last eight bytes of a word read as one number, its last letter in the
// top byte. A suffix of up to eight letters packed the same way (with a mask
// over its bytes) is then compared with one load, a mask and a compare.
// Letters are never zero, so the zero padding in front of a word shorter
// than eight letters never matches a suffix longer than the word.
struct PackedSuffix {
    uint64_t letters = 0;
    uint64_t mask = 0;
    size_t size = 0;
};

constexpr PackedSuffix pack_suffix(std::string_view suffix) noexcept {
    PackedSuffix packed{0, 0, suffix.size()};
    const size_t first = 8 - suffix.size();
    for (size_t i = 0; i < suffix.size(); ++i) {
        packed.letters |= uint64_t{static_cast<unsigned char>(suffix[i])} << (8 * (first + i));
        packed.mask |= uint64_t{0xFF} << (8 * (first + i));
    }
    return packed;
}

inline uint64_t load_last_eight(const char* end) noexcept {
    uint64_t bytes;
    std::memcpy(&bytes, end - 8, 8);
    if constexpr (std::endian::native == std::endian::big) {
        uint64_t swapped = 0;
        for (int i = 0; i < 8; ++i) swapped = (swapped << 8) | ((bytes >> (8 * i)) & 0xFF);
        bytes = swapped;
    }
    return bytes;
}

// Bit i set when letter i of a word of up to 64 letters is a consonant.
// Reads 64 bytes from `text`, whatever the word's length.
inline uint64_t consonant_mask(const char* text, size_t size) noexcept {
    uint64_t vowels = 0, ys = 0;
#if defined(__SSE2__)
    for (size_t block = 0; block < size; block += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + block));
        const __m128i vowel = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('a')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('e'))),
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('i')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('o'))),
                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8('u'))));
        vowels |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(vowel))} << block;
        ys |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('y'))))} << block;
    }
#else
    for (size_t i = 0; i < size; ++i) {
        vowels |= uint64_t{is_plain_vowel(text[i])} << i;
        ys |= uint64_t{text[i] == 'y'} << i;
    }
#endif
    const uint64_t letters = low_bits(size);
    uint64_t consonants = ~vowels & ~ys & letters;
    // Each y in turn from the left, so that a run of y's alternates.
    for (uint64_t rest = ys & letters; rest != 0; rest &= rest - 1) {
        const int i = std::countr_zero(rest);
        const bool after_consonant = i > 0 && ((consonants >> (i - 1)) & 1);
        consonants |= uint64_t{!after_consonant} << i;
    }
    return consonants;
}

class PorterWord {
public:
    // The eight bytes before the end of the word must always be readable:
    // either the word never gets shorter than eight letters, or the buffer
    // holds zeros in front of it. A word of up to 64 letters must have 64
    // readable bytes from its start. porter_stem arranges both.
    //
    // A word of up to 64 letters keeps the class of every letter in a bit
    // mask, so that the measure and the other conditions are a few bit
    // operations instead of a pass over the stem. Longer words (a token may
    // be arbitrarily long) walk the letters instead.
    PorterWord(char* text, size_t size) noexcept
        : text_(text), size_(size), masked_(size <= 64), consonants_(masked_ ? consonant_mask(text, size) : 0) {}

    size_t size() const noexcept { return size_; }
    std::string_view view() const noexcept { return {text_, size_}; }
    char last() const noexcept { return text_[size_ - 1]; }
    // The letter before the last, or a zero of the padding for a one-letter word.
    char second_last() const noexcept { return text_[static_cast<std::ptrdiff_t>(size_) - 2]; }

    bool ends_with(const PackedSuffix& suffix) const noexcept {
        return (load_last_eight(text_ + size_) & suffix.mask) == suffix.letters;
    }

    // Replaces the last `suffix_size` letters with `replacement`. The word
    // never grows past the length it started with (see porter_stemmer.hpp);
    // the callers only write replacements into room a removed suffix left.
    void replace_suffix(size_t suffix_size, std::string_view replacement) noexcept {
        size_ -= suffix_size;
        if (replacement.empty()) return;
        std::memcpy(text_ + size_, replacement.data(), replacement.size());
        size_ += replacement.size();
        if (masked_) classify_from(size_ - replacement.size());
    }
    // Bits past the end stay as they are; every query masks them off.
    void drop(size_t count) noexcept { size_ -= count; }

    bool is_consonant(size_t index) const noexcept {
        if (masked_) return (consonants_ >> index) & 1;
        // A run of y's alternates, so walk back to the first letter that is
        // not a y (or to the start): an even number of steps keeps its class,
        // an odd one flips it.
        bool flip = false;
        while (index > 0 && text_[index] == 'y') {
            flip = !flip;
            --index;
        }
        return !is_plain_vowel(text_[index]) != flip;
    }

    // Porter's measure m of the first `length` letters (the number of
    // vowel-to-consonant transitions, m in [C](VC){m}[V]), capped at 2: no
    // condition asks for more than whether m is 0, 1 or greater.
    size_t measure(size_t length) const noexcept {
        if (masked_) {
            const uint64_t transitions = consonants_ & ~(consonants_ << 1) & ~uint64_t{1} & low_bits(length);
            return transitions == 0 ? 0 : (transitions & (transitions - 1)) == 0 ? 1 : 2;
        }
        size_t m = 0;
        bool previous_consonant = false;  // so that a leading y is a consonant
        for (size_t i = 0; i < length && m < 2; ++i) {
            const bool consonant = classify(text_[i], previous_consonant);
            m += (i > 0) & !previous_consonant & consonant;
            previous_consonant = consonant;
        }
        return m;
    }

    // Porter's *v*: the first `length` letters hold a vowel.
    bool contains_vowel(size_t length) const noexcept {
        if (masked_) return (~consonants_ & low_bits(length)) != 0;
        bool previous_consonant = false;
        for (size_t i = 0; i < length; ++i) {
            previous_consonant = classify(text_[i], previous_consonant);
            if (!previous_consonant) return true;
        }
        return false;
    }

    // Porter's *d: the first `length` letters end in two equal consonants.
    bool ends_double_consonant(size_t length) const noexcept {
        return length >= 2 && text_[length - 1] == text_[length - 2] && is_consonant(length - 1);
    }

    // Porter's *o: the first `length` letters end consonant-vowel-consonant
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
    // Classifies the letters from `begin` to the end (a replacement of a few
    // letters), each from the one before it.
    void classify_from(size_t begin) noexcept {
        bool previous_consonant = begin > 0 && ((consonants_ >> (begin - 1)) & 1);
        for (size_t i = begin; i < size_; ++i) {
            previous_consonant = classify(text_[i], previous_consonant);
            consonants_ = (consonants_ & ~(uint64_t{1} << i)) | (uint64_t{previous_consonant} << i);
        }
    }

    char* text_;
    size_t size_;
    bool masked_;
    uint64_t consonants_;  // bit i: letter i is a consonant (words of up to 64 letters)
};

}  // namespace tallygrams::scorer::details
