// Internal failures: broken invariants inside native code.
//
// A failed check unwinds as an InternalFailure that remembers where it
// happened and on which thread. Nothing is written here: whoever finally
// handles the failure at the edge of native code (the Python call boundary)
// writes the one diagnostic line, so the core stays free of I/O.
#pragma once

#include <cstdint>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>

#include <sys/syscall.h>
#include <unistd.h>

namespace tallygrams {

// The operating system's id of the calling thread.
inline int64_t current_os_thread() noexcept { return static_cast<int64_t>(::syscall(SYS_gettid)); }

class InternalFailure : public std::exception {
public:
    InternalFailure(std::string message, std::source_location where, bool already_reported = false)
        : message_(std::move(message)),
          where_(where),
          os_thread_(current_os_thread()),
          already_reported_(already_reported) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }
    // The operating system's id of the thread the failure happened on.
    int64_t os_thread() const noexcept { return os_thread_; }
    // True when the diagnostic has been written already.
    bool already_reported() const noexcept { return already_reported_; }

private:
    std::string message_;
    std::source_location where_;
    int64_t os_thread_;
    bool already_reported_;
};

[[noreturn]] inline void fail_internally(std::string message,
                                         std::source_location where = std::source_location::current()) {
    throw InternalFailure(std::move(message), where);
}

// The consistency check used throughout native code.
inline void ensure(bool condition, std::string_view message,
                   std::source_location where = std::source_location::current()) {
    if (!condition) [[unlikely]] {
        fail_internally(std::string(message), where);
    }
}

}  // namespace tallygrams
