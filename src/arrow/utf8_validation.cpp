#include "arrow/utf8_validation.hpp"

#if defined(TALLYGRAMS_UTF8_BLOCK_CHECK)
#include <immintrin.h>
#endif

namespace tallygrams::arrow::detail {

#if defined(TALLYGRAMS_UTF8_BLOCK_CHECK)

namespace {

// What can be wrong with a pair of consecutive bytes, one bit per fault.
// Each of three tables, indexed by a nibble of the pair, gives the faults
// that nibble allows; a fault is present when all three allow it.
constexpr uint8_t kTooShort = 1 << 0;    // a lead byte, then no continuation
constexpr uint8_t kTooLong = 1 << 1;     // ASCII, then a continuation
constexpr uint8_t kOverlong3 = 1 << 2;   // E0 80..9F
constexpr uint8_t kTooLarge = 1 << 3;    // F4 90..BF, F5..FF
constexpr uint8_t kSurrogate = 1 << 4;   // ED A0..BF
constexpr uint8_t kOverlong2 = 1 << 5;   // C0, C1
constexpr uint8_t kTooLarge1000 = 1 << 6;  // F5..FF 80..8F
constexpr uint8_t kOverlong4 = 1 << 6;   // F0 80..8F
constexpr uint8_t kTwoContinuations = 1 << 7;  // fine only as the 2nd and 3rd, or 3rd and 4th, bytes
constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoContinuations;

__attribute__((target("ssse3"))) inline __m128i table(const uint8_t (&values)[16]) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(values));
}

constexpr uint8_t kFirstHigh[16] = {
    // 0xxx: ASCII first
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
    // 10xx: a continuation first
    kTwoContinuations, kTwoContinuations, kTwoContinuations, kTwoContinuations,
    kTooShort | kOverlong2,                                 // 1100
    kTooShort,                                              // 1101
    kTooShort | kOverlong3 | kSurrogate,                    // 1110
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,     // 1111
};

constexpr uint8_t kFirstLow[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4,          // xxxx0000
    kCarry | kOverlong2,                                    // xxxx0001
    kCarry,
    kCarry,
    kCarry | kTooLarge,                                     // xxxx0100
    kCarry | kTooLarge | kTooLarge1000,                     // xxxx0101 and above
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000 | kSurrogate,        // xxxx1101
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
};

constexpr uint8_t kSecondHigh[16] = {
    // 0xxx: ASCII second
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge1000 | kOverlong4,  // 1000
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge,                   // 1001
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,                   // 1010
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,                   // 1011
    // 11xx: a lead byte second
    kTooShort, kTooShort, kTooShort, kTooShort,
};

__attribute__((target("ssse3"))) inline __m128i high_nibbles(__m128i bytes) {
    return _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
}

// Non-zero bytes where `input`, preceded by `previous`, goes wrong.
__attribute__((target("ssse3"))) inline __m128i block_errors(__m128i input, __m128i previous) {
    const __m128i previous1 = _mm_alignr_epi8(input, previous, 15);
    const __m128i pair_faults =
        _mm_and_si128(_mm_and_si128(_mm_shuffle_epi8(table(kFirstHigh), high_nibbles(previous1)),
                                    _mm_shuffle_epi8(table(kFirstLow), _mm_and_si128(previous1, _mm_set1_epi8(0x0F)))),
                      _mm_shuffle_epi8(table(kSecondHigh), high_nibbles(input)));
    // Third and fourth bytes of three- and four-byte sequences must be
    // continuations: there, and only there, two continuations are right.
    const __m128i third = _mm_subs_epu8(_mm_alignr_epi8(input, previous, 14), _mm_set1_epi8(char(0xE0 - 0x80)));
    const __m128i fourth = _mm_subs_epu8(_mm_alignr_epi8(input, previous, 13), _mm_set1_epi8(char(0xF0 - 0x80)));
    const __m128i must_continue = _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(char(0x80)));
    return _mm_xor_si128(must_continue, pair_faults);
}

// Non-zero where a sequence started in `input` is still open at its end.
__attribute__((target("ssse3"))) inline __m128i open_at_end(__m128i input) {
    const __m128i limits = _mm_setr_epi8(char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF),
                                         char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF),
                                         char(0xFF), char(0xF0 - 1), char(0xE0 - 1), char(0xC0 - 1));
    return _mm_subs_epu8(input, limits);
}

}  // namespace

// A read of a word the runtime filled in at start-up: no guarded static,
// which a fork could catch half-initialised.
bool have_block_check() noexcept { return __builtin_cpu_supports("ssse3"); }

__attribute__((target("ssse3"))) bool valid_utf8_blocks(const unsigned char* p, size_t size) noexcept {
    __m128i errors = _mm_setzero_si128();
    __m128i previous = _mm_setzero_si128();  // as if ASCII came before
    __m128i open = _mm_setzero_si128();
    size_t i = 0;
    for (; size - i >= 16; i += 16) {
        const __m128i input = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if (_mm_movemask_epi8(input) == 0) {
            // All ASCII: fine, unless the block before left a sequence open.
            errors = _mm_or_si128(errors, open);
            open = _mm_setzero_si128();
        } else {
            errors = _mm_or_si128(errors, block_errors(input, previous));
            open = open_at_end(input);
        }
        previous = input;
    }
    // The rest, padded with ASCII zeros, which also close (as errors) any
    // sequence left open; a text ending at a block boundary is followed by
    // one block of them.
    alignas(16) unsigned char tail[16] = {};
    for (size_t k = 0; i + k < size; ++k) tail[k] = p[i + k];
    errors = _mm_or_si128(errors, block_errors(_mm_load_si128(reinterpret_cast<const __m128i*>(tail)), previous));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(errors, _mm_setzero_si128())) == 0xFFFF;
}

#endif

bool valid_utf8_after_ascii(const unsigned char* p, size_t size) noexcept {
#if defined(TALLYGRAMS_UTF8_BLOCK_CHECK)
    if (have_block_check()) return valid_utf8_blocks(p, size);
#endif
    return scalar_valid_prefix(p, 0, size) == size;
}

}  // namespace tallygrams::arrow::detail
