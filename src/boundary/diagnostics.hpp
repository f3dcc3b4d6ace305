// The diagnostics written on the way out of native code, straight to file
// descriptor 2: bypassing any buffering, and the interpreter's sys.stderr.
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>

#include "common/internal_failure.hpp"

namespace tallygrams::boundary {

// Writes `text` to descriptor 2 in one piece: concurrent diagnostics never
// interleave. Safe in a forked child even if another thread of the parent
// was writing at the moment of the fork.
void write_to_stderr(std::string_view text);

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
