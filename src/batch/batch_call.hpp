// The steps both batch functions share: binding, extraction, the length
// check, and scoring on the pool with the interpreter lock released.
#pragma once

#include <utility>

#include "batch/batch_runner.hpp"
#include "batch/global_pool.hpp"
#include "batch/owned_strings.hpp"
#include "module/arguments.hpp"
#include "module/run_detached.hpp"

namespace tallygrams::batch {

struct BatchInputs {
    OwnedStrings references;
    OwnedStrings predictions;
};

// Binds (references, predictions), copies both sequences, references first,
// and checks that their lengths agree. A type error anywhere beats the
// length error, and `references` beats `predictions`.
module::Result<BatchInputs> bind_and_extract(const module::CallSignature& signature, PyObject* const* args,
                                             Py_ssize_t nargs, PyObject* kwnames);

// Scores every pair into a new Output with the lock released. The inputs
// are consumed: their strings are freed as they are scored, and what is left
// of them before the lock is taken back.
template <class Output>
Output score_detached(BatchInputs inputs) {
    return module::run_detached([&] {
        BatchInputs owned = std::move(inputs);
        const size_t n = owned.references.size();
        Output output(n);
        // The pool is created here on first use, even for an empty batch.
        WorkerPool& pool = global_pool();
        run_batch(pool, owned.references, owned.predictions, output);
        return output;
    });
}

}  // namespace tallygrams::batch
