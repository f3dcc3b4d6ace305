// Ctrl-C during long loops that hold the interpreter lock but run no
// bytecode: calling a C-implemented tokenizer (str.split) for every text of
// a batch, building a dict per pair. The interpreter only looks at its
// signals between bytecodes, so such a loop would finish before a
// KeyboardInterrupt is seen. A SignalCheckpoint counts the work done and,
// every `interval` units, runs the signal handlers (PyErr_CheckSignals: a
// load of one flag unless a signal is pending).
#pragma once

#include <cstddef>

#include "boundary/py_err.hpp"
#include "boundary/python.hpp"

namespace tallygrams::boundary {

class SignalCheckpoint {
public:
    // 4096 units (tokens, texts, pairs) take well under a millisecond.
    explicit SignalCheckpoint(size_t interval = 4096) noexcept : interval_(interval), left_(interval) {}

    // Counts `work` units done; at each interval, the exception a signal
    // handler raised (KeyboardInterrupt) is the error.
    Status advance(size_t work = 1) {
        if (work < left_) {
            left_ -= work;
            return Unit{};
        }
        left_ = interval_;
        if (PyErr_CheckSignals() < 0) return PyErr::fetch();
        return Unit{};
    }

private:
    size_t interval_;
    size_t left_;
};

}  // namespace tallygrams::boundary
