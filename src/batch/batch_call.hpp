// The steps both batch functions share: binding, extraction, the length
// check, and scoring on the pool with the interpreter lock released.
#pragma once

#include <utility>

#include "engine/batch_runner.hpp"
#include "engine/global_pool.hpp"
#include "engine/owned_strings.hpp"
#include "boundary/arguments.hpp"
#include "boundary/run_detached.hpp"

namespace tallygrams::batch {

struct BatchInputs {
    engine::OwnedStrings references;
    engine::OwnedStrings predictions;
};

// Binds (references, predictions), copies both sequences, references first,
// and checks that their lengths agree. A type error anywhere beats the
// length error, and `references` beats `predictions`.
boundary::Result<BatchInputs> bind_and_extract(const boundary::CallSignature& signature, PyObject* const* args,
                                             Py_ssize_t nargs, PyObject* kwnames);

// Scores every pair into a new Output with the lock released. The inputs
// are consumed: their strings are freed as they are scored, and what is left
// of them before the lock is taken back.
template <class Output>
Output score_detached(BatchInputs inputs) {
    return boundary::run_detached([&] {
        BatchInputs owned = std::move(inputs);
        const size_t n = owned.references.size();
        Output output(n);
        // The pool is created here on first use, even for an empty batch.
        engine::WorkerPool& pool = engine::global_pool();
        engine::run_batch(pool, owned.references, owned.predictions, output);
        return output;
    });
}

}  // namespace tallygrams::batch
