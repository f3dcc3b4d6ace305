// A fast, unseeded multiply-and-rotate hash over bytes, for the
// straightforward scorer's string-keyed tables. Results never depend
// on it (tables are only probed, never iterated), so determinism across
// processes costs nothing and keeps runs reproducible.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tallygrams::straightforward {

class FxHasher {
public:
    void add_word(uint64_t word) noexcept { state_ = (std::rotl(state_, 5) ^ word) * kSeed; }

    void add_bytes(std::string_view bytes) noexcept {
        const char* p = bytes.data();
        size_t n = bytes.size();
        while (n >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            add_word(word);
            p += 8;
            n -= 8;
        }
        if (n > 0) {
            uint64_t word = 0;
            std::memcpy(&word, p, n);
            add_word(word);
        }
        // The length separates "ab","c" from "a","bc" when keys are chained.
        add_word(bytes.size());
    }

    uint64_t finish() const noexcept { return state_; }

private:
    static constexpr uint64_t kSeed = 0x517cc1b727220a95ULL;
    uint64_t state_ = 0;
};

inline uint64_t fx_hash(std::string_view bytes) noexcept {
    FxHasher hasher;
    hasher.add_bytes(bytes);
    return hasher.finish();
}

}  // namespace tallygrams::straightforward
