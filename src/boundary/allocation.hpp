// Running out of memory in the module's own code ends the process with one
// line on descriptor 2 (allocation.cpp), whichever allocation failed.
#pragma once

#include <cstddef>

namespace tallygrams::boundary {

// Writes "memory allocation of <size> bytes failed" and aborts.
[[noreturn]] void end_process_out_of_memory(std::size_t size) noexcept;

}  // namespace tallygrams::boundary
