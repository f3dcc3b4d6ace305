#include "boundary/diagnostics.hpp"

#include <cerrno>
#include <mutex>
#include <new>

#include <pthread.h>
#include <unistd.h>

namespace tallygrams::boundary {
namespace {

// Held only while one diagnostic is written, never while waiting for
// anything else.
std::mutex diagnostic_mutex;

// A child of fork() has only the thread that forked. If another thread held
// the lock at that moment, the child's copy stays locked with no owner left
// to unlock it, so the child starts from a fresh lock; the half-written line
// of the thread that is gone is not the child's to finish. Registered while
// the shared object loads, so that no first-use guard can itself be caught
// by a fork.
void renew_lock_in_child() noexcept { new (&diagnostic_mutex) std::mutex(); }
[[maybe_unused]] const int fork_handler_registered = pthread_atfork(nullptr, nullptr, renew_lock_in_child);

void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // nowhere left to report to
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace

void write_to_stderr(std::string_view text) {
    std::lock_guard<std::mutex> lock(diagnostic_mutex);
    write_all(2, text);
}

}  // namespace tallygrams::boundary
