// The shape of one entry of the generated Unicode tables: what the tokenizer
// for every script needs to know about a code point. The tables themselves
// (scorer/tokenizing/details/unicode_tables.hpp) are written at build time by
// scripts/generate_unicode_tables.py, which uses the names below.
#pragma once

#include <cstdint>

namespace tallygrams::scorer::unicode {

// How a code point of lower-cased text takes part in tokens: it separates
// them, it extends the current run, or it is a token by itself (the scripts
// written without spaces).
enum TokenClass : uint8_t { kSeparator = 0, kTokenPart = 1, kOwnToken = 2 };

// Bits of CodePointRecord::flags. The low two bits hold the TokenClass of
// the code point's lower case (unless kMultiLowering is set, when each code
// point of the lowering carries its own class).
inline constexpr uint8_t kClassMask = 0x3;
// Properties of the code point itself, as the final-sigma rule of
// `str.lower()` reads them. kCased is only recorded for code points that are
// not case-ignorable: the rule never asks about the others.
inline constexpr uint8_t kCaseIgnorable = 0x4;
inline constexpr uint8_t kCased = 0x8;
// `lowering` indexes kMultiLowerings instead of being a delta.
inline constexpr uint8_t kMultiLowering = 0x10;

struct CodePointRecord {
    // The lower case is the code point plus this, unless kMultiLowering.
    int32_t lowering;
    uint8_t flags;
};

// A lower case of more than one code point (U+0130 lower-cases to "i" and
// U+0307 COMBINING DOT ABOVE). Unicode's full case mappings have at most
// three code points.
struct MultiLowering {
    uint8_t length;
    char32_t code_points[3];
    TokenClass classes[3];
};

// The generator reports the tables' sizes from these.
static_assert(sizeof(CodePointRecord) == 8 && sizeof(MultiLowering) == 20);

}  // namespace tallygrams::scorer::unicode
