#include "engine/memory_capacity.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include <sys/resource.h>
#include <unistd.h>

namespace tallygrams::engine {
namespace {

// The files below are read with C stdio into buffers of our own rather than
// through iostreams: the stream extractors that fill a std::string are
// compiled into the C++ library and allocate with its operator new, while
// the module frees with its own (allocation.cpp). Both end in malloc, but
// the pairing is not ours to rely on, and AddressSanitizer rightly calls
// it a mismatch.
class TextFile {
public:
    explicit TextFile(const char* path) : file_(std::fopen(path, "re")) {}
    ~TextFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    std::FILE* get() const { return file_; }

private:
    std::FILE* file_;
};

// A number of bytes given in a file as one decimal integer ("max", or
// anything else, gives none).
std::optional<size_t> number_in(const std::string& path) {
    const TextFile file(path.c_str());
    unsigned long long value = 0;
    if (file.get() == nullptr || std::fscanf(file.get(), "%llu", &value) != 1) return std::nullopt;
    return static_cast<size_t>(value);
}

// MemAvailable plus SwapFree, from kB in /proc/meminfo.
std::optional<size_t> machine_available() {
    const TextFile file("/proc/meminfo");
    if (file.get() == nullptr) return std::nullopt;
    char key[64];
    unsigned long long kib = 0;
    std::optional<size_t> available;
    size_t swap = 0;
    // Each line is "Key:   value kB", the unit missing on some.
    while (std::fscanf(file.get(), "%63s %llu%*[^\n]", key, &kib) == 2) {
        const std::string_view name(key);
        if (name == "MemAvailable:") available = memory_product(kib, 1024);
        if (name == "SwapFree:") swap = memory_product(kib, 1024);
    }
    if (!available) return std::nullopt;
    return SIZE_MAX - *available < swap ? SIZE_MAX : *available + swap;
}

// The path of this process's cgroup (version 2), from its "0::" line.
std::string cgroup_path() {
    const TextFile file("/proc/self/cgroup");
    if (file.get() == nullptr) return {};
    std::string path;
    char line[4096];
    while (std::fgets(line, sizeof line, file.get()) != nullptr) {
        std::string_view text(line);
        if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
        if (text.starts_with("0::")) path = std::string(text.substr(3));
    }
    return path;
}

// The least room under memory.max of this process's cgroup (version 2) and
// of the cgroups above it, each limit less what its cgroup uses.
std::optional<size_t> cgroup_room() {
    std::string path = cgroup_path();
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
    if (const TextFile file("/proc/self/statm"); file.get() != nullptr) {
        for (size_t& field : statm) {
            unsigned long long pages = 0;
            if (std::fscanf(file.get(), "%llu", &pages) != 1) break;
            field = static_cast<size_t>(pages);
        }
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
