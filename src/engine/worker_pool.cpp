#include "engine/worker_pool.hpp"

#include <cerrno>
#include <cstring>
#include <thread>

#include <pthread.h>

#include "common/internal_failure.hpp"

namespace tallygrams::engine {

struct WorkerPool::Worker {
    WorkerPool* pool = nullptr;
    size_t index = 0;
    pthread_t thread{};
    std::mutex mutex;
    std::deque<Job*> jobs;  // back: the owner's end; front: thieves' end
};

namespace {

// Which pool's worker the current thread is, if any.
struct WorkerIdentity {
    const WorkerPool* pool = nullptr;
    size_t index = 0;
};
thread_local WorkerIdentity this_thread_worker;

// Scoring needs little stack; a small one keeps many workers cheap in
// address space.
constexpr size_t kWorkerStackBytes = 2 * 1024 * 1024;

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
    {
        // Taking the lock orders the flag before any sleeper's re-check.
        std::lock_guard<std::mutex> lock(sleep_mutex_);
        events_.fetch_add(1, std::memory_order_seq_cst);
    }
    sleep_cv_.notify_all();
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
    }
    notify_event();
}

bool WorkerPool::pop_local_if(Worker& worker, Job* job) {
    std::lock_guard<std::mutex> lock(worker.mutex);
    if (worker.jobs.empty() || worker.jobs.back() != job) return false;
    worker.jobs.pop_back();
    return true;
}

void WorkerPool::inject(Job* job) {
    {
        std::lock_guard<std::mutex> lock(injected_mutex_);
        injected_.push_back(job);
    }
    notify_event();
}

Job* WorkerPool::find_work(Worker& self) {
    {
        std::lock_guard<std::mutex> lock(self.mutex);
        if (!self.jobs.empty()) {
            Job* job = self.jobs.back();
            self.jobs.pop_back();
            return job;
        }
    }
    // Steal the oldest job of another worker, starting with the next one so
    // that thieves spread over their victims.
    for (size_t offset = 1; offset < worker_count_; ++offset) {
        Worker& victim = workers_[(self.index + offset) % worker_count_];
        std::lock_guard<std::mutex> lock(victim.mutex);
        if (!victim.jobs.empty()) {
            Job* job = victim.jobs.front();
            victim.jobs.pop_front();
            return job;
        }
    }
    std::lock_guard<std::mutex> lock(injected_mutex_);
    if (!injected_.empty()) {
        Job* job = injected_.front();
        injected_.pop_front();
        return job;
    }
    return nullptr;
}

void WorkerPool::notify_event() noexcept {
    events_.fetch_add(1, std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_seq_cst) > 0) {
        // Under the lock, so the notification cannot fall between a sleeper's
        // re-check and its wait.
        std::lock_guard<std::mutex> lock(sleep_mutex_);
        sleep_cv_.notify_all();
    }
}

void WorkerPool::sleep_until_event(uint64_t seen, const std::atomic<bool>* done) {
    std::unique_lock<std::mutex> lock(sleep_mutex_);
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    sleep_cv_.wait(lock, [&] {
        return events_.load(std::memory_order_seq_cst) != seen || stopping_.load(std::memory_order_relaxed) ||
               (done != nullptr && done->load(std::memory_order_acquire));
    });
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
}

void WorkerPool::help_until(Worker& self, const std::atomic<bool>& done) {
    while (!done.load(std::memory_order_acquire)) {
        const uint64_t seen = events_.load(std::memory_order_seq_cst);
        if (done.load(std::memory_order_acquire)) break;
        if (Job* job = find_work(self)) {
            job->run(self.index);
            continue;
        }
        sleep_until_event(seen, &done);
    }
}

void WorkerPool::worker_main(size_t index) noexcept {
    this_thread_worker = WorkerIdentity{this, index};
    Worker& self = workers_[index];
    for (;;) {
        const uint64_t seen = events_.load(std::memory_order_seq_cst);
        Job* job = nullptr;
        try {
            job = find_work(self);
        } catch (...) {
            // Only allocation inside a queue operation can throw, and the
            // module's allocator ends the process instead; nothing to do.
        }
        if (job != nullptr) {
            job->run(index);
            continue;
        }
        if (stopping_.load(std::memory_order_seq_cst)) return;
        sleep_until_event(seen, nullptr);
    }
}

}  // namespace tallygrams::engine
