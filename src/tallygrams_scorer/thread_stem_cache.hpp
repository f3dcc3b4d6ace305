// One stem cache per thread (the calling thread of score() in a loop, each
// worker of the pool in a batch), made on first use and kept for the
// thread's life: a summary evaluation stems the same few thousand words
// again and again, and a hit costs a fifth of a stemming.
#pragma once

#include <memory>

#include "scorer/stemming/stem_cache.hpp"

namespace tallygrams::companion {

inline scorer::StemCache& thread_stem_cache() {
    thread_local std::unique_ptr<scorer::StemCache> cache;
    if (!cache) cache = std::make_unique<scorer::StemCache>();
    return *cache;
}

}  // namespace tallygrams::companion
