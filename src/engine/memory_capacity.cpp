#include "engine/memory_capacity.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tallygrams::engine {
namespace {

// The files below are read whole with read(2) and parsed with from_chars,
// neither through iostreams nor through the scanf family: the stream
// extractors that fill a std::string are compiled into the C++ library and
// allocate with its operator new, while the module frees with its own
// (allocation.cpp), and the C library's newest headers bind scanf and strtol
// to symbols that older systems lack, which the wheel's platform tag rules
// out.

// The text of a small file (the first 64 KiB), or none if it cannot be read.
std::optional<std::string> file_text(const char* path) {
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    while (text.size() < 64 * 1024) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(descriptor);
    return text;
}

// The decimal number at the start of `text` after any blanks, and the rest
// of the text after it; none if there is no number there.
std::optional<size_t> leading_number(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return std::nullopt;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return value;
}

// A number of bytes given in a file as one decimal integer ("max", or
// anything else, gives none).
std::optional<size_t> number_in(const std::string& path) {
    const std::optional<std::string> text = file_text(path.c_str());
    if (!text) return std::nullopt;
    std::string_view rest(*text);
    return leading_number(rest);
}

// The lines of `text`, each without its line feed, to `visit`.
template <class Visit>
void for_each_line(std::string_view text, Visit&& visit) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        visit(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

// MemAvailable plus SwapFree, from kB in /proc/meminfo.
std::optional<size_t> machine_available() {
    const std::optional<std::string> text = file_text("/proc/meminfo");
    if (!text) return std::nullopt;
    std::optional<size_t> available;
    size_t swap = 0;
    // Each line is "Key:   value kB", the unit missing on some.
    for_each_line(*text, [&](std::string_view line) {
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) return;
        const std::string_view key = line.substr(0, colon);
        std::string_view rest = line.substr(colon + 1);
        const std::optional<size_t> kib = leading_number(rest);
        if (!kib) return;
        if (key == "MemAvailable") available = memory_product(*kib, 1024);
        if (key == "SwapFree") swap = memory_product(*kib, 1024);
    });
    if (!available) return std::nullopt;
    return SIZE_MAX - *available < swap ? SIZE_MAX : *available + swap;
}

// The path of this process's cgroup (version 2), from its "0::" line.
std::string cgroup_path() {
    const std::optional<std::string> text = file_text("/proc/self/cgroup");
    std::string path;
    if (text) {
        for_each_line(*text, [&](std::string_view line) {
            if (line.starts_with("0::")) path = std::string(line.substr(3));
        });
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
    if (const std::optional<std::string> text = file_text("/proc/self/statm")) {
        std::string_view rest(*text);
        for (size_t& field : statm) {
            const std::optional<size_t> pages = leading_number(rest);
            if (!pages) break;
            field = *pages;
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
    if (!worth_checking(bytes)) return;
    const size_t obtainable = obtainable_memory();
    if (bytes <= obtainable) return;
    throw MemoryRequestRefused(std::string(what) + " need " + memory_text(bytes) +
                               " of memory; this process can get about " + memory_text(obtainable));
}

}  // namespace tallygrams::engine
