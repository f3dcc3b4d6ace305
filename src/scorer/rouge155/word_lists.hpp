// The script's two word lists (details/word_list_data.hpp holds them with
// their notices): the stop words that -s removes, and the WordNet 2.0
// exception forms that -m looks up before stemming.
#pragma once

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>

#include "scorer/rouge155/details/word_list_data.hpp"

namespace tallygrams::scorer::rouge155 {

inline bool is_stop_word(std::string_view token) noexcept {
    return std::binary_search(std::begin(details::kStopWords), std::end(details::kStopWords), token);
}

// The base form the exception lists give for `word`, if they list it.
inline std::optional<std::string_view> exception_base(std::string_view word) noexcept {
    const auto* end = std::end(details::kExceptions);
    const auto* found = std::lower_bound(std::begin(details::kExceptions), end, word,
                                         [](const details::ExceptionEntry& e, std::string_view w) { return e.word < w; });
    if (found == end || found->word != word) return std::nullopt;
    return found->base;
}

// The longest base form in the exception lists, in bytes.
inline constexpr size_t kLongestExceptionBase = [] {
    size_t longest = 0;
    for (const details::ExceptionEntry& e : details::kExceptions) longest = std::max(longest, e.base.size());
    return longest;
}();

}  // namespace tallygrams::scorer::rouge155
