#include "engine/statistics/signed_block_sums.hpp"

#include <bit>
#include <utility>

#include "scorer/details/cpu_features.hpp"

#if defined(TALLYGRAMS_X86_KERNELS)
#include <immintrin.h>
#endif

namespace tallygrams::engine {
namespace {

// Columns summed in one walk over the block: their accumulators, the sign
// mask and a loaded value fit the 16 vector registers, and the independent
// additions hide each one's latency. More columns take several walks.
constexpr size_t kMaxGroup = 8;

inline double signed_value(double value, uint64_t bit) noexcept {
    return std::bit_cast<double>(std::bit_cast<uint64_t>(value) ^ (bit << 63));
}

// The lanes left over past the last whole group of four, then the lanes'
// combination: shared by both kernels, so the tail is the same code too.
template <size_t G>
void finish(const double* const* columns, size_t from, size_t size, const uint64_t* signs,
            double (&lanes)[G][kSignLanes], double* sums) noexcept {
    for (size_t i = from; i < size; ++i) {
        const uint64_t bit = (signs[i >> 6] >> (i & 63)) & 1;
        for (size_t c = 0; c < G; ++c) lanes[c][i & 3] += signed_value(columns[c][i], bit);
    }
    for (size_t c = 0; c < G; ++c) sums[c] = (lanes[c][0] + lanes[c][1]) + (lanes[c][2] + lanes[c][3]);
}

template <size_t G>
void portable_group(const double* const* columns, size_t size, const uint64_t* signs, double* sums) noexcept {
    double lanes[G][kSignLanes] = {};
    const size_t whole = size & ~size_t{3};
    for (size_t i = 0; i < whole; i += 4) {
        const uint64_t nibble = signs[i >> 6] >> (i & 63);
        for (size_t c = 0; c < G; ++c) {
            for (size_t lane = 0; lane < kSignLanes; ++lane) {
                lanes[c][lane] += signed_value(columns[c][i + lane], (nibble >> lane) & 1);
            }
        }
    }
    finish<G>(columns, whole, size, signs, lanes, sums);
}

#if defined(TALLYGRAMS_X86_KERNELS)

// Entry k has the sign bit set in lane l when bit l of k is.
struct alignas(32) SignMasks {
    uint64_t lanes[16][kSignLanes];
};

constexpr SignMasks make_sign_masks() {
    SignMasks masks{};
    for (size_t k = 0; k < 16; ++k) {
        for (size_t lane = 0; lane < kSignLanes; ++lane) masks.lanes[k][lane] = ((k >> lane) & 1) << 63;
    }
    return masks;
}

constexpr SignMasks kSignMasks = make_sign_masks();

template <size_t G>
__attribute__((target("avx2"))) void avx2_group(const double* const* columns, size_t size, const uint64_t* signs,
                                                  double* sums) noexcept {
    __m256d accumulators[G];
    for (size_t c = 0; c < G; ++c) accumulators[c] = _mm256_setzero_pd();
    const size_t whole = size & ~size_t{3};
    for (size_t i = 0; i < whole; i += 4) {
        const size_t nibble = (signs[i >> 6] >> (i & 63)) & 15;
        const __m256d mask =
            _mm256_castsi256_pd(_mm256_load_si256(reinterpret_cast<const __m256i*>(kSignMasks.lanes[nibble])));
        for (size_t c = 0; c < G; ++c) {
            accumulators[c] = _mm256_add_pd(accumulators[c], _mm256_xor_pd(_mm256_loadu_pd(columns[c] + i), mask));
        }
    }
    double lanes[G][kSignLanes];
    for (size_t c = 0; c < G; ++c) _mm256_storeu_pd(lanes[c], accumulators[c]);
    finish<G>(columns, whole, size, signs, lanes, sums);
}

#endif

using GroupKernel = void (*)(const double* const*, size_t, const uint64_t*, double*) noexcept;

template <template <size_t> class Kernel, size_t... G>
constexpr GroupKernel pick(size_t group, std::index_sequence<G...>) noexcept {
    GroupKernel chosen = nullptr;
    ((chosen = group == G + 1 ? &Kernel<G + 1>::run : chosen), ...);
    return chosen;
}

template <size_t G>
struct Portable {
    static void run(const double* const* columns, size_t size, const uint64_t* signs, double* sums) noexcept {
        portable_group<G>(columns, size, signs, sums);
    }
};

#if defined(TALLYGRAMS_X86_KERNELS)
template <size_t G>
struct Avx2 {
    static void run(const double* const* columns, size_t size, const uint64_t* signs, double* sums) noexcept {
        avx2_group<G>(columns, size, signs, sums);
    }
};
#endif

// The columns in as few groups as kMaxGroup allows, of sizes that differ by
// at most one: nine columns are walked as 5 + 4, not 8 + 1.
template <template <size_t> class Kernel>
void in_groups(const double* const* columns, size_t column_count, size_t size, const uint64_t* signs,
               double* sums) noexcept {
    const size_t groups = (column_count + kMaxGroup - 1) / kMaxGroup;
    size_t first = 0;
    for (size_t g = 0; g < groups; ++g) {
        const size_t group = column_count / groups + (g < column_count % groups ? 1 : 0);
        pick<Kernel>(group, std::make_index_sequence<kMaxGroup>{})(columns + first, size, signs, sums + first);
        first += group;
    }
}

}  // namespace

void signed_block_sums_portable(const double* const* columns, size_t column_count, size_t size,
                                const uint64_t* signs, double* sums) noexcept {
    in_groups<Portable>(columns, column_count, size, signs, sums);
}

bool signed_block_sums_have_avx2() noexcept { return scorer::cpu_has_avx2(); }

void signed_block_sums_avx2(const double* const* columns, size_t column_count, size_t size, const uint64_t* signs,
                            double* sums) noexcept {
#if defined(TALLYGRAMS_X86_KERNELS)
    in_groups<Avx2>(columns, column_count, size, signs, sums);
#else
    signed_block_sums_portable(columns, column_count, size, signs, sums);
#endif
}

void signed_block_sums(const double* const* columns, size_t column_count, size_t size, const uint64_t* signs,
                       double* sums) noexcept {
    static const bool avx2 = signed_block_sums_have_avx2();
    if (avx2) {
        signed_block_sums_avx2(columns, column_count, size, signs, sums);
    } else {
        signed_block_sums_portable(columns, column_count, size, signs, sums);
    }
}

}  // namespace tallygrams::engine
