// The tokenizer for every script (unicode_tokenizer.hpp) as a TokenSequence,
// through the callback adapter of tokenizers.hpp. Its token views carry no
// padding, so each token is copied into the store.
#pragma once

#include <string_view>

#include "scorer/details/scratch_arena.hpp"
#include "scorer/tokenizing/tokenized_text.hpp"
#include "scorer/tokenizing/tokenizers.hpp"
#include "scorer/tokenizing/unicode_tokenizer.hpp"

namespace tallygrams::scorer {

// The tokens of `text`, with a sentence end at every '\n' when `mark_lines`
// is set.
template <class Transform = KeepToken>
TokenSequence tokenize_unicode(std::string_view text, ScratchArena& arena, bool mark_lines, Transform transform = {}) {
    return collect_tokens(
        [&](auto on_token, auto on_newline) { for_each_unicode_token(text, arena, on_token, on_newline); }, arena,
        mark_lines, transform);
}

template <class Transform = KeepToken>
TokenizedText tokenize_unicode_text(std::string_view text, ScratchArena& arena, bool with_sentences,
                                    Transform transform = {}) {
    const TokenSequence tokens = tokenize_unicode(text, arena, with_sentences, transform);
    return with_sentences ? TokenizedText::from_lines(tokens) : TokenizedText::whole_only(tokens);
}

}  // namespace tallygrams::scorer
