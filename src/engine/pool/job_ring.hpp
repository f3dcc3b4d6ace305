// A double-ended queue of jobs in one ring buffer. Its capacity doubles
// when it fills and never shrinks, so once a pool has seen its deepest
// nesting, queueing a job never allocates again; a std::deque, by contrast,
// allocates and frees a block whenever its ends cross a block boundary.
// Not synchronised: the pool guards each ring with a mutex.
#pragma once

#include <cstddef>
#include <memory>

namespace tallygrams::engine {

class Job;

class JobRing {
public:
    explicit JobRing(size_t initial_capacity = 64)
        : slots_(std::make_unique<Job*[]>(initial_capacity)), capacity_(initial_capacity) {}

    bool empty() const noexcept { return head_ == tail_; }
    size_t size() const noexcept { return tail_ - head_; }

    void push_back(Job* job) {
        if (size() == capacity_) grow();
        slots_[tail_++ & (capacity_ - 1)] = job;
    }
    // The three below require a non-empty ring.
    Job* back() const noexcept { return slots_[(tail_ - 1) & (capacity_ - 1)]; }
    Job* pop_back() noexcept { return slots_[--tail_ & (capacity_ - 1)]; }
    Job* pop_front() noexcept { return slots_[head_++ & (capacity_ - 1)]; }

private:
    void grow() {
        auto larger = std::make_unique<Job*[]>(2 * capacity_);
        for (size_t i = head_; i != tail_; ++i) larger[i - head_] = slots_[i & (capacity_ - 1)];
        tail_ -= head_;
        head_ = 0;
        capacity_ *= 2;
        slots_ = std::move(larger);
    }

    std::unique_ptr<Job*[]> slots_;
    size_t capacity_;  // a power of two
    // Positions grow without wrapping; a slot is a position modulo capacity.
    size_t head_ = 0;
    size_t tail_ = 0;
};

}  // namespace tallygrams::engine
