#include "engine/pool/worker_pool.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <pthread.h>
#include <sched.h>

#include "common/internal_failure.hpp"

namespace tallygrams::engine {

struct WorkerPool::Worker {
    WorkerPool* pool = nullptr;
    size_t index = 0;
    pthread_t thread{};
    std::mutex mutex;
    JobRing jobs;  // back: the owner's end; front: thieves' end
    // Sleep state, on its own cache line: `asleep` is set by the worker when
    // it goes to sleep and cleared by whoever wakes it, who then bumps
    // `wake_ticket`, the word the worker sleeps on.
    alignas(64) std::atomic<bool> asleep{false};
    std::atomic<uint32_t> wake_ticket{0};
};

namespace {

// Which pool's worker the current thread is, if any.
struct WorkerIdentity {
    const WorkerPool* pool = nullptr;
    size_t index = 0;
};
thread_local WorkerIdentity this_thread_worker;

// What runs on the pool (scoring, copying, resampling) needs little stack;
// a small one keeps many workers cheap in address space.
constexpr size_t kWorkerStackBytes = 2 * 1024 * 1024;

// How long an idle worker keeps looking for work before it sleeps: long
// enough to span the gap between the batches of a caller scoring in a loop,
// short enough to give the processor back soon after the last one. Past the
// first few rounds it yields the processor between looks, so that on a
// machine with more threads than cores the spinning costs others little.
constexpr auto kSpinTime = std::chrono::microseconds(100);
constexpr unsigned kPausesPerRound = 16;
constexpr unsigned kRoundsBeforeYielding = 64;

}  // namespace

WorkerPool::WorkerPool(size_t thread_count)
    : worker_count_(thread_count == 0 ? 1 : thread_count), workers_(std::make_unique<Worker[]>(worker_count_)) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
    for (size_t i = 0; i < worker_count_; ++i) {
        workers_[i].pool = this;
        workers_[i].index = i;
        const int error = pthread_create(&workers_[i].thread, &attributes, &WorkerPool::thread_entry, &workers_[i]);
        if (error != 0) {
            pthread_attr_destroy(&attributes);
            stop_and_join(i);
            throw PoolCreationError("could not start worker thread " + std::to_string(i + 1) + " of " +
                                    std::to_string(worker_count_) + ": " + std::strerror(error) + " (os error " +
                                    std::to_string(error) + ")");
        }
    }
    pthread_attr_destroy(&attributes);
}

WorkerPool::~WorkerPool() { stop_and_join(worker_count_); }

void WorkerPool::stop_and_join(size_t started) noexcept {
    stopping_.store(true, std::memory_order_seq_cst);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    for (size_t i = 0; i < started; ++i) wake(workers_[i]);
    for (size_t i = 0; i < started; ++i) pthread_join(workers_[i].thread, nullptr);
}

void* WorkerPool::thread_entry(void* start) noexcept {
    auto* worker = static_cast<Worker*>(start);
    worker->pool->worker_main(worker->index);
    return nullptr;
}

bool WorkerPool::on_worker_thread() const noexcept { return this_thread_worker.pool == this; }

WorkerPool::Worker& WorkerPool::current_worker() const {
    ensure(on_worker_thread(), "fork_join called from a thread outside the pool");
    return workers_[this_thread_worker.index];
}

size_t WorkerPool::worker_index(const Worker& worker) noexcept { return worker.index; }

void WorkerPool::push_local(Worker& worker, Job* job) {
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.jobs.push_back(job);
        queued_.fetch_add(1, std::memory_order_seq_cst);
    }
    wake_one();
}

bool WorkerPool::pop_local_if(Worker& worker, Job* job) {
    std::lock_guard<std::mutex> lock(worker.mutex);
    if (worker.jobs.empty() || worker.jobs.back() != job) return false;
    worker.jobs.pop_back();
    queued_.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

void WorkerPool::inject(Job* job) {
    {
        std::lock_guard<std::mutex> lock(injected_mutex_);
        injected_.push_back(job);
        queued_.fetch_add(1, std::memory_order_seq_cst);
    }
    wake_one();
}

Job* WorkerPool::find_work(Worker& self) {
    {
        std::lock_guard<std::mutex> lock(self.mutex);
        if (!self.jobs.empty()) {
            queued_.fetch_sub(1, std::memory_order_relaxed);
            return self.jobs.pop_back();
        }
    }
    // Nothing counted anywhere: skip locking every other queue.
    if (queued_.load(std::memory_order_relaxed) == 0) return nullptr;
    // Steal the oldest job of another worker, starting with the next one so
    // that thieves spread over their victims.
    for (size_t offset = 1; offset < worker_count_; ++offset) {
        Worker& victim = workers_[(self.index + offset) % worker_count_];
        std::lock_guard<std::mutex> lock(victim.mutex);
        if (!victim.jobs.empty()) {
            queued_.fetch_sub(1, std::memory_order_relaxed);
            return victim.jobs.pop_front();
        }
    }
    std::lock_guard<std::mutex> lock(injected_mutex_);
    if (!injected_.empty()) {
        queued_.fetch_sub(1, std::memory_order_relaxed);
        return injected_.pop_front();
    }
    return nullptr;
}

// See README.md for why these orderings make a lost wake-up impossible.
void WorkerPool::wake_one() noexcept {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (sleeping_.load(std::memory_order_seq_cst) == 0) return;  // the common case: no system call
    const size_t first = next_to_wake_.fetch_add(1, std::memory_order_relaxed);
    for (size_t k = 0; k < worker_count_; ++k) {
        Worker& candidate = workers_[(first + k) % worker_count_];
        if (candidate.asleep.load(std::memory_order_relaxed) &&
            candidate.asleep.exchange(false, std::memory_order_acq_rel)) {
            sleeping_.fetch_sub(1, std::memory_order_relaxed);
            candidate.wake_ticket.fetch_add(1, std::memory_order_release);
            candidate.wake_ticket.notify_one();
            return;
        }
    }
}

void WorkerPool::wake(Worker& worker) noexcept {
    if (worker.asleep.load(std::memory_order_relaxed) && worker.asleep.exchange(false, std::memory_order_acq_rel)) {
        sleeping_.fetch_sub(1, std::memory_order_relaxed);
        worker.wake_ticket.fetch_add(1, std::memory_order_release);
        worker.wake_ticket.notify_one();
    }
}

void WorkerPool::stolen_job_finished(size_t origin) noexcept {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    wake(workers_[origin]);
}

bool WorkerPool::should_wake(const std::atomic<bool>* done) const noexcept {
    return queued_.load(std::memory_order_relaxed) != 0 || stopping_.load(std::memory_order_relaxed) ||
           (done != nullptr && done->load(std::memory_order_acquire));
}

void WorkerPool::idle(Worker& self, const std::atomic<bool>* done) {
    const auto give_up = std::chrono::steady_clock::now() + kSpinTime;
    for (unsigned round = 0;; ++round) {
        if (should_wake(done)) return;
        if (round < kRoundsBeforeYielding) {
            for (unsigned k = 0; k < kPausesPerRound; ++k) pause_briefly();
        } else {
            if (std::chrono::steady_clock::now() > give_up) break;
            sched_yield();
        }
    }
    sleep(self, done);
}

void WorkerPool::sleep(Worker& self, const std::atomic<bool>* done) {
    const uint32_t ticket = self.wake_ticket.load(std::memory_order_acquire);
    self.asleep.store(true, std::memory_order_relaxed);
    sleeping_.fetch_add(1, std::memory_order_seq_cst);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (should_wake(done)) {
        // Work arrived meanwhile: take back the announcement, unless a waker
        // already did (and counted this worker out) on its way to wake it.
        if (self.asleep.exchange(false, std::memory_order_acq_rel)) sleeping_.fetch_sub(1, std::memory_order_relaxed);
        return;
    }
    self.wake_ticket.wait(ticket, std::memory_order_acquire);
}

void WorkerPool::help_until(Worker& self, const std::atomic<bool>& done) {
    while (!done.load(std::memory_order_acquire)) {
        if (Job* job = find_work(self)) {
            job->run(self.index);
            continue;
        }
        idle(self, &done);
    }
}

void WorkerPool::worker_main(size_t index) noexcept {
    this_thread_worker = WorkerIdentity{this, index};
    Worker& self = workers_[index];
    for (;;) {
        Job* job = nullptr;
        try {
            job = find_work(self);
        } catch (...) {
            // Nothing in finding work allocates or throws today; a failure
            // here must not end the worker.
        }
        if (job != nullptr) {
            job->run(index);
            continue;
        }
        if (stopping_.load(std::memory_order_seq_cst)) return;
        idle(self, nullptr);
    }
}

}  // namespace tallygrams::engine
