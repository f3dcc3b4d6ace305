// The script's printed text for one system, measure by measure:
//
//   ---------------------------------------------
//   1 ROUGE-1 Average_R: 0.53939 (95%-conf.int. 0.53333 - 0.54545)
//   1 ROUGE-1 Average_P: ...
//   1 ROUGE-1 Average_F: ...
//
// or, with -t 2, one line of summed counts, each truncated to an integer:
//
//   1 ROUGE-1 M_count: 52 P_count: 48 H_count: 30
//
// and with -d, a line of dots and one line per pair, in pair order, with
// its rounded recall, precision and F; with -t 1 or 2 these are instead the
// pair's reference count, prediction count and hits, in Perl's number
// format, under the same labels R, P and F.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "scorer/rouge155/options.hpp"
#include "scorer/rouge155/pair_figures.hpp"
#include "scorer/rouge155/printed_numbers.hpp"

namespace tallygrams::scorer::rouge155 {

// What the script prints for one measure over the evaluation: for -t 0 and
// 1 the averages and interval ends of recall, precision and F; for -t 2 the
// summed reference count, prediction count and hits.
struct MeasureSummary {
    double average[3] = {0, 0, 0};
    double low[3] = {0, 0, 0};
    double high[3] = {0, 0, 0};
    double totals[3] = {0, 0, 0};
};

// `figures` holds pair i's figures for measure k at figures[i * measures.size() + k].
inline std::string render_report(const Options& options, std::span<const Measure> measures,
                                 std::span<const MeasureSummary> summaries, const PairFigures* figures, size_t pairs,
                                 const std::string& system = "1") {
    std::string out;
    for (size_t k = 0; k < measures.size(); ++k) {
        const std::string head = system + " " + measures[k].name + " ";
        const MeasureSummary& s = summaries[k];
        out += "---------------------------------------------\n";
        if (options.units != Units::counts) {
            static constexpr const char* kLabels[3] = {"R", "P", "F"};
            for (int v = 0; v < 3; ++v) {
                out += head + "Average_" + kLabels[v] + ": " + format_fixed5(s.average[v]) + " (" +
                       options.confidence_text + "%-conf.int. " + format_fixed5(s.low[v]) + " - " +
                       format_fixed5(s.high[v]) + ")\n";
            }
        } else {
            out += head + "M_count: " + format_perl_int(s.totals[0]) + " P_count: " + format_perl_int(s.totals[1]) +
                   " H_count: " + format_perl_int(s.totals[2]) + "\n";
        }
        if (!options.per_pair) continue;
        out += ".............................................\n";
        for (size_t i = 0; i < pairs; ++i) {
            const PairFigures& f = figures[i * measures.size() + k];
            out += head + "Eval " + std::to_string(i + 1) + "." + system;
            if (options.units == Units::pairs) {
                out += " R:" + format_fixed5(f.recall) + " P:" + format_fixed5(f.precision) + " F:" + format_fixed5(f.f);
            } else {
                out += " R:" + format_perl_number(f.reference) + " P:" + format_perl_number(f.prediction) +
                       " F:" + format_perl_number(f.hits);
            }
            out += "\n";
        }
    }
    return out;
}

}  // namespace tallygrams::scorer::rouge155
