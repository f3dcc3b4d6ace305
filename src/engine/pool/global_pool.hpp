// The process-wide worker pool shared by every batch call.
#pragma once

#include <string>

#include "engine/pool/worker_pool.hpp"

namespace tallygrams::engine {

// The pool, created on the first call with the worker count from the
// environment and kept until the process ends. Call it with the interpreter
// lock released: creation starts threads and may take a while. If the pool
// could not be created, this and every later call fail internally.
WorkerPool& global_pool();

// The same pool, for a caller that reports a failure itself: null if it
// could not be created, with `failure` saying why (the first attempt's
// reason, on every later call too). Also with the lock released.
WorkerPool* try_global_pool(std::string& failure);

// The pool if it already exists, else null; never creates it.
WorkerPool* global_pool_if_created() noexcept;

}  // namespace tallygrams::engine
