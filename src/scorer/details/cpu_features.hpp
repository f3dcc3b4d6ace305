// What the processor offers beyond the x86-64 baseline, asked at run time,
// so that one build runs everywhere and uses wider instructions where they
// exist. Each answer is a read of a word the runtime filled in at start-up.
#pragma once

namespace tallygrams::scorer {

// The kernels with wider instructions are compiled for x86-64 with GCC or
// clang, through per-function target attributes.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TALLYGRAMS_X86_KERNELS 1
#endif

inline bool cpu_has_avx2() noexcept {
#if defined(TALLYGRAMS_X86_KERNELS)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// The AES round instructions (AES-NI).
inline bool cpu_has_aes() noexcept {
#if defined(TALLYGRAMS_X86_KERNELS)
    return __builtin_cpu_supports("aes");
#else
    return false;
#endif
}

// Shifts by a count in any register (shrx), among others.
inline bool cpu_has_bmi2() noexcept {
#if defined(TALLYGRAMS_X86_KERNELS)
    return __builtin_cpu_supports("bmi2");
#else
    return false;
#endif
}

inline bool cpu_has_popcnt() noexcept {
#if defined(TALLYGRAMS_X86_KERNELS)
    return __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

}  // namespace tallygrams::scorer
