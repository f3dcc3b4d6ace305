// The one-pass counts (unigram and bigram overlap, LCS) against the
// straightforward scorer's metrics, on random id sequences: every column
// width up to the 256 the one pass takes and past it, absent ids in either
// text, and both compiled forms of the pass.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "oracles/straightforward_scorer.hpp"
#include "scorer/metrics/pair_counts.hpp"

namespace {

using namespace tallygrams::scorer;
namespace plain = tallygrams::straightforward;

plain::TokenizedText as_text(const std::vector<uint32_t>& ids, uint32_t absent) {
    std::vector<std::string> tokens;
    for (uint32_t id : ids) tokens.push_back(id == absent ? "absent" : "t" + std::to_string(id));
    return plain::TokenizedText(std::move(tokens));
}

template <size_t W>
void expect_both_forms(const std::vector<uint32_t>& columns, const std::vector<uint32_t>& rows, uint32_t distinct,
                       const PairCounts& expected) {
    std::vector<PairCounts> results;
    ScratchArena arena;
    results.push_back(detail::fused_counts_baseline<uint32_t, W>(columns.data(), columns.size(), rows.data(),
                                                                 rows.size(), distinct + 1, distinct, arena));
#if defined(TALLYGRAMS_X86_KERNELS)
    if (cpu_has_bmi2() && cpu_has_popcnt()) {
        results.push_back(detail::fused_counts_bmi<uint32_t, W>(columns.data(), columns.size(), rows.data(),
                                                                rows.size(), distinct + 1, distinct, arena));
    }
#endif
    for (const PairCounts& counts : results) {
        EXPECT_EQ(counts.unigrams, expected.unigrams);
        EXPECT_EQ(counts.bigrams, expected.bigrams);
        EXPECT_EQ(counts.lcs, expected.lcs);
    }
}

TEST(PairCounts, OnePassAgreesWithTheStraightforwardMetrics) {
    std::mt19937_64 rng(31);
    for (int round = 0; round < 1500; ++round) {
        const uint32_t distinct = 1 + static_cast<uint32_t>(rng() % (round % 2 == 0 ? 6 : 300));
        const size_t n_r = 1 + rng() % 300;
        const size_t n_p = 1 + rng() % 300;
        // Absent ids in the prediction, as numbering makes them, or (as the
        // counts allow) in the reference.
        const bool absent_in_reference = rng() % 4 == 0;
        const auto draw = [&](size_t count, bool with_absent) {
            std::vector<uint32_t> ids(count);
            for (uint32_t& id : ids) id = static_cast<uint32_t>(rng() % (distinct + (with_absent ? 1 : 0)));
            return ids;
        };
        const std::vector<uint32_t> reference = draw(n_r, absent_in_reference);
        const std::vector<uint32_t> prediction = draw(n_p, !absent_in_reference);

        const plain::TokenizedText r = as_text(reference, distinct), p = as_text(prediction, distinct);
        PairCounts expected{plain::unigram_overlap(r, p), 0, plain::lcs_length(r, p)};
        if (n_r >= 2 && n_p >= 2) expected.bigrams = plain::bigram_overlap(r, p);
        SCOPED_TRACE(round);

        ScratchArena arena;
        const NumberedTokens<uint32_t> tokens{reference.data(), n_r, prediction.data(), n_p, distinct};
        const PairCounts counts = pair_counts(tokens, arena);
        EXPECT_EQ(counts.unigrams, expected.unigrams);
        EXPECT_EQ(counts.bigrams, expected.bigrams);
        EXPECT_EQ(counts.lcs, expected.lcs);

        const bool prediction_is_rows = n_r < n_p;
        const auto& columns = prediction_is_rows ? reference : prediction;
        const auto& rows = prediction_is_rows ? prediction : reference;
        switch ((columns.size() + 63) / 64) {
            case 1: expect_both_forms<1>(columns, rows, distinct, expected); break;
            case 2: expect_both_forms<2>(columns, rows, distinct, expected); break;
            case 3: expect_both_forms<3>(columns, rows, distinct, expected); break;
            case 4: expect_both_forms<4>(columns, rows, distinct, expected); break;
            default: break;  // the metrics one at a time, checked above
        }
    }
}

}  // namespace
