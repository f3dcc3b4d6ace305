// Counting set bits in a word. std::popcount becomes a library call when the
// target lacks a popcount instruction (baseline x86-64 has none), which costs
// more than the count itself on paths that count once per step; the inline
// form below is the classic one (H. S. Warren, "Hacker's Delight", 5-1).
#pragma once

#include <bit>
#include <cstdint>

namespace tallygrams::scorer {

inline unsigned bit_count(uint64_t x) noexcept {
#if defined(__POPCNT__) || !(defined(__x86_64__) || defined(__i386__))
    return static_cast<unsigned>(std::popcount(x));
#else
    x = x - ((x >> 1) & 0x5555555555555555ULL);
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<unsigned>((x * 0x0101010101010101ULL) >> 56);
#endif
}

}  // namespace tallygrams::scorer
