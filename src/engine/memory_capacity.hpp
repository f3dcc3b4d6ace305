// Refusing, before any work, a request for more memory than this process can
// get. A size a caller gives (resamples, rows) turns into memory the work
// will ask for; an allocation that fails in native code ends the process
// (boundary/allocation.hpp), and one the kernel grants but cannot back
// brings the OOM killer, both after the work has begun. So the memory such
// a size implies is compared first with what the process can expect to get.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tallygrams::engine {

// count * size in bytes, or SIZE_MAX where that overflows: a request no
// machine meets.
constexpr size_t memory_product(size_t count, size_t size) noexcept {
    return size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size;
}

// The memory this process can expect to get on top of what it has, in
// bytes: the least of what the machine has available (MemAvailable, which
// counts what the kernel can reclaim, plus free swap), the room under the
// memory limits of its cgroup and every cgroup above it, and the room under
// its own address-space and data limits (ulimit -v, -d). Read afresh at each
// call (a few small files of /proc and /sys); where none can be read, the
// machine's physical memory.
size_t obtainable_memory();

// A byte count for messages: "512 bytes", "1.5 GiB", "7.3 TiB".
std::string memory_text(size_t bytes);

// What a refused request throws: "<what> need(s) 7.3 TiB of memory; this
// process can get about 11.2 GiB".
class MemoryRequestRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Requests up to this size are granted without a look: reading the files
// behind obtainable_memory() costs about 25 us, many times what a small
// batch costs to score, and a process that cannot get 16 MiB more fails
// on its next allocation of any kind.
inline constexpr size_t kUncheckedRequestBytes = size_t{16} << 20;

// Whether a request of `bytes` is compared with obtainable_memory() at all.
constexpr bool worth_checking(size_t bytes) noexcept { return bytes > kUncheckedRequestBytes; }

// Throws MemoryRequestRefused if `bytes` exceed obtainable_memory() (and
// kUncheckedRequestBytes). `what` names the request as the message's
// subject, plural: "1000000000000 resamples of 1 column".
void ensure_obtainable(size_t bytes, std::string_view what);

}  // namespace tallygrams::engine
