// The hash of a token's bytes for the numbering table: it reads every byte,
// and it is keyed with a secret drawn once per process, so that no input
// fixed in advance makes tokens collide any more often than chance does.
//
// Most tokens are at most 16 bytes long, and those take one of two forms,
// chosen once per process by what the processor offers:
// - Three rounds of AES (one aesenc instruction each) over the token's 16
//   zero-padded bytes xored with a key, with the length folded into the
//   first round key. The round keys are secret, so a chosen difference
//   between tokens reaches the table's index bits as a key-dependent,
//   unpredictable one; keying costs nothing, since the keys are the round
//   keys the instruction takes anyway. Two rounds are not enough, although
//   they too make every output byte depend on every input byte (J. Daemen
//   and V. Rijmen, "The Design of Rijndael", 2002, section 9.1.1): after
//   two, each output column is a function of only four bytes of the first
//   round's state, so tokens that differ in a few adjacent bytes (counters)
//   reach the index's few bytes through one byte per column and share a few
//   thousand values between them. A third round gives each output column all
//   sixteen bytes of the first round's state.
// - Without AES instructions, the folded multiply: the full 128-bit product
//   of two 64-bit words, its halves combined by xor, each word xored with a
//   key word first, as in wyhash (Wang Yi, 2019) and foldhash (O. Peters,
//   2024). Every input bit reaches the middle of the product, and without
//   the keys an input cannot aim at a particular product.
//
// Longer tokens are taken 16 bytes at a time by folded multiplies, each
// step chained through the last, and end with their last 16 bytes, so that
// every byte counts. The multiply forms end with a plain multiply by an odd
// constant: the table takes its slot from the top bits, and for tokens that
// differ only in a few bytes (counters, timestamps) the high half of the
// folded product stays nearly constant, leaving the top bits to a single
// multiplicative hash, whose clustering shows in linear probing as runs
// several times longer than chance gives.
//
// A keyed hash only makes collisions improbable. The table that uses it
// also bounds its probe runs and falls back to an ordered structure, so
// even someone who learnt the keys cannot make numbering quadratic.
#pragma once

#include <atomic>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/random.h>
#endif
#include <unistd.h>

#include "common/bits.hpp"
#include "scorer/details/cpu_features.hpp"

#if defined(TALLYGRAMS_X86_KERNELS)
#include <immintrin.h>
#endif

namespace tallygrams::scorer {

// The first 16 bytes of a token as two little-endian words, zero-padded.
// Tokens never contain a zero byte, so for tokens of up to 16 bytes the two
// words alone tell them apart; together with the length they settle any
// token's first 16 bytes.
struct ShortKey {
    uint64_t low;
    uint64_t high;
    friend bool operator==(const ShortKey&, const ShortKey&) = default;
};

// The keys of the hash, one set per process.
struct HashSeed {
    uint64_t first;
    uint64_t second;
    uint64_t third = 0x243F6A8885A308D3ULL;
};

namespace detail {

inline uint64_t load_little_endian(const char* bytes) noexcept {
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
}

// 16 bytes of ones, then 16 of zeros: the 16 bytes starting at offset
// 16 - n keep the first n bytes of a 16-byte load and clear the rest, so a
// short key is masked by two loads rather than by shifts and selects.
inline constexpr unsigned char kKeepWindow[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};

inline uint64_t folded_multiply(uint64_t x, uint64_t y) noexcept {
#if defined(__SIZEOF_INT128__)
    const unsigned __int128 product = static_cast<unsigned __int128>(x) * y;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
#else
    // The same 128-bit product from four 32-bit partial products.
    const uint64_t x_low = static_cast<uint32_t>(x), x_high = x >> 32;
    const uint64_t y_low = static_cast<uint32_t>(y), y_high = y >> 32;
    const uint64_t low_low = x_low * y_low, low_high = x_low * y_high;
    const uint64_t high_low = x_high * y_low, high_high = x_high * y_high;
    const uint64_t middle = (low_low >> 32) + static_cast<uint32_t>(low_high) + static_cast<uint32_t>(high_low);
    const uint64_t low = (middle << 32) | static_cast<uint32_t>(low_low);
    const uint64_t high = high_high + (low_high >> 32) + (high_low >> 32) + (middle >> 32);
    return low ^ high;
#endif
}

// 128 bits from the kernel's random source; where that is unavailable, a
// mixture of what differs between processes (the clock, the process id and
// the address-space layout), which still keeps the keys out of an input's
// reach.
inline HashSeed draw_seed() noexcept {
    uint64_t words[2] = {0, 0};
    bool drawn = false;
#if defined(__linux__)
    drawn = ::getrandom(words, sizeof words, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof words);
#endif
    if (!drawn) {
        const auto ticks = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        const int on_stack = 0;
        words[0] ^= mix64(ticks ^ (static_cast<uint64_t>(::getpid()) << 32));
        words[1] ^= mix64(reinterpret_cast<uintptr_t>(&on_stack) ^ reinterpret_cast<uintptr_t>(&draw_seed));
    }
    return HashSeed{mix64(words[0] ^ 0x243F6A8885A308D3ULL), mix64(words[1] ^ 0x13198A2E03707344ULL),
                    mix64(words[0] ^ words[1] ^ 0xA4093822299F31D0ULL)};
}

}  // namespace detail

// Drawn on first use and fixed for the life of the process; read-only from
// then on. No result depends on it: tables keyed by this hash are only ever
// probed, never iterated.
//
// No lock and no guarded static: a thread that finds no seed draws one and
// offers it, and the first offer wins. A process forked while another
// thread was drawing can therefore never wait for that thread, which does
// not exist in the child. (The losers' draws are dropped; the winner's
// lives as long as the process.)
inline HashSeed process_hash_seed() noexcept {
    constinit static std::atomic<const HashSeed*> published{nullptr};
    if (const HashSeed* seed = published.load(std::memory_order_acquire)) return *seed;
    auto* drawn = new (std::nothrow) HashSeed(detail::draw_seed());
    if (drawn == nullptr) return detail::draw_seed();  // this call alone keys with it
    const HashSeed* expected = nullptr;
    if (published.compare_exchange_strong(expected, drawn, std::memory_order_acq_rel, std::memory_order_acquire)) {
        return *drawn;
    }
    delete drawn;
    return *expected;
}

// `text` must have at least 16 readable bytes from its start even when the
// token is shorter (normalised text is padded for this).
inline ShortKey short_key(const char* text, size_t length) noexcept {
    const size_t kept = length < 16 ? length : 16;
    const char* keep = reinterpret_cast<const char*>(detail::kKeepWindow) + (16 - kept);
    return ShortKey{detail::load_little_endian(text) & detail::load_little_endian(keep),
                    detail::load_little_endian(text + 8) & detail::load_little_endian(keep + 8)};
}

namespace detail {

#if defined(TALLYGRAMS_X86_KERNELS)
// The AES round keys of the short-token hash, derived from the seed.
struct AesKeys {
    __m128i whitening;
    __m128i first;
    __m128i second;
    __m128i third;
};

inline AesKeys aes_keys_of(const HashSeed& seed) noexcept {
    const auto words = [](uint64_t low, uint64_t high) {
        return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    };
    return AesKeys{words(seed.first, seed.second), words(seed.third, seed.first ^ 0x452821E638D01377ULL),
                   words(seed.second ^ 0xBE5466CF34E90C6CULL, seed.third ^ seed.first),
                   words(seed.first ^ 0xC0AC29B7C97C50DDULL, seed.second ^ seed.third)};
}

// `key`: the token's first 16 bytes, zero-padded (at most 16 of them).
__attribute__((target("aes"))) inline uint64_t aes_short_hash(const AesKeys& keys, __m128i key,
                                                               size_t length) noexcept {
    const __m128i state = _mm_xor_si128(key, keys.whitening);
    const __m128i round_key = _mm_xor_si128(keys.first, _mm_cvtsi64_si128(static_cast<long long>(length)));
    const __m128i mixed = _mm_aesenc_si128(_mm_aesenc_si128(_mm_aesenc_si128(state, round_key), keys.second), keys.third);
    return static_cast<uint64_t>(_mm_cvtsi128_si64(mixed));
}

// The same, out of line, for callers not compiled with AES.
__attribute__((target("aes"), noinline)) inline uint64_t aes_short_hash_of(const AesKeys& keys, const ShortKey& key,
                                                                          size_t length) noexcept {
    return aes_short_hash(keys, _mm_set_epi64x(static_cast<long long>(key.high), static_cast<long long>(key.low)),
                          length);
}
#endif

}  // namespace detail

// Whether the short-token hash is the AES form: on processors with AES
// instructions, AVX2 and BMI2, whose numbering kernel it belongs to.
inline bool aes_hashing_available() noexcept { return cpu_has_aes() && cpu_has_avx2() && cpu_has_bmi2(); }

class TokenHash {
public:
    TokenHash() noexcept : TokenHash(process_hash_seed()) {}
    // `aes`: the AES form for short tokens; tests turn it off to check the
    // multiply form on any processor.
    explicit TokenHash(HashSeed seed, bool aes = aes_hashing_available()) noexcept
        : seed_(seed), aes_(aes && aes_hashing_available()) {
#if defined(TALLYGRAMS_X86_KERNELS)
        if (aes_) aes_keys_ = detail::aes_keys_of(seed);
#endif
    }

    // The hash of the token whose first 16 bytes are `key`.
    uint64_t operator()(const char* text, size_t length, const ShortKey& key) const noexcept {
        if (length > 16) return finish(hash_long(text, length));
#if defined(TALLYGRAMS_X86_KERNELS)
        if (aes_) return detail::aes_short_hash_of(aes_keys_, key, length);
#endif
        return hash_short(key);
    }

    bool uses_aes() const noexcept { return aes_; }

#if defined(TALLYGRAMS_X86_KERNELS)
    // For kernels compiled with AES (only when uses_aes()): the hash of a
    // token of at most 16 bytes from its zero-padded bytes.
    __attribute__((target("aes"))) uint64_t short_aes(__m128i key, size_t length) const noexcept {
        return detail::aes_short_hash(aes_keys_, key, length);
    }
#endif

    // The hash of a token of at most 16 bytes, multiply form.
    uint64_t hash_short(const ShortKey& key) const noexcept {
        return finish(detail::folded_multiply(key.low ^ seed_.first, key.high ^ seed_.second));
    }

    // The hash of a token of more than 16 bytes, in either form.
    uint64_t hash_long_token(const char* text, size_t length) const noexcept { return finish(hash_long(text, length)); }

private:
    uint64_t finish(uint64_t mixed) const noexcept {
        return (mixed ^ seed_.third) * 0x9E3779B97F4A7C15ULL;  // 2^64 divided by the golden ratio, made odd
    }

    uint64_t hash_long(const char* text, size_t length) const noexcept {
        using detail::folded_multiply;
        using detail::load_little_endian;
        // The length enters first, so that tokens that end alike but differ
        // in length start from different states.
        uint64_t state = folded_multiply(seed_.first ^ length, seed_.second ^ 0x452821E638D01377ULL);
        const char* at = text;
        for (size_t left = length; left > 16; left -= 16, at += 16) {
            state = folded_multiply(load_little_endian(at) ^ seed_.first, load_little_endian(at + 8) ^ state);
        }
        // The last 16 bytes, overlapping the previous step when the length
        // is not a multiple of 16.
        const char* tail = text + length - 16;
        return folded_multiply(load_little_endian(tail) ^ seed_.second, load_little_endian(tail + 8) ^ state);
    }

    HashSeed seed_;
    bool aes_;
#if defined(TALLYGRAMS_X86_KERNELS)
    detail::AesKeys aes_keys_{};
#endif
};

}  // namespace tallygrams::scorer
