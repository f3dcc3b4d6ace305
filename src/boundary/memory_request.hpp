// A request for memory that this process cannot get, refused as a
// MemoryError before the work that would ask for it
// (engine/memory_capacity.hpp says why).
#pragma once

#include <cstddef>
#include <string_view>

#include "boundary/py_err.hpp"
#include "engine/memory_capacity.hpp"

namespace tallygrams::boundary {

// A MemoryError saying what needs how much, if `bytes` exceed what this
// process can get. `what` is the message's plural subject ("the scores of
// 100000000 pairs").
inline Status check_memory_request(size_t bytes, std::string_view what) {
    try {
        engine::ensure_obtainable(bytes, what);
    } catch (const engine::MemoryRequestRefused& refused) {
        return PyErr::new_message(PyExc_MemoryError, refused.what());
    }
    return Unit{};
}

}  // namespace tallygrams::boundary
