// Forced into every translation unit of the clang 14 builds (sanitizers,
// fuzzers). Debian 12's libstdc++ only declares std::source_location for
// compilers with __builtin_source_location, which clang gained in version 15;
// this stand-in is built from the older __builtin_FILE/LINE/COLUMN, which
// report the call site the same way when used as default arguments.
#pragma once

#include <version>

#if !defined(__cpp_lib_source_location)
#include <cstdint>

namespace std {

struct source_location {
    // constexpr rather than consteval: clang 14 rejects a consteval function
    // called from a default argument.
    static constexpr source_location current(const char* file = __builtin_FILE(),
                                             const char* function = __builtin_FUNCTION(),
                                             uint_least32_t line = __builtin_LINE(),
                                             uint_least32_t column = __builtin_COLUMN()) noexcept {
        source_location location;
        location.file_ = file;
        location.function_ = function;
        location.line_ = line;
        location.column_ = column;
        return location;
    }

    constexpr source_location() noexcept = default;
    constexpr uint_least32_t line() const noexcept { return line_; }
    constexpr uint_least32_t column() const noexcept { return column_; }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr const char* function_name() const noexcept { return function_; }

private:
    const char* file_ = "";
    const char* function_ = "";
    uint_least32_t line_ = 0;
    uint_least32_t column_ = 0;
};

}  // namespace std
#endif
