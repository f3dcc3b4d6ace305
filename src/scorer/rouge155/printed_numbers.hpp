// Numbers as the script prints them, and as it reads them back.
//
// The script rounds every figure with sprintf("%7.5f"), and keeps the
// rounded text: a pair's F is computed from its rounded recall and
// precision, and the averages sum rounded values. printf rounds the exact
// binary value to five decimals, ties to even (1/64 = 0.015625 prints as
// 0.01562). hundred_thousandths() does the same with integer arithmetic,
// and fixed5() gives the double that Perl reads back from the text: the one
// nearest to k / 100000, which is what the division k / 100000.0 yields.
// Counts the script prints unrounded use Perl's default format, %.15g.
// Perl spells infinity and not-a-number Inf and NaN.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tallygrams::scorer::rouge155 {

namespace details {

inline std::string perl_non_finite(double x) { return std::isnan(x) ? "NaN" : (x > 0 ? "Inf" : "-Inf"); }

// Right-aligns `text` in `width` characters, as a printf field width does.
inline std::string pad_left(std::string text, size_t width) {
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
    return text;
}

// Values for which hundred_thousandths() is exact and fast.
inline bool in_fast_range(double x) noexcept { return x >= 0 && x < 1e9; }

}  // namespace details

// round(x * 100000), ties to even, computed on the exact value of x. For
// 0 <= x < 1e9.
inline int64_t hundred_thousandths(double x) noexcept {
    if (x < 1e-7) return 0;  // x * 100000 < 0.01
    int exponent = 0;
    const double mantissa = std::frexp(x, &exponent);  // x = mantissa * 2^exponent, 0.5 <= mantissa < 1
    // x = m * 2^(exponent - 53) with m a 53-bit integer; exponent - 53 < 0 here.
    const auto m = static_cast<int64_t>(std::ldexp(mantissa, 53));
    const int shift = 53 - exponent;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(m) * 100000u;
    const unsigned __int128 whole = scaled >> shift;
    const unsigned __int128 rest = scaled - (whole << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    const bool up = rest > half || (rest == half && (whole & 1) != 0);
    return static_cast<int64_t>(whole) + (up ? 1 : 0);
}

// The value the script holds after printing x with %7.5f and reading it
// back.
inline double fixed5(double x) {
    if (details::in_fast_range(x)) return static_cast<double>(hundred_thousandths(x)) / 100000.0;
    if (!std::isfinite(x)) return x;
    char text[400];
    std::snprintf(text, sizeof text, "%.5f", x);
    return std::strtod(text, nullptr);
}

// x as sprintf("%7.5f", x) prints it in Perl.
inline std::string format_fixed5(double x) {
    if (!std::isfinite(x)) return details::pad_left(details::perl_non_finite(x), 7);
    if (details::in_fast_range(x)) {
        const int64_t k = hundred_thousandths(x);
        char text[32];
        std::snprintf(text, sizeof text, "%lld.%05lld", static_cast<long long>(k / 100000),
                      static_cast<long long>(k % 100000));
        return details::pad_left(text, 7);
    }
    char text[400];
    std::snprintf(text, sizeof text, "%7.5f", x);
    return text;
}

// x as Perl prints a number it holds (%.15g).
inline std::string format_perl_number(double x) {
    if (!std::isfinite(x)) return details::perl_non_finite(x);
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", x);
    return text;
}

// int(x) as Perl prints it: the value truncated toward zero.
inline std::string format_perl_int(double x) {
    if (!std::isfinite(x)) return details::perl_non_finite(x);
    const double whole = std::trunc(x);
    if (std::fabs(whole) < 9.2e18) return std::to_string(static_cast<long long>(whole));
    return format_perl_number(whole);
}

}  // namespace tallygrams::scorer::rouge155
