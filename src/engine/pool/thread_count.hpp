// How many workers the process-wide pool gets, from the environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include <sched.h>
#include <unistd.h>

#include "common/stable_texts.hpp"

namespace tallygrams::engine {

inline constexpr size_t kMaxWorkerCount = 65535;

// An unsigned decimal integer: an optional single leading '+', then at least
// one digit and nothing else, and no overflow of 64 bits.
inline std::optional<uint64_t> parse_count(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// Logical processors this process may run on (its affinity mask), or the
// online count if the mask cannot be read; never 0.
inline size_t logical_cpu_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<size_t>(count);
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<size_t>(online) : 1;
}

// `lookup(name)` returns the variable's value or null.
template <class Lookup>
size_t configured_worker_count(Lookup&& lookup) {
    size_t count = 0;
    const char* primary = lookup(stable::kWorkerCountVariable);
    const std::optional<uint64_t> primary_value = primary ? parse_count(primary) : std::nullopt;
    if (primary_value) {
        // 0 explicitly asks for one worker per processor.
        count = *primary_value > 0 ? static_cast<size_t>(std::min<uint64_t>(*primary_value, SIZE_MAX)) : 0;
    } else {
        const char* secondary = lookup(stable::kCpuCountVariable);
        const std::optional<uint64_t> secondary_value = secondary ? parse_count(secondary) : std::nullopt;
        if (secondary_value && *secondary_value > 0) {
            count = static_cast<size_t>(std::min<uint64_t>(*secondary_value, SIZE_MAX));
        }
    }
    if (count == 0) count = logical_cpu_count();
    return std::min(count, kMaxWorkerCount);
}

inline size_t configured_worker_count() {
    return configured_worker_count([](const char* name) { return std::getenv(name); });
}

}  // namespace tallygrams::engine
