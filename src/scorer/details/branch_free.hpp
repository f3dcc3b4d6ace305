// A select the compiler cannot turn into a branch. Where the condition is
// as unpredictable as the text (is this token new, does it occur in the
// other text), a branch mispredicts on a good share of the tokens, and
// optimisers happily turn a plain `?:` back into one when both sides are
// cheap. On x86-64 the select is a conditional move in inline assembly;
// elsewhere it is a mask.
#pragma once

#include <cstdint>

namespace tallygrams::scorer {

inline uint64_t select_without_branch(bool condition, uint64_t if_true, uint64_t if_false) noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    asm("test %[condition], %[condition]\n\tcmovne %[if_true], %[result]"
        : [result] "+r"(if_false)
        : [if_true] "rm"(if_true), [condition] "r"(condition)
        : "cc");
    return if_false;
#else
    const uint64_t mask = uint64_t{0} - static_cast<uint64_t>(condition);
    return (if_true & mask) | (if_false & ~mask);
#endif
}

template <class T>
T* select_without_branch(bool condition, T* if_true, T* if_false) noexcept {
    return reinterpret_cast<T*>(select_without_branch(condition, reinterpret_cast<uintptr_t>(if_true),
                                                      reinterpret_cast<uintptr_t>(if_false)));
}

// `x == y ? if_equal : otherwise`.
inline uint64_t select_if_equal(uint64_t x, uint64_t y, uint64_t if_equal, uint64_t otherwise) noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    asm("cmp %[y], %[x]\n\tcmove %[if_equal], %[result]"
        : [result] "+r"(otherwise)
        : [x] "r"(x), [y] "re"(y), [if_equal] "rm"(if_equal)
        : "cc");
    return otherwise;
#else
    return select_without_branch(x == y, if_equal, otherwise);
#endif
}

}  // namespace tallygrams::scorer
