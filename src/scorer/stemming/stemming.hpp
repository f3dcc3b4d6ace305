// The default tokenizer's stemming as a per-token transform
// (tokenized_text.hpp): every token longer than three characters is replaced
// by its Porter stem (porter_stemmer.hpp), written into the token store.
// For the ASCII tokenizer's tokens, whose characters are bytes and which are
// all the stemmer is defined on.
#pragma once

#include <string_view>

#include "scorer/stemming/porter_stemmer.hpp"
#include "scorer/stemming/stem_cache.hpp"
#include "scorer/tokenizing/token_store.hpp"

namespace tallygrams::scorer {

struct StemLongTokens {
    std::string_view operator()(std::string_view token, TokenStore& store) const {
        if (token.size() <= 3) return token;
        return store.commit(porter_stem(token, store.room(porter_stem_room(token.size()))));
    }
};

// The same, through a cache the caller owns (stem_cache.hpp).
struct CachedStemLongTokens {
    StemCache& cache;

    std::string_view operator()(std::string_view token, TokenStore& store) const {
        if (token.size() <= 3) return token;
        return store.commit(cache.stem(token, store.room(porter_stem_room(token.size()))));
    }
};

}  // namespace tallygrams::scorer
