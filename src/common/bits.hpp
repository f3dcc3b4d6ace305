// Bit helpers shared by every layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallygrams {

// A word with its `count` lowest bits set: all 64 from 64 on, where a shift
// by the full width would be undefined.
constexpr uint64_t low_bits(size_t count) noexcept { return count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1; }

// SplitMix64's finaliser (G. Steele, D. Lea and C. Flood, "Fast splittable
// pseudorandom number generators", OOPSLA 2014; Stafford's variant 13): a
// bijection of 64-bit words in which every output bit depends on every
// input bit. The token hash's seed and the bootstrap's random streams are
// made with it.
constexpr uint64_t mix64(uint64_t z) noexcept {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

}  // namespace tallygrams
