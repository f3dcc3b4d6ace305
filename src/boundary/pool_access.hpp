// The process-wide worker pool, for a call about to run on it: created on
// first use (with the lock released, as starting threads may take a while),
// and a pool that cannot be had is an exception before any work, not an
// internal failure. Its size is the one the environment asks for
// (engine/pool/thread_count.hpp); a count the system cannot start is a
// ValueError naming it.
#pragma once

#include <cstdlib>
#include <string>

#include "boundary/py_err.hpp"
#include "boundary/run_detached.hpp"
#include "common/stable_texts.hpp"
#include "engine/pool/global_pool.hpp"

namespace tallygrams::boundary {

inline Result<engine::WorkerPool*> worker_pool() {
    if (engine::WorkerPool* pool = engine::global_pool_if_created()) return pool;
    std::string failure;
    engine::WorkerPool* pool = run_detached([&] { return engine::try_global_pool(failure); });
    if (pool != nullptr) return pool;
    for (const char* variable : {stable::kWorkerCountVariable, stable::kCpuCountVariable}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
            return PyErr::new_message(PyExc_ValueError, std::string(variable) + "=" + value +
                                                            " asks for more worker threads than this process can "
                                                            "start (" + failure + "); set it lower");
        }
    }
    return PyErr::new_message(PyExc_RuntimeError, "the worker threads cannot be started: " + failure);
}

}  // namespace tallygrams::boundary
