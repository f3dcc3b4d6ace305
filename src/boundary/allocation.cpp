// The module's own memory: when an allocation fails, the process ends with a
// one-line message instead of unwinding through half-finished work.
//
// These replacements bind only inside this extension (the linker keeps every
// symbol but the module's init function local), so the interpreter and other
// extensions keep their own allocation behaviour.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <unistd.h>

#include "boundary/allocation.hpp"
#include "common/arithmetic.hpp"

namespace tallygrams::boundary {

void end_process_out_of_memory(std::size_t size) noexcept {
    char line[80];
    const int length = std::snprintf(line, sizeof line, "memory allocation of %zu bytes failed\n", size);
    if (length > 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(2, line, static_cast<size_t>(length));
    }
    std::abort();
}

}  // namespace tallygrams::boundary

namespace {

using tallygrams::boundary::end_process_out_of_memory;

void* allocate(std::size_t size) noexcept {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) end_process_out_of_memory(size);
    return memory;
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) noexcept {
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t rounded = tallygrams::round_up(size == 0 ? 1 : size, align);
    void* memory = std::aligned_alloc(align, rounded);
    if (memory == nullptr) end_process_out_of_memory(size);
    return memory;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return allocate_aligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocate_aligned(size, alignment); }
// Without these two, an over-aligned `new (std::nothrow)` would come from
// the C++ library's allocator and go back through the `delete` below.
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, alignment);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
