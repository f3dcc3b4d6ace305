// Memory that native code asked for outside operator new (a calloc'd result
// column) and did not get. Thrown with the size asked for, so that the edge
// of native code can end the process exactly as a failed operator new does;
// a failed allocation is never reported as a bug, nor carried on from.
#pragma once

#include <cstddef>
#include <new>

namespace tallygrams {

class AllocationFailure : public std::bad_alloc {
public:
    explicit AllocationFailure(std::size_t size) noexcept : size_(size) {}
    const char* what() const noexcept override { return "memory allocation failed"; }
    std::size_t size() const noexcept { return size_; }

private:
    std::size_t size_;
};

}  // namespace tallygrams
