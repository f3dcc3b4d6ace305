// Metric names as rouge-score reads them, and the order results come in.
#include <gtest/gtest.h>

#include <string>

#include "scorer/rouge_types.hpp"

namespace {

using namespace tallygrams::scorer;

TEST(RougeTypeNames, ReadAsTheScorerReadsThem) {
    struct Case {
        std::string name;
        RougeTypeError error;
        RougeType type;
    };
    const Case cases[] = {
        {"rouge1", RougeTypeError::none, RougeType::ngram(1)},
        {"rouge9", RougeTypeError::none, RougeType::ngram(9)},
        {"rougeL", RougeTypeError::none, RougeType::lcs()},
        {"rougeLsum", RougeTypeError::none, RougeType::summary_lcs()},
        // The n-gram pattern ends in `$`, which matches before a final newline.
        {"rouge2\n", RougeTypeError::none, RougeType::ngram(2)},
        {"rouge0", RougeTypeError::non_positive_n, {}},
        {"rouge0\n", RougeTypeError::non_positive_n, {}},
        {"rouge10", RougeTypeError::unknown, {}},
        {"rougeL\n", RougeTypeError::unknown, {}},
        {"rougeLsum\n", RougeTypeError::unknown, {}},
        {"rouge2\n\n", RougeTypeError::unknown, {}},
        {"rouge2 ", RougeTypeError::unknown, {}},
        {"Rouge1", RougeTypeError::unknown, {}},
        {"rougel", RougeTypeError::unknown, {}},
        {"rouge", RougeTypeError::unknown, {}},
        {"", RougeTypeError::unknown, {}},
        {std::string("rouge1\0", 7), RougeTypeError::unknown, {}},
        {"rouge\xD9\xA1", RougeTypeError::unknown, {}},  // ARABIC-INDIC DIGIT ONE: not [0-9]
    };
    for (const Case& c : cases) {
        const ParsedRougeType parsed = parse_rouge_type(c.name);
        EXPECT_EQ(parsed.error, c.error) << c.name;
        if (c.error == RougeTypeError::none) {
            EXPECT_EQ(parsed.type, c.type) << c.name;
        }
    }
}

TEST(RougeConfig, KeepsFirstMentionOrderAndReportsWhatTextsNeed) {
    RougeConfig config;
    EXPECT_EQ(config.add(RougeType::summary_lcs()), 0u);
    EXPECT_TRUE(config.needs_sentences());
    EXPECT_FALSE(config.needs_whole());
    EXPECT_EQ(config.add(RougeType::ngram(3)), 1u);
    EXPECT_EQ(config.add(RougeType::summary_lcs()), 0u);
    EXPECT_EQ(config.add(RougeType::lcs()), 2u);
    EXPECT_EQ(config.add(RougeType::ngram(3)), 1u);
    EXPECT_EQ(config.size(), 3u);
    EXPECT_TRUE(config.needs_whole());

    RougeConfig all;
    for (unsigned n = 1; n <= 9; ++n) all.add(RougeType::ngram(n));
    all.add(RougeType::lcs());
    all.add(RougeType::summary_lcs());
    EXPECT_EQ(all.size(), RougeConfig::kMaxTypes);
    EXPECT_THROW(all.add(RougeType::ngram(10)), tallygrams::InternalFailure);
}

}  // namespace
