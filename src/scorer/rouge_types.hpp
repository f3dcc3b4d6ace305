// Which metrics to compute: rouge1 .. rouge9 (clipped n-gram overlap),
// rougeL (longest common subsequence of the whole texts) and rougeLsum (the
// summary-level LCS over sentences), in the order the caller listed them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/internal_failure.hpp"

namespace tallygrams::scorer {

enum class RougeKind : uint8_t { ngram, lcs, summary_lcs };

struct RougeType {
    RougeKind kind = RougeKind::ngram;
    uint8_t n = 1;  // n-gram size, 1..9; 0 for the LCS kinds

    static constexpr RougeType ngram(unsigned n) noexcept { return {RougeKind::ngram, static_cast<uint8_t>(n)}; }
    static constexpr RougeType lcs() noexcept { return {RougeKind::lcs, 0}; }
    static constexpr RougeType summary_lcs() noexcept { return {RougeKind::summary_lcs, 0}; }
    friend constexpr bool operator==(const RougeType&, const RougeType&) = default;
};

enum class RougeTypeError : uint8_t {
    none,
    non_positive_n,  // "rouge0"
    unknown,
};

struct ParsedRougeType {
    RougeType type;
    RougeTypeError error = RougeTypeError::none;
};

// A metric's name as rouge-score reads it: "rougeL", "rougeLsum", or "rouge"
// and one ASCII digit. Its n-gram pattern is matched with a trailing `$`,
// which also matches before a final newline, so "rouge2\n" names rouge2 too
// (the caller's name stays the key of that result).
constexpr ParsedRougeType parse_rouge_type(std::string_view name) noexcept {
    if (name == "rougeL") return {RougeType::lcs()};
    if (name == "rougeLsum") return {RougeType::summary_lcs()};
    const bool shape = (name.size() == 6 || (name.size() == 7 && name[6] == '\n')) && name.starts_with("rouge");
    if (!shape || name[5] < '0' || name[5] > '9') return {{}, RougeTypeError::unknown};
    if (name[5] == '0') return {{}, RougeTypeError::non_positive_n};
    return {RougeType::ngram(static_cast<unsigned>(name[5] - '0'))};
}

// The distinct metrics of one scorer, in output order. Adding a metric that
// is already present returns its existing position, so that results follow
// the first mention of each metric, as a dict filled in list order does.
class RougeConfig {
public:
    static constexpr size_t kMaxTypes = 11;  // rouge1..rouge9, rougeL, rougeLsum

    // The output position of `type`.
    size_t add(RougeType type) {
        for (size_t k = 0; k < count_ && k < kMaxTypes; ++k) {
            if (types_[k] == type) return k;
        }
        ensure(type.kind != RougeKind::ngram || (type.n >= 1 && type.n <= 9), "n-gram size out of range");
        ensure(count_ < kMaxTypes, "more distinct metrics than exist");
        types_[count_] = type;
        return count_++;
    }

    size_t size() const noexcept { return count_; }
    RougeType operator[](size_t k) const noexcept { return types_[k]; }

    // Whether a text must be tokenized as a whole (n-grams, rougeL), and
    // whether it must be cut into sentences (rougeLsum).
    bool needs_whole() const noexcept {
        for (size_t k = 0; k < count_; ++k) {
            if (types_[k].kind != RougeKind::summary_lcs) return true;
        }
        return false;
    }
    bool needs_sentences() const noexcept {
        for (size_t k = 0; k < count_; ++k) {
            if (types_[k].kind == RougeKind::summary_lcs) return true;
        }
        return false;
    }

private:
    std::array<RougeType, kMaxTypes> types_{};
    size_t count_ = 0;
};

}  // namespace tallygrams::scorer
