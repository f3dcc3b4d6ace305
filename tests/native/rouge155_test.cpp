// The ROUGE-1.5.5 semantics piece by piece: the option string, the reading
// of lines under the length limits, the printed numbers, the order of pairs,
// Perl's generator and the script's interval arithmetic, and one evaluation
// end to end against figures the script printed. The differential tests in
// tests/python/companion compare whole reports with the script itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pool/worker_pool.hpp"
#include "engine/rouge155/evaluation.hpp"
#include "engine/statistics/perl_random.hpp"
#include "engine/statistics/script_resampling.hpp"
#include "scorer/rouge155/averages.hpp"
#include "scorer/rouge155/option_parser.hpp"
#include "scorer/rouge155/printed_numbers.hpp"
#include "scorer/rouge155/reading.hpp"
#include "scorer/rouge155/score_pair.hpp"
#include "scorer/rouge155/skip_bigram_hits.hpp"

namespace {

using namespace tallygrams::scorer::rouge155;
using tallygrams::engine::WorkerPool;

std::string names_of(const Options& options) {
    std::string out;
    for (const Measure& m : measures_of(options)) out += m.name + " ";
    return out;
}

// Each option string with the measures it asks for, or the start of its
// error.
TEST(Rouge155Options, ReadsTheScriptsFlagsAndRefusesMalformedOnes) {
    struct Case {
        const char* text;
        const char* expected;  // measure names, or "error: ..." prefix
    };
    const Case cases[] = {
        {"-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -a", "ROUGE-1 ROUGE-2 ROUGE-3 ROUGE-4 ROUGE-L ROUGE-W-1.2 ROUGE-S4 ROUGE-SU4 "},
        {"-n2 -x -mds", "ROUGE-1 ROUGE-2 "},
        {"-n 1 -n 2", "ROUGE-1 ROUGE-2 ROUGE-L "},
        {"-x -2 -1 -U", "ROUGE-S* ROUGE-SU* "},
        {"-x -2 04 -u -U", "ROUGE-SU04 "},
        {"-x -u", ""},
        {"-e /data -z SPL -a -n 1 -x --", "ROUGE-1 "},
        {"", "ROUGE-L "},
        {"-q", "error: unknown option -q"},
        {"-n", "error: option -n needs a value"},
        {"-n x", "error: -n takes a whole number"},
        {"-n 65", "error: -n takes a whole number"},
        {"-l 10 -b 100", "error: -l and -b cannot be given together"},
        {"-t 3", "error: -t takes 0, 1 or 2"},
        {"-f a", "error: -f takes A"},
        {"-p 1.5", "error: -p takes an alpha"},
        {"-c 100.5", "error: -c takes a confidence level"},
        {"-w 0", "error: -w takes a weight"},
        {"-r 0", "error: -r takes a number of resamples"},
        {"-3 HM", "error: -3 (Basic Elements) is not supported"},
        {"-M", "error: -M (stemming the references only)"},
        {"-v", "error: -v (the script's debugging output)"},
        {"-h", "error: -h and -H print the script's usage"},
        {"config.xml 1", "error: unexpected argument 'config.xml'"},
        {"-- -n 2", "error: unexpected argument '-n'"},
    };
    for (const Case& c : cases) {
        const ParsedOptions parsed = parse_options(c.text);
        const std::string got = parsed.error.empty() ? names_of(parsed.options) : "error: " + parsed.error;
        EXPECT_EQ(got.substr(0, std::string(c.expected).size()), c.expected) << c.text << " -> " << got;
    }
    const Options o = parse_options("-c 99.50 -r 7 -p 0.25 -f B -t 1 -l 30 -s -m -d").options;
    EXPECT_EQ(o.confidence_text, "99.50");
    EXPECT_EQ(o.confidence, 99.5);
    EXPECT_EQ(o.resamples, 7u);
    EXPECT_EQ(o.alpha, 0.25);
    EXPECT_EQ(o.formula, Formula::best);
    EXPECT_EQ(o.units, Units::tokens);
    EXPECT_EQ(o.word_limit, 30u);
    EXPECT_TRUE(o.remove_stop_words && o.stem && o.per_pair);
}

// The kept bytes of each line for the n-gram reading and for the sentence
// reading: "whole/kept|..." per line, lines past the last kept one left out.
std::string kept(std::string_view text, const char* options, bool sentences) {
    std::vector<KeptLine> lines(text.size() / 2 + 1);
    const size_t count = split_lines(text, lines.data());
    const size_t remaining = apply_limits(text, lines.data(), count, parse_options(options).options, sentences);
    std::string out;
    for (size_t i = 0; i < remaining; ++i) {
        out += std::to_string(lines[i].length) + "/" + std::to_string(lines[i].kept) + "|";
    }
    return out;
}

TEST(Rouge155Reading, CutsLinesAsTheScriptDoes) {
    struct Case {
        const char* text;
        const char* options;
        const char* tokens;     // the n-gram reading
        const char* sentences;  // the sentence reading
    };
    const Case cases[] = {
        // Empty lines are dropped; a line of white space or a lone \r is kept.
        {"a b\n\n\r\n  \nc", "", "3/3|1/1|2/2|1/1|", "3/3|1/1|2/2|1/1|"},
        // -l: three words fit, the line that reaches the limit is cut to it.
        {"a b c\nd e f", "-l 4", "5/5|5/1|", "5/5|5/1|"},
        // A line that would exactly reach the limit is cut too, to all of it.
        {"a b c\nd e f", "-l 3", "5/5|", "5/5|"},
        // A leading white space counts as an empty word.
        {" a b\nc", "-l 2", "4/2|", "4/2|"},
        // Bytes above 127 are not white space; \v is.
        {"a\xa0" "b c", "-l 1", "5/3|", "5/3|"},
        {"a\vb c", "-l 1", "5/1|", "5/1|"},
        // -b: the n-gram reading counts bytes across lines (not the joins);
        // the sentence reading measures each line on its own.
        {"abcd\nefgh\nijkl", "-b 10", "4/4|4/4|4/2|", "4/4|4/4|4/4|"},
        {"abcdefghij\nk", "-b 4", "10/4|", "10/4|"},
        {"abc\nabcdefgh\nz", "-b 5", "3/3|8/2|", "3/3|8/5|"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kept(c.text, c.options, false), c.tokens) << c.text << " " << c.options;
        EXPECT_EQ(kept(c.text, c.options, true), c.sentences) << c.text << " " << c.options;
    }
}

TEST(Rouge155Numbers, PrintAndReadBackAsPerlDoes) {
    EXPECT_EQ(format_fixed5(1.0 / 64), "0.01562");  // an exact tie goes to even
    EXPECT_EQ(format_fixed5(3.0 / 64), "0.04688");
    EXPECT_EQ(format_fixed5(1.0), "1.00000");
    EXPECT_EQ(format_fixed5(0.0), "0.00000");
    EXPECT_EQ(format_fixed5(12.5), "12.50000");
    EXPECT_EQ(format_fixed5(INFINITY), "    Inf");
    EXPECT_EQ(format_fixed5(NAN), "    NaN");
    EXPECT_EQ(fixed5(2.0 / 3), 0.66667);
    EXPECT_EQ(format_perl_number(12.0), "12");
    EXPECT_EQ(format_perl_number(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(format_perl_int(3.99), "3");
    // Against printf over many ratios of small counts, the values scores take.
    for (int a = 0; a <= 300; ++a) {
        for (int b = 1; b <= 300; ++b) {
            const double x = static_cast<double>(a) / b;
            char text[64];
            std::snprintf(text, sizeof text, "%7.5f", x);
            ASSERT_EQ(format_fixed5(x), text) << a << "/" << b;
            ASSERT_EQ(fixed5(x), std::strtod(text, nullptr)) << a << "/" << b;
        }
    }
}

TEST(Rouge155Order, FollowsTheKeysSortedAsText) {
    for (size_t pairs : {0, 1, 9, 10, 11, 12, 99, 100, 101, 1234}) {
        std::vector<size_t> expected(pairs);
        for (size_t i = 0; i < pairs; ++i) expected[i] = i;
        std::sort(expected.begin(), expected.end(), [](size_t a, size_t b) {
            return std::to_string(a + 1) + ".1" < std::to_string(b + 1) + ".1";
        });
        EXPECT_EQ(script_order(pairs), expected) << pairs;
    }
}

TEST(Rouge155Counts, SkipBigramCountsMatchTheScriptsLoops) {
    for (size_t n = 0; n < 30; ++n) {
        for (int64_t gap : {-1, 0, 1, 4, 40}) {
            for (bool unigrams : {false, true}) {
                uint64_t expected = 0;
                for (size_t i = 0; i + 1 < n; ++i) {
                    expected += unigrams;
                    for (size_t j = i + 1; j < n && (gap < 0 || j <= i + static_cast<size_t>(gap) + 1); ++j) ++expected;
                }
                EXPECT_EQ(skip_bigram_count(n, gap, unigrams), expected) << n << " " << gap;
            }
        }
    }
}

// The clipped skip-bigram hits, with and without a gap limit, against the
// multisets of pairs counted one by one.
TEST(Rouge155Counts, SkipBigramHitsMatchCountingEveryPair) {
    std::mt19937_64 rng(11);
    tallygrams::scorer::ScratchArena arena;
    for (int round = 0; round < 400; ++round) {
        const WordId distinct = 1 + static_cast<WordId>(rng() % 6);
        std::vector<WordId> p(rng() % 30), r(rng() % 30);
        for (WordId& w : p) w = static_cast<WordId>(rng() % distinct);
        for (WordId& w : r) w = static_cast<WordId>(rng() % (distinct + 1));  // `distinct`: absent
        const int64_t gap = static_cast<int64_t>(rng() % 6) - 1;
        const auto pairs = [&](const std::vector<WordId>& t) {
            std::map<std::pair<WordId, WordId>, uint64_t> out;
            for (size_t i = 0; i < t.size(); ++i) {
                for (size_t j = i + 1; j < t.size() && (gap < 0 || j - i <= static_cast<size_t>(gap) + 1); ++j) {
                    ++out[{t[i], t[j]}];
                }
            }
            return out;
        };
        uint64_t expected = 0;
        const auto in_r = pairs(r);
        for (const auto& [pair, count] : pairs(p)) {
            if (const auto found = in_r.find(pair); found != in_r.end()) expected += std::min(count, found->second);
        }
        const tallygrams::scorer::IdSequence<WordId> ps{p.data(), p.size(), nullptr, 0};
        const tallygrams::scorer::IdSequence<WordId> rs{r.data(), r.size(), nullptr, 0};
        ASSERT_EQ(skip_bigram_hits(ps, rs, distinct, gap, false, arena), expected) << round;
    }
}

// perl -e 'srand($s); print rand()' for these seeds.
TEST(Rouge155Random, ReproducesPerlsGenerator) {
    tallygrams::engine::PerlRandom zero(0);
    EXPECT_EQ(zero.next(), 0.17082803610628972);
    EXPECT_EQ(zero.next(), 0.74990198048496381);
    tallygrams::engine::PerlRandom seven(7);
    EXPECT_EQ(seven.next(), 0.2664441967654092);
    tallygrams::engine::PerlRandom late(999);
    EXPECT_EQ(late.next(), 0.10233439302919933);
}

// With one pair every resample holds the same value. With one resample the
// script's interval ends read one element past the sorted array, which Perl
// takes as 0, and interpolate with a negative fraction.
TEST(Rouge155Resampling, InterpolatesAsTheScript) {
    WorkerPool pool(2);
    const double row[3] = {0.5, 0.25, 0.75};
    tallygrams::engine::ScriptResampling settings;
    auto one = tallygrams::engine::resample_like_the_script(pool, row, 1, 3, settings);
    ASSERT_TRUE(one);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ((*one)[c].average, row[c]);
        EXPECT_EQ((*one)[c].low, row[c]);
        EXPECT_EQ((*one)[c].high, row[c]);
    }
    settings.resamples = 1;
    auto single = tallygrams::engine::resample_like_the_script(pool, row, 1, 3, settings);
    ASSERT_TRUE(single);
    EXPECT_EQ((*single)[0].low, 0.5 + (0 - 0.5) * (1 - 0.025 - 1 - 0));
    EXPECT_EQ((*single)[0].high, (*single)[0].low);
}

// The first pair of a small evaluation, with the figures the script printed
// for it (-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -a -m -d), and a pair whose only
// reference has no words, where the script's ROUGE-W divides by zero.
TEST(Rouge155Evaluation, GivesTheScriptsFiguresForAPair) {
    WorkerPool pool(2);
    const std::vector<std::string_view> predictions = {"Police killed the gunman.\nHe was 25-years old, with $500.\n",
                                                       "cat", "the cat sat on the mat\n"};
    const std::vector<std::string_view> references = {
        "The gunman killed the policeman.\n", "A gunman was killed by police!\nThe policemen were there\n",
        ",;\n", "a cat was sitting on a mat", "cats sit on mats"};
    const std::vector<size_t> first = {0, 2, 3, 5};
    const Options options = parse_options("-c 95 -2 4 -U -r 1000 -n 4 -w 1.2 -a -m -d").options;
    const auto evaluation = tallygrams::engine::evaluate_rouge155(pool, options, {predictions, references, first});
    ASSERT_TRUE(evaluation);
    const size_t m = evaluation->measures.size();
    ASSERT_EQ(m, 8u);
    const char* expected[8] = {"0.53333 0.36364 0.43243", "0.15385 0.10000 0.12121", "0.00000 0.00000 0.00000",
                               "0.00000 0.00000 0.00000", "0.33333 0.22727 0.27027", "0.22445 0.21424 0.21923",
                               "0.11111 0.06250 0.08000", "0.22414 0.13000 0.16456"};
    for (size_t k = 0; k < m; ++k) {
        const PairFigures& f = evaluation->figures[k];
        EXPECT_EQ(format_fixed5(f.recall) + " " + format_fixed5(f.precision) + " " + format_fixed5(f.f), expected[k])
            << evaluation->measures[k].name;
        const PairFigures& empty = evaluation->figures[m + k];
        EXPECT_EQ(empty.recall + empty.precision + empty.f, 0.0) << evaluation->measures[k].name;
    }
}

// A long pair gives way to a raised stop flag inside its LCS tables, and a
// lowered flag changes nothing.
TEST(Rouge155Evaluation, ALongPairStopsInsideItsTables) {
    const Options options = parse_options("-n 1 -w 1.2 -a").options;
    const std::vector<Measure> measures = measures_of(options);
    std::string prediction;
    std::string reference;
    for (int i = 0; i < 3000; ++i) {
        prediction += "w" + std::to_string(i % 97) + " ";
        reference += "w" + std::to_string(i * 7 % 97) + " ";
    }
    const std::string_view references[1] = {reference};
    tallygrams::scorer::ScratchArena run_arena;
    tallygrams::scorer::ScratchArena arena;
    Vocabulary vocabulary(options, (prediction.size() + reference.size()) / 2 + 5, run_arena, nullptr);
    std::vector<PairFigures> plain(measures.size());
    std::vector<PairFigures> quiet(measures.size());
    PairScorer(options, measures).score(prediction, references, vocabulary, arena, plain.data());
    const std::atomic<bool> lowered{false};
    PairScorer(options, measures, tallygrams::scorer::StopSignal(lowered))
        .score(prediction, references, vocabulary, arena, quiet.data());
    for (size_t k = 0; k < measures.size(); ++k) {
        EXPECT_EQ(quiet[k].recall, plain[k].recall) << measures[k].name;
        EXPECT_EQ(quiet[k].f, plain[k].f) << measures[k].name;
    }
    const std::atomic<bool> raised{true};
    EXPECT_THROW(PairScorer(options, measures, tallygrams::scorer::StopSignal(raised))
                     .score(prediction, references, vocabulary, arena, quiet.data()),
                 tallygrams::scorer::PairAbandoned);
}

}  // namespace
