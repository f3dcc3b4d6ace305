#include "engine/memory_capacity.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

#include <sys/resource.h>
#include <unistd.h>

namespace tallygrams::engine {
namespace {

// A number of bytes given in a file as one decimal integer ("max", or
// anything else, gives none).
std::optional<size_t> number_in(const std::string& path) {
    std::ifstream file(path);
    unsigned long long value = 0;
    if (!(file >> value)) return std::nullopt;
    return static_cast<size_t>(value);
}

// MemAvailable plus SwapFree, from kB in /proc/meminfo.
std::optional<size_t> machine_available() {
    std::ifstream file("/proc/meminfo");
    std::string key;
    unsigned long long kib = 0;
    std::optional<size_t> available;
    size_t swap = 0;
    while (file >> key >> kib) {
        if (key == "MemAvailable:") available = memory_product(kib, 1024);
        if (key == "SwapFree:") swap = memory_product(kib, 1024);
        file.ignore(64, '\n');
    }
    if (!available) return std::nullopt;
    return SIZE_MAX - *available < swap ? SIZE_MAX : *available + swap;
}

// The least room under memory.max of this process's cgroup (version 2) and
// of the cgroups above it, each limit less what its cgroup uses.
std::optional<size_t> cgroup_room() {
    std::ifstream file("/proc/self/cgroup");
    std::string line;
    std::string path;
    while (std::getline(file, line)) {
        if (line.rfind("0::", 0) == 0) path = line.substr(3);
    }
    if (path.empty() || path.front() != '/') return std::nullopt;
    std::optional<size_t> room;
    while (true) {
        const std::string directory = "/sys/fs/cgroup" + (path == "/" ? std::string() : path);
        if (const std::optional<size_t> limit = number_in(directory + "/memory.max")) {
            const size_t used = number_in(directory + "/memory.current").value_or(0);
            const size_t here = *limit > used ? *limit - used : 0;
            room = room ? std::min(*room, here) : here;
        }
        if (path == "/") break;
        const size_t slash = path.rfind('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return room;
}

// The room under a resource limit, given the pages of it in use.
std::optional<size_t> rlimit_room(int resource, size_t used_pages) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    const size_t used = memory_product(used_pages, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
    return limit.rlim_cur > used ? static_cast<size_t>(limit.rlim_cur) - used : 0;
}

}  // namespace

size_t obtainable_memory() {
    // /proc/self/statm: total program size, then resident, shared, text,
    // library, data and stack, in pages.
    size_t statm[6] = {};
    {
        std::ifstream file("/proc/self/statm");
        for (size_t& field : statm) file >> field;
    }
    std::optional<size_t> least;
    for (const std::optional<size_t> room :
         {machine_available(), cgroup_room(), rlimit_room(RLIMIT_AS, statm[0]), rlimit_room(RLIMIT_DATA, statm[5])}) {
        if (room) least = least ? std::min(*least, *room) : *room;
    }
    if (least) return *least;
    const long pages = sysconf(_SC_PHYS_PAGES);
    return memory_product(pages > 0 ? static_cast<size_t>(pages) : 0, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
}

std::string memory_text(size_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

void ensure_obtainable(size_t bytes, std::string_view what) {
    const size_t obtainable = obtainable_memory();
    if (bytes <= obtainable) return;
    throw MemoryRequestRefused(std::string(what) + " need " + memory_text(bytes) +
                               " of memory; this process can get about " + memory_text(obtainable));
}

}  // namespace tallygrams::engine
