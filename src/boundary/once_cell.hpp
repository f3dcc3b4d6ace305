// A process-wide cell for one Python object, created at most once and kept
// until the process ends (the reference is deliberately never released).
//
// A thread that has to wait for another thread's initialisation releases the
// interpreter lock before waiting, so a thread holding the lock never blocks
// on an initialiser that itself needs the lock.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "boundary/py_err.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::boundary {

class OnceObjectCell {
public:
    // The object if it has been created, else null. Never blocks.
    PyObject* peek() const noexcept { return value_.load(std::memory_order_acquire); }

    // `init` returns Result<PyRef>; the cell keeps its reference forever and
    // hands out borrowed pointers. On failure the cell stays empty, so a later
    // call tries again.
    template <class Init>
    Result<PyObject*> get_or_init(Init&& init) {
        if (PyObject* existing = peek()) return existing;

        PyThreadState* detached = PyEval_SaveThread();
        std::unique_lock<std::mutex> lock(mutex_);
        PyEval_RestoreThread(detached);

        if (PyObject* existing = peek()) return existing;
        // The initialiser may run Python code, which could call back into the
        // module and need this same cell: that would deadlock on the mutex.
        ensure(initializing_thread_ != std::this_thread::get_id(), "reentrant initialisation of a process-wide object");
        initializing_thread_ = std::this_thread::get_id();
        struct ClearOnExit {
            std::thread::id& id;
            ~ClearOnExit() { id = std::thread::id(); }
        } clear{initializing_thread_};

        Result<PyRef> created = init();
        if (!created) return std::move(created).take_error();
        PyObject* object = std::move(created).take_value().release();
        value_.store(object, std::memory_order_release);
        return object;
    }

private:
    std::atomic<PyObject*> value_{nullptr};
    std::mutex mutex_;
    std::thread::id initializing_thread_;
};

}  // namespace tallygrams::boundary
