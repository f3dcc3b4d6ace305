// libFuzzer entry: the tokenizer against the definition of a token.
#include <cstdio>
#include <cstdlib>

#include "oracles/fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string difference = tallygrams::fuzz::check_tokens_input(data, size);
    if (!difference.empty()) {
        std::fprintf(stderr, "tokens differ:\n%s", difference.c_str());
        std::abort();
    }
    return 0;
}
