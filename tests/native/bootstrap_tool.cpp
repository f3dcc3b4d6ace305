// Test-only: runs the engine's bootstrap on columns read from standard input,
// for the pure-Python oracle to compare against.
//
// Input, whitespace-separated: pairs columns resamples seed confidence
// block_shift workers want_means, then the values column after column.
// Floats may be written in hexadecimal (Python's float.hex) to carry every
// bit. Output: one line "mean low mid high" per column in hexadecimal
// (%a); with want_means 1, then one line of the R resampled means per column.
// Arguments the engine refuses: "invalid: <reason>" and exit status 2.
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <stdexcept>
#include <vector>

#include "engine/statistics/bootstrap.hpp"

namespace {

using namespace tallygrams::engine;

[[noreturn]] void malformed(const char* what) {
    std::fprintf(stderr, "bootstrap_tool: malformed input: %s\n", what);
    std::exit(1);
}

double read_double() {
    char token[128];
    if (std::scanf("%127s", token) != 1) malformed("missing value");
    char* end = nullptr;
    const double value = std::strtod(token, &end);
    if (*end != '\0') malformed("not a float");
    return value;
}

uint64_t read_unsigned() {
    uint64_t value = 0;
    if (std::scanf("%" SCNu64, &value) != 1) malformed("missing count");
    return value;
}

void write_double(double value) {
    if (std::isnan(value)) {
        std::printf("nan");
    } else {
        std::printf("%a", value);
    }
}

}  // namespace

int main() {
    const uint64_t pairs = read_unsigned();
    const uint64_t column_count = read_unsigned();
    BootstrapSettings settings;
    settings.resamples = read_unsigned();
    settings.seed = read_unsigned();
    settings.confidence = read_double();
    settings.block_shift = static_cast<unsigned>(read_unsigned());
    const uint64_t workers = read_unsigned();
    const bool want_means = read_unsigned() != 0;

    std::vector<std::vector<double>> table(column_count, std::vector<double>(pairs));
    for (std::vector<double>& column : table) {
        for (double& value : column) value = read_double();
    }
    const std::vector<std::span<const double>> columns(table.begin(), table.end());

    WorkerPool pool(workers);
    const std::atomic<bool> never{false};
    try {
        const std::vector<ColumnSummary> summaries = bootstrap_intervals(pool, columns, settings, never).value();
        for (const ColumnSummary& s : summaries) {
            for (double value : {s.mean, s.low, s.mid, s.high}) {
                write_double(value);
                std::printf(" ");
            }
            std::printf("\n");
        }
        if (want_means) {
            const std::vector<double> means = resample_means(pool, columns, settings, never).value();
            for (size_t c = 0; c < column_count; ++c) {
                for (size_t r = 0; r < settings.resamples; ++r) {
                    write_double(means[c * settings.resamples + r]);
                    std::printf(" ");
                }
                std::printf("\n");
            }
        }
    } catch (const std::invalid_argument& error) {
        std::printf("invalid: %s\n", error.what());
        return 2;
    }
    return 0;
}
