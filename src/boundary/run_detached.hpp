// Runs pure native computation with the interpreter lock released.
#pragma once

#include <utility>

#include "boundary/python.hpp"

namespace tallygrams::boundary {

// Releases the lock for its lifetime; the destructor re-takes it on every
// way out, including an internal failure unwinding through, so a failure
// always reaches the call boundary on a thread that holds the lock.
class DetachedScope {
public:
    DetachedScope() noexcept : state_(PyEval_SaveThread()) {}
    ~DetachedScope() { PyEval_RestoreThread(state_); }
    DetachedScope(const DetachedScope&) = delete;
    DetachedScope& operator=(const DetachedScope&) = delete;

private:
    PyThreadState* state_;
};

// `computation` must not touch any Python object.
template <class Computation>
decltype(auto) run_detached(Computation&& computation) {
    DetachedScope detached;
    return std::forward<Computation>(computation)();
}

}  // namespace tallygrams::boundary
