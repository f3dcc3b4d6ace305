// Every measure of one pair: its prediction against its references, each
// read, numbered and counted as the script does, then combined
// (pair_figures.hpp).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/summary_lcs.hpp"
#include "scorer/rouge155/lcs_hits.hpp"
#include "scorer/rouge155/ngram_hits.hpp"
#include "scorer/rouge155/options.hpp"
#include "scorer/rouge155/pair_figures.hpp"
#include "scorer/rouge155/skip_bigram_hits.hpp"
#include "scorer/rouge155/summary_words.hpp"
#include "scorer/rouge155/vocabulary.hpp"
#include "scorer/rouge155/weighted_lcs.hpp"
#include "scorer/stop_signal.hpp"

namespace tallygrams::scorer::rouge155 {

// Scores pairs one after another; holds what pairs can share (the numbering
// of each pair's words, ROUGE-W's powers). Not for concurrent use. With a
// `stop` that can stop, a long pair's LCS tables may throw PairAbandoned
// part-way (scorer/stop_signal.hpp).
class PairScorer {
public:
    PairScorer(const Options& options, std::span<const Measure> measures, StopSignal stop = {})
        : options_(options), measures_(measures), stop_(stop) {}

    // Writes one PairFigures per measure to `out`. `references` must not be
    // empty.
    void score(std::string_view prediction, std::span<const std::string_view> references, Vocabulary& vocabulary,
               ScratchArena& arena, PairFigures* out) {
        ensure(!references.empty(), "a pair without references");
        const ArenaScope scope(arena);
        const size_t refs = references.size();
        SummaryWords predicted = read_summary(prediction, options_, vocabulary, arena);
        SummaryWords* referenced = arena.allocate<SummaryWords>(refs);
        for (size_t r = 0; r < refs; ++r) referenced[r] = read_summary(references[r], options_, vocabulary, arena);

        numbering_.start_pair();
        renumber(predicted, [&](WordId w) { return numbering_.number(w); });
        const WordId distinct = numbering_.absent();
        for (size_t r = 0; r < refs; ++r) renumber(referenced[r], [&](WordId w) { return numbering_.look_up(w); });

        IdSequence<WordId>* reference_tokens = arena.allocate<IdSequence<WordId>>(refs);
        for (size_t r = 0; r < refs; ++r) reference_tokens[r] = referenced[r].tokens;
        ReferenceCounts* counts = arena.allocate<ReferenceCounts>(refs);

        size_t ngram_levels = 0;
        for (const Measure& m : measures_) ngram_levels += m.kind == MeasureKind::ngram;
        uint64_t* ngram_hits = arena.allocate<uint64_t>(ngram_levels * refs + 1);
        if (ngram_levels > 0) {
            count_ngram_hits(predicted.tokens, std::span(reference_tokens, refs), distinct,
                             static_cast<int>(ngram_levels), ngram_hits, arena);
        }

        uint64_t* skip_hits = arena.allocate<uint64_t>(refs);
        bool skip_hits_ready = false;
        for (size_t k = 0; k < measures_.size(); ++k) {
            const Measure& measure = measures_[k];
            double root = 0;
            switch (measure.kind) {
                case MeasureKind::ngram:
                    for (size_t r = 0; r < refs; ++r) {
                        const auto n = static_cast<size_t>(measure.n);
                        const double model = static_cast<double>(gram_count(referenced[r].tokens.count, n));
                        const double hits = static_cast<double>(ngram_hits[(n - 1) * refs + r]);
                        counts[r] = {model, static_cast<double>(gram_count(predicted.tokens.count, n)), hits,
                                     model != 0 ? fixed5(hits / model) : 0};
                    }
                    break;
                case MeasureKind::skip_bigram:
                    for (size_t r = 0; r < refs; ++r) {
                        const int64_t gap = *options_.skip_distance;
                        // ROUGE-S and ROUGE-SU share the pairs' hits; SU adds the unigrams'.
                        if (!skip_hits_ready) {
                            skip_hits[r] = skip_bigram_hits(predicted.tokens, referenced[r].tokens, distinct, gap,
                                                            false, arena);
                        }
                        uint64_t hits = skip_hits[r];
                        if (measure.with_unigrams) {
                            hits += skip_unigram_hits(predicted.tokens, referenced[r].tokens, distinct, arena);
                        }
                        const auto model = static_cast<double>(
                            skip_bigram_count(referenced[r].tokens.count, gap, measure.with_unigrams));
                        counts[r] = {model,
                                     static_cast<double>(
                                         skip_bigram_count(predicted.tokens.count, gap, measure.with_unigrams)),
                                     static_cast<double>(hits), model != 0 ? fixed5(static_cast<double>(hits) / model) : 0};
                    }
                    skip_hits_ready = true;
                    break;
                case MeasureKind::lcs:
                    for (size_t r = 0; r < refs; ++r) counts[r] = lcs_counts(predicted, referenced[r], distinct, arena);
                    break;
                case MeasureKind::weighted_lcs:
                    root = *options_.weight;
                    for (size_t r = 0; r < refs; ++r) {
                        counts[r] = weighted_lcs_counts(predicted, referenced[r], distinct, arena);
                    }
                    break;
            }
            out[k] = combine_references(counts, refs, options_.formula, options_.alpha, root);
        }
    }

private:
    static size_t gram_count(size_t tokens, size_t n) noexcept { return tokens >= n ? tokens - n + 1 : 0; }

    // Replaces the words of both readings by `to` of them (once where the
    // readings share their words).
    template <class To>
    static void renumber(SummaryWords& words, To&& to) {
        auto* tokens = const_cast<WordId*>(words.tokens.ids);
        for (size_t i = 0; i < words.tokens.count; ++i) tokens[i] = to(tokens[i]);
        if (words.sentences.ids == words.tokens.ids) return;
        auto* sentences = const_cast<WordId*>(words.sentences.ids);
        for (size_t i = 0; i < words.sentences.count; ++i) sentences[i] = to(sentences[i]);
    }

    // How many of each word a token reading holds, over ids 0 .. distinct.
    static uint32_t* word_counts(const IdSequence<WordId>& tokens, WordId distinct, ScratchArena& arena) {
        uint32_t* counts = arena.allocate_zeroed<uint32_t>(size_t{distinct} + 1);
        for (size_t i = 0; i < tokens.count; ++i) ++counts[tokens.ids[i]];
        return counts;
    }

    ReferenceCounts lcs_counts(const SummaryWords& predicted, const SummaryWords& reference, WordId distinct,
                               ScratchArena& arena) {
        const ArenaScope scope(arena);
        uint64_t* marks = arena.allocate_zeroed<uint64_t>(summary_lcs_mark_words(reference.sentences));
        mark_summary_lcs(reference.sentences, predicted.sentences, distinct, marks, arena,
                         scorer::detail::kPackedWords, scorer::detail::kRowBudgetWords, stop_);
        uint32_t* reference_left = word_counts(reference.tokens, distinct, arena);
        uint32_t* prediction_left = word_counts(predicted.tokens, distinct, arena);
        const auto hits = static_cast<double>(clipped_lcs_hits(reference.sentences, marks, reference_left, prediction_left));
        const auto base = static_cast<double>(reference.sentences.count);
        return {base, static_cast<double>(predicted.tokens.count), hits, base > 0 ? hits / base : 0};
    }

    ReferenceCounts weighted_lcs_counts(const SummaryWords& predicted, const SummaryWords& reference, WordId distinct,
                                        ScratchArena& arena) {
        const ArenaScope scope(arena);
        const double w = *options_.weight;
        const IdSequence<WordId>& r = reference.sentences;
        const IdSequence<WordId>& c = predicted.sentences;
        size_t longest = 0;
        for (size_t s = 0; s < r.sentence_count; ++s) longest = std::max(longest, r.sentence_ends[s] - r.sentence_start(s));
        for (size_t s = 0; s < c.sentence_count; ++s) longest = std::max(longest, c.sentence_ends[s] - c.sentence_start(s));
        const double* power = powers(longest + 1);

        uint64_t* marks = arena.allocate_zeroed<uint64_t>(ceil_div(r.count, 64) + 1);
        double base = 0;
        for (size_t s = 0; s < r.sentence_count; ++s) base += power[r.sentence_ends[s] - r.sentence_start(s)];
        // The union of marks does not depend on the order of sentence pairs.
        uint8_t* in_prediction = arena.allocate_zeroed<uint8_t>(size_t{distinct} + 1);
        for (size_t t = 0; t < c.sentence_count; ++t) {
            const WordId* sentence = c.ids + c.sentence_start(t);
            const size_t n = c.sentence_ends[t] - c.sentence_start(t);
            for (size_t j = 0; j < n; ++j) in_prediction[sentence[j]] = 1;
            for (size_t s = 0; s < r.sentence_count; ++s) {
                const size_t start = r.sentence_start(s);
                mark_weighted_lcs(r.ids + start, r.sentence_ends[s] - start, sentence, n, power, in_prediction, marks,
                                  start, arena, stop_);
            }
            for (size_t j = 0; j < n; ++j) in_prediction[sentence[j]] = 0;
        }
        uint32_t* reference_left = word_counts(reference.tokens, distinct, arena);
        uint32_t* prediction_left = word_counts(predicted.tokens, distinct, arena);
        const double hits = clipped_weighted_hits(r, marks, reference_left, prediction_left, power);
        // A reference without words: the script divides by zero here and
        // stops; it scores 0 instead.
        const double score = base != 0 ? std::pow(hits / base, 1 / w) : 0;
        return {std::pow(base, w), std::pow(static_cast<double>(predicted.tokens.count), w), hits, score};
    }

    // k^w for k = 0 .. up_to, computed once per scorer.
    const double* powers(size_t up_to) {
        while (power_.size() <= up_to) power_.push_back(std::pow(static_cast<double>(power_.size()), *options_.weight));
        return power_.data();
    }

    const Options& options_;
    std::span<const Measure> measures_;
    StopSignal stop_;
    PairNumbering numbering_;
    std::vector<double> power_;
};

}  // namespace tallygrams::scorer::rouge155
