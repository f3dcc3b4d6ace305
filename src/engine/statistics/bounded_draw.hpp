// Uniform integers below a bound, without bias, from 32-bit random draws.
//
// D. Lemire, "Fast random integer generation in an interval", ACM TOMACS 29(1),
// 2019: the high half of draw * bound is the result, and the few draws whose
// low half falls below 2^32 mod bound are rejected, which leaves every result
// exactly 2^32 div bound preimages. For a power-of-two bound nothing is ever
// rejected and the result is the draw's top bits.
#pragma once

#include <cstdint>

namespace tallygrams::engine {

class BoundedDraw {
public:
    // `bound` at least 1.
    explicit constexpr BoundedDraw(uint32_t bound) noexcept
        : bound_(bound), threshold_(static_cast<uint32_t>(0u - bound) % bound) {}

    constexpr uint32_t bound() const noexcept { return bound_; }

    // One integer in [0, bound), taking as many draws from `stream` as it needs.
    template <class Stream>
    constexpr uint32_t operator()(Stream& stream) const noexcept {
        uint64_t product = uint64_t{stream.next()} * bound_;
        if (static_cast<uint32_t>(product) < threshold_) [[unlikely]] {
            do {
                product = uint64_t{stream.next()} * bound_;
            } while (static_cast<uint32_t>(product) < threshold_);
        }
        return static_cast<uint32_t>(product >> 32);
    }

private:
    uint32_t bound_;
    uint32_t threshold_;  // 2^32 mod bound
};

}  // namespace tallygrams::engine
