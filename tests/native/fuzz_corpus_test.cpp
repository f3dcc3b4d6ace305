// Replays every input of the fuzzers' committed corpus through the same
// checks, so that each case a fuzz run has found stays a regression test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "oracles/fuzz_checks.hpp"
#include "oracles/rouge_config_checks.hpp"

namespace {

namespace fs = std::filesystem;

struct CorpusFile {
    std::string harness;  // the corpus subdirectory: score_pair, tokenizer or rouge_config
    fs::path path;
};

std::vector<CorpusFile> corpus_files() {
    std::vector<CorpusFile> files;
    for (const char* harness : {"score_pair", "tokenizer", "rouge_config"}) {
        const fs::path directory = fs::path(TALLYGRAMS_FUZZ_CORPUS) / harness;
        if (!fs::is_directory(directory)) continue;
        for (const auto& entry : fs::directory_iterator(directory)) {
            if (entry.is_regular_file()) files.push_back({harness, entry.path()});
        }
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return files;
}

std::string test_name(const testing::TestParamInfo<CorpusFile>& info) {
    std::string name = info.param.harness + "_" + info.param.path.filename().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

class Corpus : public testing::TestWithParam<CorpusFile> {};

TEST_P(Corpus, PropertyHolds) {
    std::ifstream in(GetParam().path, std::ios::binary);
    ASSERT_TRUE(in) << GetParam().path;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const std::string& harness = GetParam().harness;
    const std::string difference = harness == "score_pair"   ? tallygrams::fuzz::check_pair_input(data, bytes.size())
                                   : harness == "tokenizer" ? tallygrams::fuzz::check_tokens_input(data, bytes.size())
                                                            : tallygrams::fuzz::check_config_input(data, bytes.size());
    EXPECT_EQ(difference, "");
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Corpus, testing::ValuesIn(corpus_files()), test_name);

TEST(Corpus, IsPresent) { EXPECT_GE(corpus_files().size(), 10u); }

// The input conventions themselves: 0xFF splits, invalid UTF-8 is repaired.
TEST(FuzzInput, SplitsAtTheFirstFFAndRepairsEachSide) {
    using tallygrams::fuzz::split_pair;
    const std::string raw = "a\xC3\xFF" "b\xFF" "c";
    const auto [reference, prediction] = split_pair(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
    EXPECT_EQ(reference, "a\xEF\xBF\xBD");
    EXPECT_EQ(prediction, "b\xEF\xBF\xBD" "c");
    const std::string halves = "abcd";
    EXPECT_EQ(split_pair(reinterpret_cast<const uint8_t*>(halves.data()), 4), std::make_pair(std::string("ab"), std::string("cd")));
}

TEST(FuzzInput, RepairKeepsValidAndReplacesInvalidSequences) {
    using tallygrams::fuzz::repair_utf8;
    const std::string valid = "x\xC4\xB0\xE2\x84\xAA\xF0\x9F\x98\x80\x7F";
    EXPECT_EQ(repair_utf8(valid), valid);
    EXPECT_EQ(repair_utf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");          // overlong
    EXPECT_EQ(repair_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(repair_utf8("\xF4\x90\x80\x80").size(), 12u);                   // beyond U+10FFFF
    EXPECT_EQ(repair_utf8("\xE2\x84"), "\xEF\xBF\xBD\xEF\xBF\xBD");            // truncated
}

TEST(FuzzInput, ConfigInputNamesMetricsTokenizationAndTexts) {
    std::string raw;
    raw += '\x01';                                                        // rouge1
    raw += static_cast<char>(0x04 | (2 << 3) | (1 << 5) | (1 << 6));  // rougeLsum; own tokens; stemming; rotated by 1
    raw += "p\xFFr1\xFFr\xC3";
    const auto c = tallygrams::fuzz::decode_config_input(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
    EXPECT_EQ(c.rouge_types, (std::vector<std::string>{"rougeLsum", "rouge1"}));
    EXPECT_EQ(c.tokenization, tallygrams::fuzz::Tokenization::own_tokens);
    EXPECT_EQ(c.stemming, tallygrams::fuzz::Stemming::porter);  // stemming, with an odd rotation
    EXPECT_EQ(c.prediction, "p");
    EXPECT_EQ(c.references, (std::vector<std::string>{"r1", "r\xEF\xBF\xBD"}));
    // Without a separator there is one empty reference.
    const std::string alone = "\x01\x00q";
    EXPECT_EQ(tallygrams::fuzz::decode_config_input(reinterpret_cast<const uint8_t*>(alone.data()), 3).references,
              std::vector<std::string>{""});
}

}  // namespace
