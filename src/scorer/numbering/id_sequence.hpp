// A text's tokens as numbers, grouped into sentences like a TokenSequence.
#pragma once

#include <cstddef>

namespace tallygrams::scorer {

template <class Id>
struct IdSequence {
    const Id* ids = nullptr;
    size_t count = 0;
    // Sentence k ends (exclusive) at sentence_ends[k] and starts where
    // sentence k-1 ended (0 for the first).
    const size_t* sentence_ends = nullptr;
    size_t sentence_count = 0;

    size_t sentence_start(size_t k) const noexcept { return k == 0 ? 0 : sentence_ends[k - 1]; }
};

}  // namespace tallygrams::scorer
