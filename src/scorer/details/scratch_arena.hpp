// Working memory for one pair: a bump allocator over a small buffer on the
// caller's stack, falling back to the heap for whatever does not fit. A
// summary-length pair never touches the heap; a long one costs a few large
// allocations instead of many small ones. Everything is released when the
// arena goes out of scope, or earlier by rewinding to a mark.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "common/arithmetic.hpp"

namespace tallygrams::scorer {

class ScratchArena {
public:
    ScratchArena() = default;
    ScratchArena(const ScratchArena&) = delete;
    ScratchArena& operator=(const ScratchArena&) = delete;

    // Uninitialised room for `count` objects of a trivial type, aligned
    // for it and to at least 16 bytes.
    template <class T>
    T* allocate(size_t count) {
        static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= kMaxAlignment);
        constexpr size_t alignment = alignof(T) > kAlignment ? alignof(T) : kAlignment;
        const size_t bytes = tallygrams::round_up(count * sizeof(T), kAlignment);
        const size_t start = tallygrams::round_up(used_, alignment);
        if (start <= kInlineBytes && bytes <= kInlineBytes - start) {
            used_ = start + bytes;
            return reinterpret_cast<T*>(inline_ + start);
        }
        // The system's blocks are aligned to 16 bytes; more is made by
        // asking for that much more and starting later.
        const size_t slack = alignment - kAlignment;
        overflow_.push_back(std::make_unique_for_overwrite<std::byte[]>(bytes + slack));
        std::byte* block = overflow_.back().get();
        return reinterpret_cast<T*>(block + (tallygrams::round_up(reinterpret_cast<uintptr_t>(block), alignment) -
                                             reinterpret_cast<uintptr_t>(block)));
    }

    template <class T>
    T* allocate_zeroed(size_t count) {
        T* memory = allocate<T>(count);
        // memset rather than a fill of std::byte, which compilers leave a
        // loop of byte stores.
        std::memset(static_cast<void*>(memory), 0, count * sizeof(T));
        return memory;
    }

    struct Mark {
        size_t used;
        size_t overflow_blocks;
    };
    Mark mark() const noexcept { return {used_, overflow_.size()}; }
    // Releases everything allocated since `mark`.
    void rewind(Mark mark) {
        used_ = mark.used;
        overflow_.resize(mark.overflow_blocks);
    }

private:
    static constexpr size_t kAlignment = 16;
    static constexpr size_t kMaxAlignment = 64;
    static constexpr size_t kInlineBytes = 16 * 1024;

    alignas(kMaxAlignment) std::byte inline_[kInlineBytes];
    size_t used_ = 0;
    std::vector<std::unique_ptr<std::byte[]>> overflow_;
};

// Gives back an arena's memory at the end of a scope.
class ArenaScope {
public:
    explicit ArenaScope(ScratchArena& arena) : arena_(arena), mark_(arena.mark()) {}
    ~ArenaScope() { arena_.rewind(mark_); }
    ArenaScope(const ArenaScope&) = delete;
    ArenaScope& operator=(const ArenaScope&) = delete;

private:
    ScratchArena& arena_;
    ScratchArena::Mark mark_;
};

}  // namespace tallygrams::scorer
