// The token rules, in one place: a token is a maximal run of ASCII letters
// and digits, letters folded to lower case; every other byte separates.
//
// A text is first normalised into a buffer in which every byte is 'a'-'z',
// '0'-'9' or a space; tokens are then found 64 bytes at a time from a bit
// mask of the non-space bytes (token_edges.hpp), so the walk costs a few
// instructions per token instead of a branch per byte.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/arithmetic.hpp"
#include "scorer/details/cpu_features.hpp"
#include "scorer/details/poll.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/tokenizing/normalize_avx2.hpp"
#include "scorer/tokenizing/token_edges.hpp"

namespace tallygrams::scorer {

// Normalised text in arena memory. At least kTokenPadding spaces follow the
// last byte, so word-wide reads just past a token stay inside the buffer and
// the block walk always ends on a separator.
struct NormalizedText {
    static constexpr size_t kBlock = 64;
    static constexpr size_t kTokenPadding = 16;

    const char* bytes = nullptr;
    size_t length = 0;         // bytes of text, without the padding
    size_t padded_length = 0;  // a multiple of kBlock
    // One word per 64-byte block: bit i set when byte i is part of a token.
    const uint64_t* token_masks = nullptr;
};

namespace detail {

inline uint64_t token_byte_mask(const char* block) noexcept;

// Branch-free so that the compiler can vectorise the ASCII loop.
inline char normalize_ascii_byte(unsigned char b) noexcept {
    const unsigned char folded = b | 0x20;
    const bool letter = static_cast<unsigned char>(folded - 'a') < 26;
    const bool digit = static_cast<unsigned char>(b - '0') < 10;
    return static_cast<char>(letter ? folded : (digit ? b : ' '));
}

// Normalises as if the text were ASCII and reports whether it was, filling
// the token masks in the same pass: the common case reads the text once. If
// a byte of 0x80 or above turns up, the output is discarded and the text
// redone by normalize_unicode. `out` has room for every block in full.
// This is the baseline kernel (SSE2, which every x86-64 processor has);
// normalize_if_ascii picks normalize_if_ascii_avx2 where the processor
// allows.
inline bool normalize_if_ascii_baseline(std::string_view text, char* __restrict out,
                                        uint64_t* __restrict masks) noexcept {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
#if defined(__SSE2__)
    // Unsigned range tests done as signed compares after a shift by 128.
    const __m128i case_bit = _mm_set1_epi8(0x20);
    const __m128i letter_shift = _mm_set1_epi8(static_cast<char>(128 - 'a'));
    const __m128i letter_limit = _mm_set1_epi8(static_cast<char>(-128 + 26));
    const __m128i digit_shift = _mm_set1_epi8(static_cast<char>(128 - '0'));
    const __m128i digit_limit = _mm_set1_epi8(static_cast<char>(-128 + 10));
    const __m128i space = _mm_set1_epi8(' ');
    __m128i seen = _mm_setzero_si128();
    size_t block = 0;
    for (; block < n; block += 64) {
        uint64_t mask = 0;
        for (size_t k = 0; k < 4; ++k) {
            const size_t at = block + 16 * k;
            __m128i bytes;
            if (at + 16 <= n) {
                bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
            } else {
                // The tail: never read past the text; spaces stand in.
                alignas(16) unsigned char tail[16];
                std::memset(tail, ' ', sizeof tail);
                if (at < n) std::memcpy(tail, in + at, n - at);
                bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
            }
            seen = _mm_or_si128(seen, bytes);
            const __m128i folded = _mm_or_si128(bytes, case_bit);
            const __m128i letter = _mm_cmplt_epi8(_mm_add_epi8(folded, letter_shift), letter_limit);
            const __m128i digit = _mm_cmplt_epi8(_mm_add_epi8(bytes, digit_shift), digit_limit);
            const __m128i token = _mm_or_si128(letter, digit);
            const __m128i kept = _mm_or_si128(_mm_and_si128(letter, folded), _mm_and_si128(digit, bytes));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_or_si128(kept, _mm_andnot_si128(token, space)));
            mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(token))) << (16 * k);
        }
        masks[block / 64] = mask;
    }
    return _mm_movemask_epi8(seen) == 0;
#else
    unsigned char seen = 0;
    for (size_t i = 0; i < n; ++i) {
        seen |= in[i];
        out[i] = normalize_ascii_byte(in[i]);
    }
    std::memset(out + n, ' ', round_up(n, 64) - n);
    for (size_t block = 0; block < n; block += 64) masks[block / 64] = token_byte_mask(out + block);
    return (seen & 0x80) == 0;
#endif
}

inline bool normalize_if_ascii(std::string_view text, char* __restrict out, uint64_t* __restrict masks) noexcept {
#if defined(TALLYGRAMS_X86_KERNELS)
    if (cpu_has_avx2()) return normalize_if_ascii_avx2(text, out, masks);
#endif
    return normalize_if_ascii_baseline(text, out, masks);
}

// Text with bytes of 0x80 and above. Lower-casing the whole text with the
// full Unicode mapping would change only two characters into something with
// an ASCII letter or digit: U+0130 (to "i" and a combining dot, which
// separates) and U+212A KELVIN SIGN (to "k", which joins its neighbours).
// Every other non-ASCII character, whatever it maps to, separates tokens.
// The output is never longer than the input.
inline size_t normalize_unicode(std::string_view text, char* out) noexcept {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t written = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char b = in[i];
        if (b < 0x80) {
            out[written++] = normalize_ascii_byte(b);
        } else if (b == 0xC4 && i + 1 < n && in[i + 1] == 0xB0) {
            out[written++] = 'i';
            out[written++] = ' ';
            i += 1;
        } else if (b == 0xE2 && i + 2 < n && in[i + 1] == 0x84 && in[i + 2] == 0xAA) {
            out[written++] = 'k';
            i += 2;
        } else {
            out[written++] = ' ';
        }
    }
    return written;
}

// Bit i set when byte i of the 64-byte block is part of a token.
inline uint64_t token_byte_mask(const char* block) noexcept {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(' ');
    uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k));
        const auto separators = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, space)));
        mask |= static_cast<uint64_t>(~separators & 0xFFFFu) << (16 * k);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i) mask |= static_cast<uint64_t>(block[i] != ' ') << i;
    return mask;
#endif
}

}  // namespace detail

// `text` must be valid UTF-8; it is only borrowed.
inline NormalizedText normalize(std::string_view text, ScratchArena& arena) {
    const size_t padded = round_up(text.size() + NormalizedText::kTokenPadding, NormalizedText::kBlock);
    char* out = arena.allocate<char>(padded);
    uint64_t* masks = arena.allocate<uint64_t>(padded / NormalizedText::kBlock);
    size_t length = text.size();
    size_t filled = round_up(length, NormalizedText::kBlock);
    if (!detail::normalize_if_ascii(text, out, masks)) {
        length = detail::normalize_unicode(text, out);
        std::memset(out + length, ' ', padded - length);
        for (size_t block = 0; block < padded; block += NormalizedText::kBlock) {
            masks[block / NormalizedText::kBlock] = detail::token_byte_mask(out + block);
        }
        filled = padded;
    }
    // Blocks past the text hold only separators.
    std::memset(out + filled, ' ', padded - filled);
    for (size_t block = filled; block < padded; block += NormalizedText::kBlock) masks[block / NormalizedText::kBlock] = 0;
    return NormalizedText{out, length, padded, masks};
}

// Normalises `text` byte by byte, whatever it holds: ASCII letters folded to
// lower case, ASCII digits kept, every other byte (any byte of 128 and
// above included) a separator. Byte i of the result stands for byte i of
// `text`. For callers whose texts are bytes rather than UTF-8.
inline NormalizedText normalize_bytes(std::string_view text, ScratchArena& arena) {
    const size_t padded = round_up(text.size() + NormalizedText::kTokenPadding, NormalizedText::kBlock);
    char* out = arena.allocate<char>(padded);
    uint64_t* masks = arena.allocate<uint64_t>(padded / NormalizedText::kBlock);
    // The ASCII kernel already treats every byte of 128 and above as a
    // separator; only whether it met one is of no interest here.
    (void)detail::normalize_if_ascii(text, out, masks);
    const size_t filled = round_up(text.size(), NormalizedText::kBlock);
    std::memset(out + filled, ' ', padded - filled);
    for (size_t block = filled; block < padded; block += NormalizedText::kBlock) masks[block / NormalizedText::kBlock] = 0;
    return NormalizedText{out, text.size(), padded, masks};
}

namespace detail {

// One per 0-to-1 step in the token byte mask. The baseline has no popcount
// instruction and calls a library routine per word; the copy below is
// compiled with the instruction.
inline size_t count_token_starts_baseline(const NormalizedText& text) noexcept {
    size_t count = 0;
    uint64_t carry = 0;
    for (size_t block = 0; block < text.padded_length; block += NormalizedText::kBlock) {
        const uint64_t mask = text.token_masks[block / NormalizedText::kBlock];
        count += static_cast<size_t>(std::popcount(mask & ~((mask << 1) | carry)));
        carry = mask >> 63;
    }
    return count;
}

#if defined(TALLYGRAMS_X86_KERNELS)
__attribute__((target("popcnt"))) inline size_t count_token_starts_popcnt(const NormalizedText& text) noexcept {
    size_t count = 0;
    uint64_t carry = 0;
    for (size_t block = 0; block < text.padded_length; block += NormalizedText::kBlock) {
        const uint64_t mask = text.token_masks[block / NormalizedText::kBlock];
        count += static_cast<size_t>(__builtin_popcountll(mask & ~((mask << 1) | carry)));
        carry = mask >> 63;
    }
    return count;
}
#endif

}  // namespace detail

// The number of tokens.
inline size_t count_tokens(const NormalizedText& text) noexcept {
#if defined(TALLYGRAMS_X86_KERNELS)
    if (cpu_has_popcnt()) return detail::count_token_starts_popcnt(text);
#endif
    return detail::count_token_starts_baseline(text);
}

// Calls on_token(token, length) for every token of `text`, in order, with
// `token` pointing into text.bytes, taking the edges of kWalkChunkBlocks
// blocks at a time from `Edges` (token_edges.hpp). `between_chunks()` runs
// after every chunk but the last: a place for a long text's caller to look
// for interruption at a cost of one call per kilobyte. The padding after
// the text guarantees that the last token ends within the text's blocks.
inline constexpr size_t kWalkChunkBlocks = 16;

template <class Edges, class OnToken, class BetweenChunks = NoPoll>
[[gnu::always_inline]] inline void walk_tokens(const NormalizedText& text, OnToken&& on_token,
                                               BetweenChunks&& between_chunks = {}) {
    uint32_t edges[kWalkChunkBlocks * NormalizedText::kBlock + detail::kEdgeSlack];
    const size_t blocks = text.padded_length / NormalizedText::kBlock;
    uint64_t inside = 0;
    const char* pending = nullptr;  // the start of a token running on from an earlier chunk
    for (size_t first = 0; first < blocks; first += kWalkChunkBlocks) {
        if (first > 0) between_chunks();
        const size_t chunk_blocks = blocks - first < kWalkChunkBlocks ? blocks - first : kWalkChunkBlocks;
        const size_t count = Edges::offsets(text.token_masks + first, chunk_blocks, inside, edges);
        const char* const chunk = text.bytes + first * NormalizedText::kBlock;
        const uint32_t* edge = edges;
        const uint32_t* const end = edges + count;
        if (pending != nullptr && count > 0) {
            on_token(pending, static_cast<size_t>(chunk + *edge - pending));
            pending = nullptr;
            ++edge;
        }
        if (edge != end) {
            for (const uint32_t* const last = end - 1; edge < last; edge += 2) {
                on_token(chunk + edge[0], size_t{edge[1] - edge[0]});
            }
            if (edge != end) pending = chunk + *edge;
        }
    }
    if (pending != nullptr) {  // unreachable with intact padding
        on_token(pending, static_cast<size_t>(text.bytes + blocks * NormalizedText::kBlock - pending));
    }
}

// Walks the tokens of a normalised text one at a time, in order, for a
// caller that interleaves its own state with the walk (walk_tokens, above,
// is the faster way through a whole text). A small value type, so that its
// state stays in registers in the caller's loop.
//
// Within a block, `edges` has a bit where a byte differs in kind from the
// byte before it: token starts and ends, alternating. A token is its start
// edge and the next edge after it, found with two bit scans; only a token
// that runs on past its block's end makes the walk load the next block
// before the token is complete. The padding after the text guarantees that
// every token ends within the text's blocks.
class TokenCursor {
public:
    explicit TokenCursor(const NormalizedText& text) noexcept
        : masks_(text.token_masks), blocks_(text.padded_length / NormalizedText::kBlock) {
        if (blocks_ > 0) edges_ = edges_of(masks_[0], 0);
    }

    // The next token's start offset and length; false after the last one.
    bool next(size_t& start, size_t& length) noexcept {
        // Between tokens: the next edge is a start. No token runs past the
        // current block's end here, so the next block starts outside one.
        while (edges_ == 0) {
            if (++block_ >= blocks_) return false;
            edges_ = edges_of(masks_[block_], 0);
        }
        start = block_ * NormalizedText::kBlock + static_cast<size_t>(std::countr_zero(edges_));
        edges_ &= edges_ - 1;
        // The token's end: in this block, or in a later one, each of which
        // starts inside the token.
        while (edges_ == 0) {
            if (++block_ >= blocks_) {  // unreachable with intact padding
                length = blocks_ * NormalizedText::kBlock - start;
                return true;
            }
            edges_ = edges_of(masks_[block_], 1);
        }
        length = block_ * NormalizedText::kBlock + static_cast<size_t>(std::countr_zero(edges_)) - start;
        edges_ &= edges_ - 1;
        return true;
    }

private:
    // `inside`: 1 if the byte before the block belongs to a token.
    static uint64_t edges_of(uint64_t mask, uint64_t inside) noexcept { return detail::edges_of(mask, inside); }

    const uint64_t* masks_;
    size_t blocks_;
    size_t block_ = 0;
    uint64_t edges_ = 0;
};

// Calls on_token(token, length) for every token, `token` pointing into
// text.bytes: walk_tokens with the edge kernel this processor runs best.
// Inlined, so that the caller's loop state stays in registers.
template <class OnToken>
[[gnu::always_inline]] inline void for_each_token_text(const NormalizedText& text, OnToken&& on_token) {
#if defined(TALLYGRAMS_X86_KERNELS)
    if (cpu_has_avx2()) return walk_tokens<detail::Avx2Edges>(text, on_token);
#endif
    walk_tokens<detail::BaselineEdges>(text, on_token);
}

// Calls on_token(start, length) for every token, `start` its offset in
// text.bytes.
template <class OnToken>
void for_each_token(const NormalizedText& text, OnToken&& on_token) {
    for_each_token_text(text, [&](const char* token, size_t length) {
        on_token(static_cast<size_t>(token - text.bytes), length);
    });
}

}  // namespace tallygrams::scorer
