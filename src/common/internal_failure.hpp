// Internal failures: broken invariants inside native code.
//
// A failed check writes one diagnostic line to the process's standard-error
// handle on the thread where it happened, then unwinds as an InternalFailure.
// Whoever catches it at the edge of native code (the Python call boundary, a
// worker of the pool) carries the message on; no Python is involved here.
#pragma once

#include <cerrno>
#include <cstdint>
#include <exception>
#include <mutex>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>

#include <sys/syscall.h>
#include <unistd.h>

namespace tallygrams {

class InternalFailure : public std::exception {
public:
    explicit InternalFailure(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

namespace detail {

inline std::mutex& diagnostic_mutex() {
    static std::mutex mutex;
    return mutex;
}

inline void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // nowhere left to report to
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace detail

// Writes straight to file descriptor 2, bypassing any buffering (and, in the
// module, the interpreter's sys.stderr), under a process-wide lock so that
// concurrent diagnostics never interleave.
inline void write_to_stderr(std::string_view text) {
    std::lock_guard<std::mutex> lock(detail::diagnostic_mutex());
    detail::write_all(2, text);
}

inline void write_failure_diagnostic(std::string_view message, const std::source_location& where) {
    std::string line = "tallygrams: internal failure on thread '<unnamed>' (os id ";
    line += std::to_string(static_cast<long long>(::syscall(SYS_gettid)));
    line += ") at ";
    line += where.file_name();
    line += ':';
    line += std::to_string(where.line());
    line += ':';
    line += std::to_string(where.column());
    line += ":\n";
    line += message;
    line += '\n';
    write_to_stderr(line);
}

[[noreturn]] inline void fail_internally(std::string message,
                                         std::source_location where = std::source_location::current()) {
    write_failure_diagnostic(message, where);
    throw InternalFailure(std::move(message));
}

// The consistency check used throughout native code.
inline void ensure(bool condition, std::string_view message,
                   std::source_location where = std::source_location::current()) {
    if (!condition) [[unlikely]] {
        fail_internally(std::string(message), where);
    }
}

}  // namespace tallygrams
