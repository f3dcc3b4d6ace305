// Room for token texts that do not already live in a padded buffer: a
// stemmer's output, a copy of a token produced elsewhere (another tokenizer,
// a caller's own token strings). Texts are appended to arena chunks that
// never move, so a view handed out stays valid for the arena scope.
//
// The padding rule every token view in the scorer obeys: at least
// kTokenSlack initialised bytes can be read after the token's last byte.
// The numbering reads whole words at a token's start, and this is what makes
// that safe. A normalised text (token_walk.hpp) gives the same guarantee.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/tokenizing/token_walk.hpp"

namespace tallygrams::scorer {

inline constexpr size_t kTokenSlack = NormalizedText::kTokenPadding;
static_assert(kTokenSlack >= 16, "the numbering reads sixteen bytes at a token's start (short_key)");

class TokenStore {
public:
    explicit TokenStore(ScratchArena& arena) noexcept : arena_(&arena) {}
    TokenStore(const TokenStore&) = delete;
    TokenStore& operator=(const TokenStore&) = delete;

    // Writable room for at least `bytes` bytes; commit() then keeps a prefix
    // of it. A later room() call abandons an uncommitted one.
    char* room(size_t bytes) {
        if (bytes + kTokenSlack > static_cast<size_t>(end_ - next_)) grow(bytes);
        reserved_ = bytes;
        return next_;
    }

    // Keeps the first `length` bytes of the last room as a token text.
    std::string_view commit(size_t length) {
        ensure(length <= reserved_, "a token text overran the room it was given");
        const std::string_view text(next_, length);
        next_ += length;
        reserved_ = 0;
        return text;
    }

    // A padded copy of `text`.
    std::string_view copy(std::string_view text) {
        char* out = room(text.size());
        if (!text.empty()) std::memcpy(out, text.data(), text.size());
        return commit(text.size());
    }

private:
    static constexpr size_t kFirstChunk = 512;

    // Chunks are zeroed so that the slack after the last text is initialised.
    void grow(size_t bytes) {
        chunk_size_ = std::max({2 * chunk_size_, kFirstChunk, bytes + kTokenSlack});
        next_ = arena_->allocate_zeroed<char>(chunk_size_);
        end_ = next_ + chunk_size_;
    }

    ScratchArena* arena_;
    char* next_ = nullptr;
    char* end_ = nullptr;
    size_t chunk_size_ = 0;
    size_t reserved_ = 0;
};

}  // namespace tallygrams::scorer
