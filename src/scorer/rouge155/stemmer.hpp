// The script's stemming of one token under -m: a token of more than three
// bytes is looked up in the WordNet 2.0 exception lists, and its base form
// there is the stem; otherwise the script's Porter stemmer stems it
// (details/porter.hpp). Shorter tokens stay as they are.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "scorer/rouge155/details/porter.hpp"
#include "scorer/rouge155/word_lists.hpp"
#include "scorer/stemming/stem_cache.hpp"

namespace tallygrams::scorer::rouge155 {

inline std::string stem_token(std::string_view token) {
    if (token.size() <= 3) return std::string(token);
    if (const auto base = exception_base(token)) return std::string(*base);
    return details::porter_stem(token);
}

// stem_token for a stem cache (stemming/stem_cache.hpp). A stem is never
// longer than its token, or than the longest base form of the exception
// lists.
struct ScriptStemmer {
    static constexpr size_t room(size_t token_size) noexcept { return std::max(token_size, kLongestExceptionBase); }
    static size_t stem(std::string_view token, char* out) {
        const std::string stem = stem_token(token);
        std::memcpy(out, stem.data(), stem.size());
        return stem.size();
    }
};

using ScriptStemCache = BasicStemCache<ScriptStemmer>;

}  // namespace tallygrams::scorer::rouge155
