#include "batch/global_pool.hpp"

#include <atomic>
#include <mutex>
#include <string>

#include "batch/thread_count.hpp"
#include "scorer/internal_failure.hpp"

namespace tallygrams::batch {
namespace {

constexpr const char* kNotInitialized = "The global thread pool has not been initialized.: ";

std::mutex creation_mutex;
bool creation_attempted = false;
std::atomic<WorkerPool*> installed_pool{nullptr};

}  // namespace

WorkerPool& global_pool() {
    if (WorkerPool* pool = installed_pool.load(std::memory_order_acquire)) return *pool;

    std::string failure;
    {
        std::lock_guard<std::mutex> lock(creation_mutex);
        if (WorkerPool* pool = installed_pool.load(std::memory_order_acquire)) return *pool;
        if (!creation_attempted) {
            creation_attempted = true;
            try {
                // Never deleted: workers serve the process until it exits.
                installed_pool.store(new WorkerPool(configured_worker_count()), std::memory_order_release);
                return *installed_pool.load(std::memory_order_relaxed);
            } catch (const PoolCreationError& error) {
                failure = error.what();
            }
        } else {
            failure = "the one-time creation of the pool already ran and did not succeed";
        }
    }
    fail_internally(kNotInitialized + failure);
}

}  // namespace tallygrams::batch
