// Scores cases read on standard input with the configurable scorer, for
// rouge_config_peer_check.py to compare with rouge-score itself. One case
// per line, tab-separated: tokenization and stemming (numbers, as in
// tests/oracles/rouge_config_checks.hpp), the metric names (hex UTF-8, comma-
// separated), the prediction and each reference (hex UTF-8). One line out
// per case: per result, in dict order, the name in hex, precision, recall,
// F-measure (17 significant digits, which give the double back exactly)
// and 1 if the peer's zero would be ints, separated by tabs.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "oracles/rouge_config_checks.hpp"

namespace {

using namespace tallygrams::fuzz;

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

std::string from_hex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string to_hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::vector<std::string> fields = split(line, '\t');
        if (fields.size() < 5) return 2;
        ConfigCase c;
        c.tokenization = static_cast<Tokenization>(std::stoi(fields[0]));
        c.stemming = static_cast<Stemming>(std::stoi(fields[1]));
        for (const std::string& name : split(fields[2], ',')) c.rouge_types.push_back(from_hex(name));
        c.prediction = from_hex(fields[3]);
        for (size_t k = 4; k < fields.size(); ++k) c.references.push_back(from_hex(fields[k]));
        const FastResult result = fast_scores(c);
        if (result.rejected) {
            std::printf("rejected\n");
            continue;
        }
        for (size_t k = 0; k < result.scores.size(); ++k) {
            const auto& [name, score] = result.scores[k];
            std::printf("%s%s %.17g %.17g %.17g %d", k == 0 ? "" : "\t", to_hex(name).c_str(), score.precision,
                        score.recall, score.fmeasure, result.integer_zeros[k] ? 1 : 0);
        }
        std::printf("\n");
    }
    return 0;
}
