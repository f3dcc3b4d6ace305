// The default of the hooks through which a long walk (tokens, LCS rows)
// lets its caller look for interruption between blocks of work: nothing.
#pragma once

namespace tallygrams::scorer {

struct NoPoll {
    void operator()() const noexcept {}
};

}  // namespace tallygrams::scorer
