// Working memory for one pair: a bump allocator over a small buffer on the
// caller's stack, falling back to the heap for whatever does not fit. A
// summary-length pair never touches the heap; a long one costs a few large
// allocations instead of many small ones. Everything is released when the
// arena goes out of scope, or earlier by rewinding to a mark.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

    // Uninitialised room for `count` objects of a trivial type.
    template <class T>
    T* allocate(size_t count) {
        static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= kAlignment);
        const size_t bytes = tallygrams::round_up(count * sizeof(T), kAlignment);
        if (bytes <= kInlineBytes - used_) {
            std::byte* memory = inline_ + used_;
            used_ += bytes;
            return reinterpret_cast<T*>(memory);
        }
        overflow_.push_back(std::make_unique_for_overwrite<std::byte[]>(bytes));
        return reinterpret_cast<T*>(overflow_.back().get());
    }

    template <class T>
    T* allocate_zeroed(size_t count) {
        T* memory = allocate<T>(count);
        std::fill_n(reinterpret_cast<std::byte*>(memory), count * sizeof(T), std::byte{0});
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
    static constexpr size_t kInlineBytes = 16 * 1024;

    alignas(kAlignment) std::byte inline_[kInlineBytes];
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
