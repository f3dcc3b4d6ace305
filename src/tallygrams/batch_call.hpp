// The steps both batch functions share: extraction of the two sequences,
// the length check, and scoring on the pool with the interpreter lock
// released.
#pragma once

#include <utility>

#include "boundary/arguments.hpp"
#include "boundary/run_detached.hpp"
#include "engine/pool/global_pool.hpp"
#include "tallygrams/batch_runner.hpp"
#include "tallygrams/extraction.hpp"
#include "tallygrams/owned_strings.hpp"

namespace tallygrams::batch {

struct BatchInputs {
    batch::OwnedStrings references;
    batch::OwnedStrings predictions;
};

// Copies both bound sequences, the first parameter's first, and checks that
// their lengths agree. A type error anywhere beats the length error, and the
// first sequence beats the second.
boundary::Result<BatchInputs> extract_inputs(const boundary::BoundArguments& arguments);

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
        batch::run_batch(pool, owned.references, owned.predictions, output);
        return output;
    });
}

}  // namespace tallygrams::batch
