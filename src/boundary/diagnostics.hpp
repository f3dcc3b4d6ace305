// The diagnostics written on the way out of native code, straight to file
// descriptor 2: bypassing any buffering, and the interpreter's sys.stderr,
// under a process-wide lock so that concurrent lines never interleave.
#pragma once

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <source_location>
#include <string>
#include <string_view>

#include <unistd.h>

#include "common/internal_failure.hpp"

namespace tallygrams::boundary {

namespace detail {

inline std::mutex& diagnostic_mutex() {
    static std::mutex mutex;
    return mutex;
}

inline void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // nowhere left to report to
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace detail

inline void write_to_stderr(std::string_view text) {
    std::lock_guard<std::mutex> lock(detail::diagnostic_mutex());
    detail::write_all(2, text);
}

inline void write_failure_diagnostic(std::string_view message, const std::source_location& where, int64_t os_thread) {
    std::string line = "tallygrams: internal failure on thread '<unnamed>' (os id ";
    line += std::to_string(os_thread);
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

// The diagnostic of a failure that happened on this thread, here.
inline void write_failure_diagnostic(std::string_view message,
                                     const std::source_location& where = std::source_location::current()) {
    write_failure_diagnostic(message, where, current_os_thread());
}

inline void write_failure_diagnostic(const InternalFailure& failure) {
    if (!failure.already_reported()) write_failure_diagnostic(failure.message(), failure.where(), failure.os_thread());
}

}  // namespace tallygrams::boundary
