// libFuzzer entry: the configurable scorer against the oracle, over metric
// lists, ways of tokenizing and several references decoded from the input
// (reference/rouge_config_checks.hpp).
#include <cstdio>
#include <cstdlib>

#include "oracles/rouge_config_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The oracle's tables grow with the product of the texts' lengths.
    if (size > 4096) return 0;
    const std::string difference = tallygrams::fuzz::check_config_input(data, size);
    if (!difference.empty()) {
        std::fprintf(stderr, "scores differ:\n%s", difference.c_str());
        std::abort();
    }
    return 0;
}
