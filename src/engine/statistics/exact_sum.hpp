// The sum of many doubles, exact until one final rounding.
//
// A double is an integer multiple of 2^-1074 below 2^1024, so every finite
// double, and every sum of up to 2^31 of them, is an integer of at most 2130
// bits in units of 2^-1074. ExactSum keeps that integer in two's complement
// over 64-bit limbs; adding touches two limbs plus a carry, so the result does
// not depend on the order of the additions. `rounded` returns the exact sum
// rounded to the nearest double, ties to even: the value a correctly rounded
// summation such as Python's math.fsum gives.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tallygrams::engine {

class ExactSum {
public:
    // Sums of more values may carry past the top limb.
    static constexpr uint64_t kMaxTerms = uint64_t{1} << 31;

    // `value` must be finite.
    void add(double value) noexcept {
        const uint64_t bits = std::bit_cast<uint64_t>(value);
        const auto biased_exponent = static_cast<unsigned>((bits >> 52) & 0x7ff);
        uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
        // A normal value is (2^52 + fraction) * 2^(e - 1075), which is that
        // mantissa shifted left by e - 1 units; a subnormal is its fraction.
        unsigned position = 0;
        if (biased_exponent != 0) {
            mantissa |= uint64_t{1} << 52;
            position = biased_exponent - 1;
        }
        const unsigned limb = position / 64;
        const unsigned shift = position % 64;
        const uint64_t low = mantissa << shift;
        const uint64_t high = shift == 0 ? 0 : mantissa >> (64 - shift);
        if (bits >> 63) {
            subtract_at(limb, low, high);
        } else {
            add_at(limb, low, high);
        }
    }

    // Adds every term of `other`.
    void merge(const ExactSum& other) noexcept {
        uint64_t carry = 0;
        for (size_t i = 0; i < kLimbs; ++i) {
            const uint64_t partial = limbs_[i] + other.limbs_[i];
            const uint64_t total = partial + carry;
            carry = static_cast<uint64_t>(partial < limbs_[i]) + static_cast<uint64_t>(total < partial);
            limbs_[i] = total;
        }
    }

    // The exact sum rounded to the nearest double, ties to even; +0.0 for a
    // zero sum and infinity beyond the largest double.
    double rounded() const noexcept {
        Limbs magnitude = limbs_;
        const bool negative = (magnitude[kLimbs - 1] >> 63) != 0;
        if (negative) negate(magnitude);
        size_t top_limb = kLimbs;
        while (top_limb > 0 && magnitude[top_limb - 1] == 0) --top_limb;
        if (top_limb == 0) return 0.0;
        const size_t top_bit = 64 * (top_limb - 1) + 63 - static_cast<size_t>(std::countl_zero(magnitude[top_limb - 1]));
        double result;
        if (top_bit < 53) {
            // Below 2^-1021: exactly representable (subnormal or the lowest binade).
            result = std::ldexp(static_cast<double>(magnitude[0]), -1074);
        } else {
            size_t dropped = top_bit - 52;
            uint64_t kept = bits_at(magnitude, dropped);
            const bool half = bit_at(magnitude, dropped - 1);
            const bool sticky = any_bit_below(magnitude, dropped - 1);
            if (half && (sticky || (kept & 1) != 0)) {
                ++kept;
                if (kept == uint64_t{1} << 53) {
                    kept >>= 1;
                    ++dropped;
                }
            }
            // Exact: `kept` has 53 bits and the scale stays in the normal range;
            // beyond the largest double ldexp gives infinity, as rounding must.
            result = std::ldexp(static_cast<double>(kept), static_cast<int>(dropped) - 1074);
        }
        return negative ? -result : result;
    }

private:
    // 2130 bits and a sign bit.
    static constexpr size_t kLimbs = 34;
    using Limbs = std::array<uint64_t, kLimbs>;

    void add_at(unsigned limb, uint64_t low, uint64_t high) noexcept {
        limbs_[limb] += low;
        uint64_t carry = limbs_[limb] < low;
        const uint64_t partial = limbs_[limb + 1] + high;
        const uint64_t total = partial + carry;
        carry = static_cast<uint64_t>(partial < high) + static_cast<uint64_t>(total < partial);
        limbs_[limb + 1] = total;
        for (size_t i = limb + 2; carry != 0 && i < kLimbs; ++i) carry = ++limbs_[i] == 0;
    }

    void subtract_at(unsigned limb, uint64_t low, uint64_t high) noexcept {
        uint64_t borrow = limbs_[limb] < low;
        limbs_[limb] -= low;
        const uint64_t partial = limbs_[limb + 1] - high;
        const uint64_t next_borrow =
            static_cast<uint64_t>(limbs_[limb + 1] < high) + static_cast<uint64_t>(partial < borrow);
        limbs_[limb + 1] = partial - borrow;
        borrow = next_borrow;
        for (size_t i = limb + 2; borrow != 0 && i < kLimbs; ++i) borrow = limbs_[i]-- == 0;
    }

    static void negate(Limbs& limbs) noexcept {
        uint64_t carry = 1;
        for (uint64_t& limb : limbs) {
            limb = ~limb + carry;
            carry = carry != 0 && limb == 0;
        }
    }

    static bool bit_at(const Limbs& limbs, size_t position) noexcept {
        return ((limbs[position / 64] >> (position % 64)) & 1) != 0;
    }

    // The 53 bits from `position` up.
    static uint64_t bits_at(const Limbs& limbs, size_t position) noexcept {
        const size_t limb = position / 64;
        const size_t shift = position % 64;
        uint64_t bits = limbs[limb] >> shift;
        if (shift != 0 && limb + 1 < kLimbs) bits |= limbs[limb + 1] << (64 - shift);
        return bits & ((uint64_t{1} << 53) - 1);
    }

    static bool any_bit_below(const Limbs& limbs, size_t position) noexcept {
        const size_t limb = position / 64;
        if ((limbs[limb] & ((uint64_t{1} << (position % 64)) - 1)) != 0) return true;
        for (size_t i = 0; i < limb; ++i) {
            if (limbs[i] != 0) return true;
        }
        return false;
    }

    Limbs limbs_{};
};

// The mean of finite `values` (at least one, at most ExactSum::kMaxTerms): the
// correctly rounded sum divided by the count.
inline double exact_mean(std::span<const double> values) noexcept {
    ExactSum sum;
    for (double value : values) sum.add(value);
    return sum.rounded() / static_cast<double>(values.size());
}

}  // namespace tallygrams::engine
