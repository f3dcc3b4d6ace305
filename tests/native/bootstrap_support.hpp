// Inputs shared by the bootstrap tests.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace bootstrap_test {

using Table = std::vector<std::vector<double>>;

// Columns of score-like values: mostly ratios of small integers (as ROUGE
// gives, with many repeats), some zeros and ones, and some arbitrary doubles.
inline Table score_columns(size_t columns, size_t pairs, uint64_t seed) {
    std::mt19937_64 rng(seed);
    Table table(columns, std::vector<double>(pairs));
    for (std::vector<double>& column : table) {
        for (double& value : column) {
            switch (rng() % 4) {
                case 0: value = static_cast<double>(rng() % 7) / static_cast<double>(1 + rng() % 9); break;
                case 1: value = static_cast<double>(rng() % 2); break;
                default: value = std::uniform_real_distribution<double>(0.0, 1.0)(rng); break;
            }
        }
    }
    return table;
}

// Spans over a table's columns, kept alive beside it.
class ColumnSpans {
public:
    explicit ColumnSpans(const Table& table) : spans_(table.begin(), table.end()) {}
    std::span<const std::span<const double>> get() const { return spans_; }

private:
    std::vector<std::span<const double>> spans_;
};

}  // namespace bootstrap_test
