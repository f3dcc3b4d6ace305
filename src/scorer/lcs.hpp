// Length of the longest common subsequence of two token sequences, by the
// classic dynamic programme kept to two rows of counters. The shorter
// sequence indexes the columns, so memory follows the shorter text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "scorer/tokenizer.hpp"

namespace tallygrams::scorer {

// Both texts must hold at least one token.
inline uint64_t lcs_length(const TokenizedText& reference, const TokenizedText& prediction) {
    const bool prediction_is_rows = reference.token_count() < prediction.token_count();
    const TokenizedText& rows = prediction_is_rows ? prediction : reference;
    const TokenizedText& columns = prediction_is_rows ? reference : prediction;
    const size_t m = columns.token_count();

    auto previous = std::make_unique<uint64_t[]>(m + 1);
    auto current = std::make_unique<uint64_t[]>(m + 1);
    for (size_t i = 0; i < rows.token_count(); ++i) {
        const std::string_view a = rows.token(i);
        for (size_t j = 0; j < m; ++j) {
            const std::string_view b = columns.token(j);
            current[j + 1] = (a.size() == b.size() && a == b) ? previous[j] + 1
                                                              : std::max(previous[j + 1], current[j]);
        }
        if (i + 1 < rows.token_count()) {
            std::fill_n(previous.get(), m + 1, uint64_t{0});
            std::swap(previous, current);
        }
    }
    return current[m];
}

}  // namespace tallygrams::scorer
