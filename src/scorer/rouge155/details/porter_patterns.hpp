// The measure conditions of the script's Porter stemmer, which it writes as
// regular expressions over a stem, answered exactly as a backtracking
// regular-expression match answers them: does some way of reading the stem
// fit the pattern?
//
// The building blocks, as the script defines them:
//   c = [^aeiou]          a consonant (y, digits and an upper-case Y included)
//   v = [aeiouy]          a vowel
//   C = c [^aeiouy]*      a run of consonants: y may only start it
//   V = v [aeiou]*        a run of vowels: y may only start it
// and the conditions:
//   m > 0      ^(C)?VC           (some prefix of the stem fits)
//   m = 1      ^(C)?VC(V)?$      (the whole stem fits)
//   m > 1      ^(C)?VCVC         (some prefix fits)
//   vowel      ^(C)?v            (some prefix fits)
//   cvc        ^C v [^aeiouwxy]$ (the whole stem fits)
//
// A pattern is read run by run: the set of positions where the runs so far
// can end is carried from one run to the next, so each run costs one pass
// over the stem however many ways there are to split it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tallygrams::scorer::rouge155::details {

// Character classes as bits; a set of classes is their union.
inline constexpr uint8_t kPlainVowel = 1;  // a e i o u
inline constexpr uint8_t kLowerY = 2;      // y
inline constexpr uint8_t kOther = 4;       // every other byte

inline constexpr uint8_t kConsonant = kLowerY | kOther;   // [^aeiou]
inline constexpr uint8_t kConsonantRest = kOther;         // [^aeiouy]
inline constexpr uint8_t kVowel = kPlainVowel | kLowerY;  // [aeiouy]
inline constexpr uint8_t kVowelRest = kPlainVowel;        // [aeiou]

constexpr uint8_t letter_class(char c) noexcept {
    switch (c) {
        case 'a': case 'e': case 'i': case 'o': case 'u': return kPlainVowel;
        case 'y': return kLowerY;
        default: return kOther;
    }
}

// Flags for the positions 0..size of a stem: where a partial match can stand.
class Positions {
public:
    explicit Positions(size_t size) : size_(size) {
        if (size + 1 > kInline) heap_.resize(size + 1);
        for (size_t p = 0; p <= size; ++p) at(p) = 0;
    }
    uint8_t& at(size_t p) noexcept { return heap_.empty() ? inline_[p] : heap_[p]; }
    uint8_t at(size_t p) const noexcept { return heap_.empty() ? inline_[p] : heap_[p]; }
    size_t size() const noexcept { return size_; }
    bool any() const noexcept {
        for (size_t p = 0; p <= size_; ++p) {
            if (at(p) != 0) return true;
        }
        return false;
    }

private:
    static constexpr size_t kInline = 64;
    size_t size_;
    uint8_t inline_[kInline];
    std::vector<uint8_t> heap_;
};

// Where one run (a letter of `first`, then any number of letters of `rest`)
// can end when it starts at one of `from`. With `optional`, the run may also
// be left out.
inline Positions run_ends(std::string_view stem, const Positions& from, uint8_t first, uint8_t rest,
                          bool optional = false) {
    Positions ends(stem.size());
    for (size_t p = 1; p <= stem.size(); ++p) {
        const uint8_t kind = letter_class(stem[p - 1]);
        const bool started = from.at(p - 1) != 0 && (kind & first) != 0;
        const bool extended = ends.at(p - 1) != 0 && (kind & rest) != 0;
        ends.at(p) = static_cast<uint8_t>(started || extended);
    }
    if (optional) {
        for (size_t p = 0; p <= stem.size(); ++p) ends.at(p) |= from.at(p);
    }
    return ends;
}

// Where ^(C)?VC can end.
inline Positions after_vc(std::string_view stem) {
    Positions start(stem.size());
    start.at(0) = 1;
    const Positions leading = run_ends(stem, start, kConsonant, kConsonantRest, /*optional=*/true);
    const Positions vowels = run_ends(stem, leading, kVowel, kVowelRest);
    return run_ends(stem, vowels, kConsonant, kConsonantRest);
}

// m > 0: ^(C)?VC.
inline bool measure_above_zero(std::string_view stem) { return after_vc(stem).any(); }

// m = 1: ^(C)?VC(V)?$.
inline bool measure_is_one(std::string_view stem) {
    const Positions ends = run_ends(stem, after_vc(stem), kVowel, kVowelRest, /*optional=*/true);
    return ends.at(stem.size()) != 0;
}

// m > 1: ^(C)?VCVC.
inline bool measure_above_one(std::string_view stem) {
    const Positions vowels = run_ends(stem, after_vc(stem), kVowel, kVowelRest);
    return run_ends(stem, vowels, kConsonant, kConsonantRest).any();
}

// ^(C)?v: a vowel after at most one leading run of consonants.
inline bool has_vowel(std::string_view stem) {
    Positions start(stem.size());
    start.at(0) = 1;
    const Positions leading = run_ends(stem, start, kConsonant, kConsonantRest, /*optional=*/true);
    return run_ends(stem, leading, kVowel, 0).any();
}

// ^C v [^aeiouwxy]$: one run of consonants, one vowel and a last letter that
// is not a, e, i, o, u, w, x or y.
inline bool is_consonant_vowel_consonant(std::string_view stem) noexcept {
    const size_t n = stem.size();
    if (n < 3) return false;
    const char last = stem[n - 1];
    if ((letter_class(last) & kOther) == 0 || last == 'w' || last == 'x') return false;
    if ((letter_class(stem[n - 2]) & kVowel) == 0) return false;
    if ((letter_class(stem[0]) & kConsonant) == 0) return false;
    for (size_t p = 1; p + 2 < n; ++p) {
        if ((letter_class(stem[p]) & kConsonantRest) == 0) return false;
    }
    return true;
}

}  // namespace tallygrams::scorer::rouge155::details
