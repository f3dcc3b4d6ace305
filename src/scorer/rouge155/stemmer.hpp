// The script's stemming of one token under -m: a token of more than three
// bytes is looked up in the WordNet 2.0 exception lists, and its base form
// there is the stem; otherwise the script's Porter stemmer stems it
// (details/porter.hpp). Shorter tokens stay as they are.
#pragma once

#include <string>
#include <string_view>

#include "scorer/rouge155/details/porter.hpp"
#include "scorer/rouge155/word_lists.hpp"

namespace tallygrams::scorer::rouge155 {

inline std::string stem_token(std::string_view token) {
    if (token.size() <= 3) return std::string(token);
    if (const auto base = exception_base(token)) return std::string(*base);
    return details::porter_stem(token);
}

}  // namespace tallygrams::scorer::rouge155
