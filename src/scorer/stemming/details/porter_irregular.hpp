// The irregular forms the stemmer we match looks up before any rule: words
// whose rule-made stems were found wrong in use. Some map to another form,
// some to themselves (so that, e.g., news is not taken for the plural of new).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tallygrams::scorer::details {

struct IrregularForm {
    std::string_view word;
    std::string_view stem;
};

inline constexpr std::array<IrregularForm, 16> kIrregularForms{{
    {"sky", "sky"},
    {"skies", "sky"},
    {"dying", "die"},
    {"lying", "lie"},
    {"tying", "tie"},
    {"news", "news"},
    {"innings", "inning"},
    {"inning", "inning"},
    {"outings", "outing"},
    {"outing", "outing"},
    {"cannings", "canning"},
    {"canning", "canning"},
    {"howe", "howe"},
    {"proceed", "proceed"},
    {"exceed", "exceed"},
    {"succeed", "succeed"},
}};

// The letters of a word of up to eight letters as one number, first letter
// in the lowest byte, zeros after the last.
constexpr uint64_t short_word_key(std::string_view word) noexcept {
    uint64_t key = 0;
    for (size_t i = 0; i < word.size(); ++i) key |= uint64_t{static_cast<unsigned char>(word[i])} << (8 * i);
    return key;
}

inline constexpr auto kIrregularKeys = [] {
    std::array<uint64_t, kIrregularForms.size()> keys{};
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = short_word_key(kIrregularForms[i].word);
    return keys;
}();

// The stem `word` is mapped to, or an empty view when it is not irregular.
// Each stem is no longer than its word.
inline std::string_view irregular_porter_stem(std::string_view word) noexcept {
    if (word.size() < 3 || word.size() > 8) return {};
    const uint64_t key = short_word_key(word);
    for (size_t i = 0; i < kIrregularKeys.size(); ++i) {
        if (kIrregularKeys[i] == key) return kIrregularForms[i].stem;
    }
    return {};
}

constexpr bool irregular_stems_fit() {
    for (const IrregularForm& form : kIrregularForms) {
        if (form.stem.size() > form.word.size() || form.stem.empty() || form.word.size() < 3 || form.word.size() > 8)
            return false;
    }
    return true;
}
static_assert(irregular_stems_fit());

}  // namespace tallygrams::scorer::details
