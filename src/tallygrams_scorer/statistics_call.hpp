// A call of the engine's statistics (the bootstrap, the paired tests) on the
// pool, with the interpreter lock released and Ctrl-C watched.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "boundary/pool_access.hpp"
#include "boundary/run_interruptible.hpp"
#include "common/internal_failure.hpp"
#include "engine/memory_capacity.hpp"

namespace tallygrams::companion {

// `compute(pool, interruption)`, which returns a Value. The engine's refusal
// of its arguments (std::invalid_argument) becomes a ValueError with the
// engine's message, and its refusal of memory the process cannot have a
// MemoryError; `what` names the computation in the internal failure of an
// uninterrupted run that gave nothing.
template <class Value, class Compute>
boundary::Result<Value> run_statistics(const char* what, Compute&& compute) {
    boundary::Result<engine::WorkerPool*> pool = boundary::worker_pool();
    if (!pool) return std::move(pool).take_error();
    std::string failure;
    PyObject* failure_type = PyExc_ValueError;
    boundary::Result<std::optional<Value>> outcome =
        boundary::run_interruptible([&](engine::Interruption& interruption) -> std::optional<Value> {
            try {
                return compute(*pool.value(), interruption);
            } catch (const std::invalid_argument& error) {
                failure = error.what();
            } catch (const engine::MemoryRequestRefused& error) {
                failure = error.what();
                failure_type = PyExc_MemoryError;
            }
            return std::nullopt;
        });
    if (!outcome) return std::move(outcome).take_error();
    if (!failure.empty()) return boundary::PyErr::new_message(failure_type, failure);
    if (!outcome.value().has_value()) fail_internally(std::string("an uninterrupted ") + what + " gave no result");
    return std::move(*outcome.value());
}

}  // namespace tallygrams::companion
