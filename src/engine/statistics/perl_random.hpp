// Perl's rand(), as perl 5.20 and later compute it on every platform: the
// 48-bit linear congruential generator of drand48, x' = (0x5DEECE66D x + 0xB)
// mod 2^48, returning x' / 2^48; srand(seed) sets x = seed * 2^16 + 0x330E,
// the seed taken as 32 bits. rand(n) is n times the next value, and the
// ROUGE-1.5.5 script's int(rand(n)) truncates that.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallygrams::engine {

class PerlRandom {
public:
    explicit PerlRandom(uint32_t seed) noexcept : state_((uint64_t{seed} << 16) + 0x330E) {}

    // rand(): a multiple of 2^-48 in [0, 1).
    double next() noexcept {
        state_ = (state_ * 0x5DEECE66DULL + 0xB) & ((uint64_t{1} << 48) - 1);
        return static_cast<double>(state_) * 0x1p-48;
    }

    // int(rand(n)), for n >= 1: below n.
    size_t below(size_t n) noexcept { return static_cast<size_t>(static_cast<double>(n) * next()); }

private:
    uint64_t state_;
};

}  // namespace tallygrams::engine
