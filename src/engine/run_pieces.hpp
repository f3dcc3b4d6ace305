// Runs a body once for each of a few coarse, independent pieces of work.
//
// The index range is halved with fork_join down to single pieces, so idle
// workers steal the larger untouched halves. Meant for pieces that each take
// a millisecond or more; which worker runs a piece must not matter to it.
#pragma once

#include <cstddef>

#include "engine/worker_pool.hpp"

namespace tallygrams::engine {

namespace detail {

template <class Body>
void run_piece_range(WorkerPool& pool, size_t begin, size_t end, const Body& body) {
    if (end - begin == 1) {
        body(begin);
        return;
    }
    const size_t middle = begin + (end - begin) / 2;
    pool.fork_join([&](bool) { run_piece_range(pool, begin, middle, body); },
                   [&](bool) { run_piece_range(pool, middle, end, body); });
}

}  // namespace detail

// Calls body(i) for every i in [0, count) on the pool's workers and returns
// when all have finished. If pieces throw, the others still run, and the
// failure of the lowest-numbered failing piece is rethrown here.
template <class Body>
void run_pieces(WorkerPool& pool, size_t count, const Body& body) {
    if (count == 0) return;
    pool.run_and_wait([&] { detail::run_piece_range(pool, 0, count, body); });
}

}  // namespace tallygrams::engine
