// The irregular forms the stemmer we match looks up before any rule: words
// whose rule-made stems were found wrong in use. Some map to another form,
// some to themselves (so that, e.g., news is not taken for the plural of new).
#pragma once

#include <array>
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

// The stem `word` is mapped to, or an empty view when it is not irregular.
// Each stem is no longer than its word.
inline std::string_view irregular_porter_stem(std::string_view word) noexcept {
    if (word.size() < 3 || word.size() > 8) return {};
    for (const IrregularForm& form : kIrregularForms) {
        if (form.word == word) return form.stem;
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
