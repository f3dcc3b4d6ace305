#include "engine/pool/global_pool.hpp"

#include <atomic>
#include <mutex>
#include <string>

#include <pthread.h>

#include "engine/pool/thread_count.hpp"
#include "common/internal_failure.hpp"

namespace tallygrams::engine {
namespace {

constexpr const char* kNotInitialized = "The global thread pool has not been initialized.: ";

std::mutex creation_mutex;
bool creation_attempted = false;
std::string creation_failure;  // why the attempt failed, if it did
std::atomic<WorkerPool*> installed_pool{nullptr};

// A child of fork() inherits the parent's pool object but none of its worker
// threads, so a job handed to it would wait forever. The child forgets that
// pool (its memory is kept, unused: its workers cannot be joined) and builds
// its own on first use, like a process that never had one. Holding the
// creation lock across fork() keeps a half-finished creation out of the child.
WorkerPool* pool_left_by_parent = nullptr;

void before_fork() noexcept { creation_mutex.lock(); }
void after_fork_in_parent() noexcept { creation_mutex.unlock(); }
void after_fork_in_child() noexcept {
    if (WorkerPool* inherited = installed_pool.exchange(nullptr, std::memory_order_relaxed)) {
        pool_left_by_parent = inherited;
    }
    creation_attempted = false;
    creation_failure.clear();
    creation_mutex.unlock();
}

// Registered while the program or shared object loads, once (handlers
// survive into children). Not on first use: the guard of a function-local
// static is itself a lock, and a fork while another thread held it would
// leave the child's first batch waiting on it forever.
[[maybe_unused]] const int fork_handlers_registered =
    pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child);

}  // namespace

WorkerPool* global_pool_if_created() noexcept { return installed_pool.load(std::memory_order_acquire); }

namespace {

// The pool, or null with the reason in `failure`: the first attempt's own,
// or, when `repeat_reason` is false, that an attempt already failed.
WorkerPool* obtain_pool(std::string& failure, bool repeat_reason) {
    if (WorkerPool* pool = installed_pool.load(std::memory_order_acquire)) return pool;
    std::lock_guard<std::mutex> lock(creation_mutex);
    if (WorkerPool* pool = installed_pool.load(std::memory_order_acquire)) return pool;
    if (creation_attempted) {
        failure = repeat_reason ? creation_failure : "the one-time creation of the pool already ran and did not succeed";
        return nullptr;
    }
    creation_attempted = true;
    try {
        // Never deleted: workers serve the process until it exits.
        installed_pool.store(new WorkerPool(configured_worker_count()), std::memory_order_release);
        return installed_pool.load(std::memory_order_relaxed);
    } catch (const PoolCreationError& error) {
        creation_failure = error.what();
        failure = creation_failure;
        return nullptr;
    }
}

}  // namespace

WorkerPool* try_global_pool(std::string& failure) { return obtain_pool(failure, true); }

WorkerPool& global_pool() {
    std::string failure;
    if (WorkerPool* pool = obtain_pool(failure, false)) return *pool;
    fail_internally(kNotInitialized + failure);
}

}  // namespace tallygrams::engine
