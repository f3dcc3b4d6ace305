// Turning arbitrary fuzzer bytes into the texts the scorer accepts.
//
// The scorer is only ever given valid UTF-8 (the module takes it from str
// objects), so invalid sequences are repaired to U+FFFD rather than passed
// on or thrown away: repairing keeps every mutation useful.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tallygrams::fuzz {

// Length of the valid UTF-8 sequence starting at bytes[0], or 0 if none
// starts there (stray continuation, overlong form, surrogate, beyond U+10FFFF,
// truncated).
inline size_t valid_sequence_length(std::string_view bytes) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

// Valid UTF-8: every byte that does not begin a valid sequence becomes U+FFFD.
inline std::string repair_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = valid_sequence_length(bytes);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.data(), length);
            bytes.remove_prefix(length);
        }
    }
    return out;
}

// Reference and prediction from one input. 0xFF never occurs in UTF-8, so the
// first 0xFF byte separates the two texts; without one, the input is cut in
// half. Each side is then repaired on its own.
inline std::pair<std::string, std::string> split_pair(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\xFF');
    size_t skip = 1;
    if (cut == std::string_view::npos) {
        cut = size / 2;
        skip = 0;
    }
    return {repair_utf8(input.substr(0, cut)), repair_utf8(input.substr(cut + skip))};
}

}  // namespace tallygrams::fuzz
