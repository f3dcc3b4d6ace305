// A fork-join pool of worker threads with work stealing.
//
// Each worker owns a queue of jobs: it pushes and pops at the back (newest
// first, which keeps its working set warm) while idle workers steal from the
// front (oldest first, which are the largest pieces). Threads outside the
// pool hand in a job through the shared injection queue and block until it
// has finished. A worker that waits for a stolen half keeps running other
// queued work, so nested joins never leave every worker blocked.
//
// An idle worker spins for a short while before it sleeps, so that the next
// batch of a caller scoring in a loop finds it awake; a new job wakes one
// sleeping worker, and a finished stolen job wakes exactly the worker that
// waits for it. README.md beside this file explains that protocol.
//
// Failures (C++ exceptions) are carried back to whoever waits for the job,
// and only after both halves of a join have finished.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/interruption.hpp"
#include "engine/pool/job_ring.hpp"

namespace tallygrams::engine {

// One short pause of a spinning thread: a hint to the processor that the
// thread waits, which frees resources for its sibling hyperthread.
inline void pause_briefly() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// A unit of work that can wait in a queue. `run` never throws: the job keeps
// its own failure for whoever waits on it.
class Job {
public:
    virtual void run(size_t executing_worker) noexcept = 0;

protected:
    ~Job() = default;
};

// The operating system refused to start a worker thread.
class PoolCreationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class WorkerPool {
public:
    // Starts `thread_count` workers (at least 1). If one cannot be started,
    // those already running are stopped and PoolCreationError is thrown.
    explicit WorkerPool(size_t thread_count);
    // Stops and joins every worker. Jobs must not be pending.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    size_t worker_count() const noexcept { return worker_count_; }

    // True on one of this pool's worker threads.
    bool on_worker_thread() const noexcept;

    // For a thread outside the pool: runs `job()` on a worker and blocks until
    // it has finished; its exception, if any, is rethrown here. Called from
    // one of this pool's own workers, it simply runs the job in place. With
    // an interruption, the waiting thread polls it while it waits
    // (interruption.hpp).
    template <class F>
    void run_and_wait(F&& job, Interruption* interruption = nullptr);

    // Queues `job` for some worker and returns at once; from any thread. The
    // job must stay valid until it has run (typically it deletes itself).
    void submit(Job* job) { inject(job); }

    // For a worker of this pool: runs `left(migrated)` and `right(migrated)`,
    // possibly on different workers, and returns when both have finished.
    // `migrated` tells a task that it runs on another worker than the one
    // that forked it. A failure in either is rethrown after both finished;
    // if both fail, the left one wins.
    template <class Left, class Right>
    void fork_join(Left&& left, Right&& right);

private:
    struct Worker;

    template <class F>
    class ForkedJob;
    template <class F>
    class InjectedJob;

    Worker& current_worker() const;
    static size_t worker_index(const Worker& worker) noexcept;
    void push_local(Worker& worker, Job* job);
    bool pop_local_if(Worker& worker, Job* job);
    void inject(Job* job);
    Job* find_work(Worker& worker);
    // Runs other jobs until `done` is set, idling when there is nothing.
    void help_until(Worker& worker, const std::atomic<bool>& done);
    // Spins, then sleeps, until there may be work, `done` (if given) is set
    // or the pool stops.
    void idle(Worker& worker, const std::atomic<bool>* done);
    void sleep(Worker& worker, const std::atomic<bool>* done);
    bool should_wake(const std::atomic<bool>* done) const noexcept;
    // A job was queued: wakes one sleeping worker, if any sleeps.
    void wake_one() noexcept;
    // Wakes the worker if it sleeps.
    void wake(Worker& worker) noexcept;
    // A stolen job finished: wakes the worker that forked it, if it sleeps.
    void stolen_job_finished(size_t origin) noexcept;
    void worker_main(size_t index) noexcept;
    void stop_and_join(size_t started) noexcept;

    static void* thread_entry(void* start) noexcept;

    size_t worker_count_;
    std::unique_ptr<Worker[]> workers_;

    std::mutex injected_mutex_;
    JobRing injected_;

    // Jobs sitting in any queue, counted under the queue's lock: what an
    // idle worker watches while it spins, instead of locking every queue.
    alignas(64) std::atomic<size_t> queued_{0};
    // Workers that announced they are going to sleep and were not yet woken.
    alignas(64) std::atomic<size_t> sleeping_{0};
    std::atomic<size_t> next_to_wake_{0};
    std::atomic<bool> stopping_{false};
};

// ---------------------------------------------------------------------------

template <class F>
class WorkerPool::ForkedJob final : public Job {
public:
    ForkedJob(F& task, size_t origin, WorkerPool& pool) : task_(task), origin_(origin), pool_(pool) {}

    void run(size_t executing_worker) noexcept override {
        execute(executing_worker != origin_);
        // The forking worker may be asleep waiting for exactly this. Once
        // `done_` is set the job may already be gone, so nothing of it is
        // touched afterwards.
        WorkerPool& pool = pool_;
        const size_t origin = origin_;
        done_.store(true, std::memory_order_release);
        pool.stolen_job_finished(origin);
    }

    void run_in_place() noexcept {
        execute(false);
        done_.store(true, std::memory_order_relaxed);
    }

    const std::atomic<bool>& done() const noexcept { return done_; }
    std::exception_ptr error() const noexcept { return error_; }

private:
    void execute(bool migrated) noexcept {
        try {
            task_(migrated);
        } catch (...) {
            error_ = std::current_exception();
        }
    }

    F& task_;
    size_t origin_;
    WorkerPool& pool_;
    std::exception_ptr error_;
    std::atomic<bool> done_{false};
};

// Waited for by a thread outside the pool. The waiter spins briefly, since
// small jobs finish within microseconds, then blocks. The flag is set under
// the mutex, and the waiter takes the mutex once before returning, so the
// worker is done with the job (and its notify) before the job can go away.
template <class F>
class WorkerPool::InjectedJob final : public Job {
public:
    explicit InjectedJob(F& task) : task_(task) {}

    void run(size_t /*executing_worker*/) noexcept override {
        try {
            task_();
        } catch (...) {
            error_ = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        finished_.store(true, std::memory_order_release);
        finished_cv_.notify_one();
    }

    void wait(Interruption* interruption) {
        const auto give_up = std::chrono::steady_clock::now() + kSpinTime;
        while (!finished_.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < give_up) {
            for (int k = 0; k < 32; ++k) pause_briefly();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        const auto finished = [this] { return finished_.load(std::memory_order_relaxed); };
        while (interruption != nullptr && !interruption->stopped()) {
            if (finished_cv_.wait_for(lock, interruption->interval(), finished)) return;
            lock.unlock();  // the poll may take a while (and take other locks)
            interruption->poll();
            lock.lock();
        }
        finished_cv_.wait(lock, finished);
    }

    std::exception_ptr error() const noexcept { return error_; }

private:
    static constexpr auto kSpinTime = std::chrono::microseconds(10);

    F& task_;
    std::exception_ptr error_;
    std::mutex mutex_;
    std::condition_variable finished_cv_;
    std::atomic<bool> finished_{false};
};

template <class F>
void WorkerPool::run_and_wait(F&& job, Interruption* interruption) {
    if (on_worker_thread()) {
        job();
        return;
    }
    InjectedJob<std::remove_reference_t<F>> injected(job);
    inject(&injected);
    injected.wait(interruption);
    if (injected.error()) std::rethrow_exception(injected.error());
}

template <class Left, class Right>
void WorkerPool::fork_join(Left&& left, Right&& right) {
    Worker& self = current_worker();
    ForkedJob<std::remove_reference_t<Right>> right_job(right, worker_index(self), *this);
    push_local(self, &right_job);

    std::exception_ptr left_error;
    try {
        left(false);
    } catch (...) {
        left_error = std::current_exception();
    }

    // Nested joins inside `left` are balanced, so if nobody stole the right
    // half it is still at the back of this worker's queue.
    if (pop_local_if(self, &right_job)) {
        right_job.run_in_place();
    } else {
        help_until(self, right_job.done());
    }
    if (left_error) std::rethrow_exception(left_error);
    if (right_job.error()) std::rethrow_exception(right_job.error());
}

}  // namespace tallygrams::engine
