// The UTF-8 validator against a decoder written from the definition of
// UTF-8 (code points, their shortest forms, the surrogate and upper limits),
// over every short sequence and at every position around the block scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "arrow/lowest_row.hpp"
#include "arrow/utf8_validation.hpp"

namespace {

using tallygrams::arrow::is_valid_utf8;
using tallygrams::arrow::valid_utf8_prefix;

// The index where the first ill-formed sequence starts, or the size.
size_t oracle_prefix(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length;
        uint32_t code_point;
        uint32_t shortest;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, code_point = lead & 0x1Fu, shortest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code_point = lead & 0x0Fu, shortest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code_point = lead & 0x07u, shortest = 0x10000;
        } else {
            return i;
        }
        if (text.size() - i < length) return i;
        for (size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            if ((byte & 0xC0) != 0x80) return i;
            code_point = code_point << 6 | (byte & 0x3Fu);
        }
        if (code_point < shortest || (code_point >= 0xD800 && code_point <= 0xDFFF) || code_point > 0x10FFFF) return i;
        i += length;
    }
    return text.size();
}

// The decoder, the block check (where the processor has it) and the
// combination is_valid_utf8 chooses all agree with the definition.
void expect_agrees(const std::string& text) {
    const size_t expected = oracle_prefix(text);
    ASSERT_EQ(valid_utf8_prefix(text), expected) << "on bytes of length " << text.size();
    ASSERT_EQ(is_valid_utf8(text), expected == text.size()) << "on bytes of length " << text.size();
#if defined(TALLYGRAMS_UTF8_BLOCK_CHECK)
    if (tallygrams::arrow::detail::have_block_check()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        ASSERT_EQ(tallygrams::arrow::detail::valid_utf8_blocks(bytes, text.size()), expected == text.size())
            << "on bytes of length " << text.size();
    }
#endif
}

// The sequence alone, and in ASCII text across the boundary of two blocks.
void expect_agrees_anywhere(const std::string& sequence) {
    expect_agrees(sequence);
    std::string text(32, 'a');
    text.replace(14, sequence.size(), sequence);
    expect_agrees(text);
}

std::string bytes(std::initializer_list<unsigned> values) {
    std::string text;
    for (unsigned value : values) text += static_cast<char>(value);
    return text;
}

TEST(Utf8Validation, EverySequenceOfUpToThreeBytes) {
    for (unsigned a = 0; a < 256; ++a) {
        expect_agrees_anywhere(bytes({a}));
        for (unsigned b = 0; b < 256; ++b) {
            expect_agrees_anywhere(bytes({a, b}));
            // Otherwise the text is invalid before its third byte, or the
            // third byte stands alone as in the one-byte case.
            const bool third_matters = a >= 0xC0 || (a < 0x80 && b >= 0xC0);
            if (!third_matters) continue;
            for (unsigned c = 0; c < 256; ++c) expect_agrees_anywhere(bytes({a, b, c}));
        }
    }
}

TEST(Utf8Validation, FourByteSequencesAtTheirLimits) {
    const unsigned tails[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    for (unsigned a = 0xE0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
            for (unsigned c : tails) {
                for (unsigned d : tails) expect_agrees_anywhere(bytes({a, b, c, d}));
            }
        }
    }
    EXPECT_TRUE(is_valid_utf8(bytes({0xF4, 0x8F, 0xBF, 0xBF})));   // U+10FFFF
    EXPECT_FALSE(is_valid_utf8(bytes({0xF4, 0x90, 0x80, 0x80})));  // one above
    EXPECT_TRUE(is_valid_utf8(bytes({0xF0, 0x90, 0x80, 0x80})));   // U+10000
    EXPECT_FALSE(is_valid_utf8(bytes({0xF0, 0x8F, 0xBF, 0xBF})));  // its overlong form
}

// A character, or a broken one, at every position of an ASCII text, so that
// it falls at every place of the 32- and 8-byte blocks and of the tail.
TEST(Utf8Validation, EveryPositionAroundTheBlockScan) {
    const std::string samples[] = {
        bytes({0xC3, 0xA9}), bytes({0xE4, 0xB8, 0xAD}), bytes({0xF0, 0x9F, 0x98, 0x80}), bytes({0x80}),
        bytes({0xC3}),       bytes({0xE4, 0xB8}),       bytes({0xED, 0xA0, 0x80}),       bytes({0xFF}),
        bytes({0xE4}),       bytes({0xF0, 0x9F, 0x98}), bytes({0xF0, 0x9F}),             bytes({0xF0}),
    };
    for (const std::string& sample : samples) {
        for (size_t length = 0; length < 100; ++length) {
            for (size_t at = 0; at <= length; ++at) {
                std::string text(length, 'a');
                text.insert(at, sample);
                expect_agrees(text);
            }
        }
    }
}

TEST(Utf8Validation, RandomMixturesAgreeWithTheDefinition) {
    std::mt19937_64 random(20240611);
    const std::string pieces[] = {"a", " ", "word ", bytes({0xC3, 0xA9}), bytes({0xE4, 0xB8, 0xAD}),
                                  bytes({0xF0, 0x9F, 0x98, 0x80}), std::string(40, 'x')};
    for (int round = 0; round < 50000; ++round) {
        std::string text;
        const size_t count = random() % 24;
        for (size_t i = 0; i < count; ++i) {
            if (random() % 16 == 0) {
                text += static_cast<char>(random() % 256);  // anything, often breaking a sequence
            } else {
                text += pieces[random() % std::size(pieces)];
            }
        }
        expect_agrees(text);
    }
}

// Tasks that each scan their own range and stop at their first failure find,
// together, the lowest failing row, however the rows are split.
TEST(LowestRow, IsTheLowestFailureWhateverTheSplit) {
    std::mt19937_64 random(7);
    for (int round = 0; round < 200; ++round) {
        const size_t rows = 1 + random() % 5000;
        std::vector<bool> fails(rows);
        size_t expected = rows;
        for (int k = 0; k < 3; ++k) {
            const size_t row = random() % rows;
            if (random() % 4 != 0) fails[row] = true;
        }
        for (size_t i = 0; i < rows; ++i) {
            if (fails[i]) {
                expected = i;
                break;
            }
        }
        std::vector<size_t> cuts = {0, rows};
        for (size_t k = random() % 8; k > 0; --k) cuts.push_back(random() % rows);
        std::sort(cuts.begin(), cuts.end());
        tallygrams::arrow::LowestRow lowest;
        std::vector<std::thread> tasks;
        for (size_t k = 0; k + 1 < cuts.size(); ++k) {
            tasks.emplace_back([&, begin = cuts[k], end = cuts[k + 1]] {
                for (size_t i = begin; i < end && !lowest.failed_below(i); ++i) {
                    if (fails[i]) {
                        lowest.offer(i);
                        return;
                    }
                }
            });
        }
        for (auto& task : tasks) task.join();
        EXPECT_EQ(lowest.lowest(), expected == rows ? std::nullopt : std::optional<size_t>(expected));
    }
}

}  // namespace
