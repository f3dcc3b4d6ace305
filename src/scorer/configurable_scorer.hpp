// Scoring a prediction against one or several references for any set of
// metrics (rouge_types.hpp), from tokenized texts (tokenized_text.hpp).
//
// Each reference is scored against the prediction on its own; per metric,
// the reference with the greatest F-measure wins, the first of equals, and
// its whole Score is the result. The prediction is numbered once for all
// references, each metric runs only if asked for, and a summary-sized pair
// works within the arena's inline buffer.
//
// Pure and reentrant, like score_pair: a broken precondition unwinds as an
// InternalFailure. A caller that hands in a StopSignal may see the pair
// abandoned as PairAbandoned (stop_signal.hpp).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "common/internal_failure.hpp"
#include "scorer/details/scratch_arena.hpp"
#include "scorer/metrics/lcs.hpp"
#include "scorer/metrics/ngram_levels.hpp"
#include "scorer/metrics/ngram_overlap.hpp"
#include "scorer/metrics/pair_counts.hpp"
#include "scorer/metrics/summary_lcs.hpp"
#include "scorer/numbering/numbered_texts.hpp"
#include "scorer/rouge_types.hpp"
#include "scorer/score_arithmetic.hpp"
#include "scorer/stop_signal.hpp"
#include "scorer/tokenizing/tokenized_text.hpp"

namespace tallygrams::scorer {

namespace detail {

// The running winner of one metric over the references, in order.
struct BestScore {
    Score score;  // never offered: the n-gram metrics' zero
    bool integer_zero = false;
    bool offered = false;

    void offer(const Score& candidate, bool candidate_integer_zero = false) noexcept {
        if (offered && !(candidate.fmeasure > score.fmeasure)) return;
        score = candidate;
        integer_zero = candidate_integer_zero;
        offered = true;
    }
};

template <class Id>
NumberedTokens<Id> whole_pair(const NumberedText<Id>& reference, const NumberedText<Id>& prediction, Id distinct) {
    return {reference.whole.ids, reference.whole.count, prediction.whole.ids, prediction.whole.count, distinct};
}

// Every n-gram metric with n >= 3, by advancing all texts level by level up
// to the largest n asked for.
template <class Id>
void score_long_ngrams(const RougeConfig& config, const NumberedTexts<Id>& texts, BestScore* best,
                       ScratchArena& arena) {
    constexpr size_t kNone = RougeConfig::kMaxTypes;
    size_t position_of[10];
    std::fill_n(position_of, 10, kNone);
    size_t deepest = 0;
    for (size_t k = 0; k < config.size(); ++k) {
        if (config[k].kind == RougeKind::ngram && config[k].n >= 3) {
            position_of[config[k].n] = k;
            deepest = std::max<size_t>(deepest, config[k].n);
        }
    }
    const size_t n_p = texts.prediction.whole.count;
    if (deepest == 0 || n_p < 3) return;  // no prediction n-grams: every score stays 0

    const ArenaScope scope(arena);
    const size_t text_count = texts.reference_count + 1;
    auto* grams = arena.allocate<GramText<Id>>(text_count);
    const auto start_text = [&](const IdSequence<Id>& whole) {
        Id* ids = arena.allocate<Id>(whole.count);
        std::copy_n(whole.ids, whole.count, ids);
        return GramText<Id>{ids, whole.ids, whole.count};
    };
    grams[0] = start_text(texts.prediction.whole);
    for (size_t r = 0; r < texts.reference_count; ++r) grams[r + 1] = start_text(texts.references[r].whole);

    Id bound = texts.distinct;
    for (size_t n = 2; n <= deepest && n <= n_p; ++n) {
        bound = advance_ngram_level<Id>(n, std::span<const GramText<Id>>(grams, text_count), bound, texts.distinct,
                                        arena);
        if (position_of[n] == kNone) continue;
        for (size_t r = 0; r < texts.reference_count; ++r) {
            const size_t n_r = grams[r + 1].token_count;
            Score score;
            if (n_r >= n) {
                const NumberedTokens<Id> pair{grams[r + 1].grams, n_r - n + 1, grams[0].grams, n_p - n + 1, bound};
                score = score_from_counts(unigram_overlap(pair, arena), n_p - n + 1, n_r - n + 1);
            }
            best[position_of[n]].offer(score);
        }
    }
}

template <class Id>
void score_configured(const RougeConfig& config, std::span<const TokenizedText> references,
                      const TokenizedText& prediction, Score* out, bool* integer_zeros, ScratchArena& arena,
                      StopSignal stop = {}) {
    ensure(!references.empty(), "scoring needs at least one reference");
    const ArenaScope scope(arena);
    const NumberedTexts<Id> texts =
        number_texts<Id>(references, prediction, config.needs_whole(), config.needs_sentences(), arena);
    const NumberedText<Id>& p = texts.prediction;

    // Unigram and bigram overlap and the LCS length come from one pass over
    // each pair (pair_counts.hpp), once per reference for every type that
    // reads them.
    CountsWanted wanted{false, false, false};
    for (size_t k = 0; k < config.size(); ++k) {
        wanted.unigrams |= config[k].kind == RougeKind::ngram && config[k].n == 1;
        wanted.bigrams |= config[k].kind == RougeKind::ngram && config[k].n == 2;
        wanted.lcs |= config[k].kind == RougeKind::lcs;
    }
    const bool counted = wanted.unigrams || wanted.bigrams || wanted.lcs;

    BestScore best[RougeConfig::kMaxTypes];
    for (size_t r = 0; r < texts.reference_count; ++r) {
        const NumberedText<Id>& ref = texts.references[r];
        const uint64_t n_r = ref.whole.count;
        const uint64_t n_p = p.whole.count;
        const PairCounts counts =
            counted ? pair_counts(whole_pair(ref, p, texts.distinct), arena, wanted, stop) : PairCounts{};
        for (size_t k = 0; k < config.size(); ++k) {
            const RougeType type = config[k];
            switch (type.kind) {
                case RougeKind::ngram:
                    if (type.n == 1) {
                        best[k].offer(n_r >= 1 && n_p >= 1 ? score_from_counts(counts.unigrams, n_p, n_r) : Score{});
                    } else if (type.n == 2) {
                        best[k].offer(n_r >= 2 && n_p >= 2 ? score_from_counts(counts.bigrams, n_p - 1, n_r - 1)
                                                           : Score{});
                    }
                    break;  // longer n-grams below, all at once
                case RougeKind::lcs:
                    if (n_r >= 1 && n_p >= 1) {
                        best[k].offer(score_from_counts(counts.lcs, n_p, n_r));
                    } else {
                        best[k].offer(Score{}, true);
                    }
                    break;
                case RougeKind::summary_lcs: {
                    const uint64_t m = ref.sentences.count;
                    const uint64_t n = p.sentences.count;
                    if (m >= 1 && n >= 1) {
                        const uint64_t hits = summary_lcs_hits(ref.sentences, p.sentences, texts.distinct, arena,
                                                               detail::kPackedWords, detail::kRowBudgetWords, stop);
                        best[k].offer(score_from_counts(hits, n, m));
                    } else {
                        best[k].offer(Score{}, true);
                    }
                    break;
                }
            }
        }
    }
    score_long_ngrams(config, texts, best, arena);

    for (size_t k = 0; k < config.size(); ++k) {
        out[k] = best[k].score;
        if (integer_zeros != nullptr) integer_zeros[k] = best[k].integer_zero;
    }
}

// Whether 32-bit ids and counts hold every text.
inline bool fits_narrow_ids(std::span<const TokenizedText> references, const TokenizedText& prediction) noexcept {
    constexpr size_t kLimit = std::numeric_limits<uint32_t>::max() / 2 - 64;
    const auto fits = [&](const TokenizedText& text) {
        return text.whole.token_count < kLimit && text.sentences.token_count < kLimit;
    };
    return fits(prediction) && std::all_of(references.begin(), references.end(), fits);
}

}  // namespace detail

// Scores `prediction` against `references` (at least one) for every metric
// of `config`, writing config.size() Scores to `out` in the config's order.
// Every text must carry the parts the config needs (RougeConfig::needs_whole,
// needs_sentences). If `integer_zeros` is given, it receives per metric
// whether rouge-score gives that result as the integers 0 rather than the
// floats 0.0: rougeL and rougeLsum do when either text of the winning pair
// has no tokens. `stop` is checked inside the metrics whose work grows with
// the product of the texts' lengths.
inline void score_tokenized(const RougeConfig& config, std::span<const TokenizedText> references,
                            const TokenizedText& prediction, Score* out, ScratchArena& arena,
                            bool* integer_zeros = nullptr, StopSignal stop = {}) {
    if (detail::fits_narrow_ids(references, prediction)) {
        detail::score_configured<uint32_t>(config, references, prediction, out, integer_zeros, arena, stop);
    } else {
        detail::score_configured<uint64_t>(config, references, prediction, out, integer_zeros, arena, stop);
    }
}

inline void score_tokenized(const RougeConfig& config, std::span<const TokenizedText> references,
                            const TokenizedText& prediction, Score* out, bool* integer_zeros = nullptr) {
    ScratchArena arena;
    score_tokenized(config, references, prediction, out, arena, integer_zeros);
}

inline void score_tokenized(const RougeConfig& config, const TokenizedText& reference,
                            const TokenizedText& prediction, Score* out, bool* integer_zeros = nullptr) {
    score_tokenized(config, std::span<const TokenizedText>(&reference, 1), prediction, out, integer_zeros);
}

}  // namespace tallygrams::scorer
