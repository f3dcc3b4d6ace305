// Native computation with the interpreter lock released that Ctrl-C can
// stop: while the pool works, the waiting thread takes the lock back every
// 20 ms just long enough to run the interpreter's signal handlers. If one
// raises (KeyboardInterrupt, or whatever a handler raises), the run is
// stopped (engine/interruption.hpp) and, once it has wound down, that
// exception is what the call returns.
//
// How a long call of the companion module sees Ctrl-C, in three places:
//  - here, between items: the computation checks interruption.stopped()
//    before each item (a pair, a block of resamples) and returns early;
//  - inside one item whose work grows with the product of two lengths:
//    hand scorer::StopSignal(interruption.flag()) to the core
//    (scorer/stop_signal.hpp); it unwinds the item as PairAbandoned, which
//    the item's caller catches and counts as not done;
//  - with the lock held, in loops that call C code only (a tokenizer
//    written in C, building results): SignalCheckpoint
//    (signal_checkpoint.hpp).
// The module `tallygrams` has interruption rules of its own and uses none
// of this; the core's StopSignal defaults to never stopping.
#pragma once

#include <utility>

#include "boundary/py_err.hpp"
#include "boundary/python.hpp"
#include "engine/interruption.hpp"

namespace tallygrams::boundary {

// `computation(interruption)` must not touch any Python object; it hands the
// interruption to the pool and checks interruption.stopped() between items.
// Returns its value, or the exception a signal handler raised.
template <class Computation>
auto run_interruptible(Computation&& computation) -> Result<decltype(computation(std::declval<engine::Interruption&>()))> {
    PyRef raised;
    PyThreadState* state = PyEval_SaveThread();
    engine::Interruption interruption([&] {
        PyEval_RestoreThread(state);
        if (PyErr_CheckSignals() < 0) raised = PyRef(PyErr_GetRaisedException());
        state = PyEval_SaveThread();
        return static_cast<bool>(raised);
    });
    // Taken back on every way out, a failure unwinding through included.
    struct Reattach {
        PyThreadState*& state;
        ~Reattach() { PyEval_RestoreThread(state); }
    } reattach{state};
    auto value = std::forward<Computation>(computation)(interruption);
    if (raised) return PyErr::from_exception(std::move(raised));
    return value;
}

}  // namespace tallygrams::boundary
